// The message boxes both dialogs show: a refused entry and missing required data.
#pragma once

#include <QString>

class QLineEdit;
class QWidget;

namespace pullwire {

class FocusSteps;
class Desktop;

inline constexpr char kIncorrectValueTitle[] = "Incorrect Value";

// Tells the user why the value of `box` is refused ("Incorrect Value", information icon), then
// puts `reset_text` into the box and the focus back into it.
void RefuseEntry(Desktop& ui, FocusSteps& focus_steps, QLineEdit* box, const char* message,
                 const QString& reset_text);

// The beep, then "ATTENTION: Missing required data!" titled "MISSING DATA"; which field is
// missing is not said.
void ShowMissingData(Desktop& ui, QWidget* owner);

}  // namespace pullwire
