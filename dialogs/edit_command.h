// What Setup does with the editor: lower DialogTop so the editor fits the screen, then fill the
// editor, show it modally at DialogTop/DialogLeft, and report whether the user saved.
#pragma once

#include "module/module_state.h"

class QWidget;

namespace pullwire {

class Desktop;

// Lowers DialogTop, in the module state, so that the editor ends at least 400 twips above the
// bottom of the primary screen. A QApplication must exist.
void LowerDialogTop(ModuleState& state);

// Moves `dialog` to DialogLeft/DialogTop: twips from the primary screen's top-left corner.
void MoveToDialogPosition(QWidget& dialog, const ModuleState& state);

// Creates the editor on state.Settings, lowers DialogTop and places the editor there, fills it
// and shows it modally. Returns true when the user saved: EditedRecord holds the record and
// EditedRecordCount is 24. A cancel, or closing the window, returns false and leaves both as they
// were. A QApplication must exist (EnsureQtApplication).
bool EditCommand(ModuleState& state, Desktop& ui);

}  // namespace pullwire
