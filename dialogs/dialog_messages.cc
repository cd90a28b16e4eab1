// The "Incorrect Value" and "MISSING DATA" boxes of the dialogs.
#include "dialogs/dialog_messages.h"

#include <QLineEdit>

#include "dialogs/focus_steps.h"
#include "module/ui_services.h"

namespace pullwire {

void RefuseEntry(UiServices& ui, FocusSteps& focus_steps, QLineEdit* box, const char* message,
                 const QString& reset_text) {
  ui.ShowMessage(box->window(), message, kIncorrectValueTitle, MessageIcon::kInformation);
  box->setText(reset_text);
  focus_steps.RefuseValue(box);
}

void ShowMissingData(UiServices& ui, QWidget* owner) {
  ui.Beep();
  ui.ShowMessage(owner, "ATTENTION: Missing required data!", "MISSING DATA",
                 MessageIcon::kInformation);
}

}  // namespace pullwire
