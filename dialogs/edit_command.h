// What Setup does with the editor once the record is in the settings: place it on the screen,
// fill it, show it modally, and report whether the user saved.
#pragma once

#include "plugin/module_state.h"

class QWidget;

namespace pullwire {

class UiServices;

// Places the editor at DialogTop/DialogLeft (twips, from the primary screen's top-left corner)
// after lowering DialogTop, in the module state, so that the editor, `dialog_height` twips high
// with its title bar, ends at least 400 twips above the bottom of a screen `screen_height` high.
void PositionCommandDialog(QWidget& dialog, ModuleState& state, int dialog_height, int screen_height);

// Creates the editor on state.Settings, places it on the primary screen, fills it and shows it
// modally. Returns true when the user saved: EditedRecord holds the record and EditedRecordCount
// is 24. A cancel, or closing the window, returns false and leaves both as they were. A QApplication
// must exist (EnsureQtApplication).
bool EditCommand(ModuleState& state, UiServices& ui);

}  // namespace pullwire
