// The "Incorrect Value" and "MISSING DATA" boxes of the dialogs.
#include "dialogs/dialog_messages.h"

#include <QLineEdit>

#include "dialogs/desktop.h"
#include "dialogs/focus_steps.h"

namespace pullwire {

void RefuseEntry(Desktop& ui, FocusSteps& focus_steps, QLineEdit* box, const char* message,
                 const QString& reset_text) {
  ui.ShowMessage(box->window(), message, kIncorrectValueTitle, MessageIcon::kInformation);
  box->setText(reset_text);
  focus_steps.RefuseValue(box);
}

void ShowMissingData(Desktop& ui, QWidget* owner) {
  ui.Beep();
  ui.ShowMessage(owner, "ATTENTION: Missing required data!", "MISSING DATA",
                 MessageIcon::kInformation);
}

}  // namespace pullwire
