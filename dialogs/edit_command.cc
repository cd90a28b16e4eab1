// Setup's editor: placement in twips, fill, modal show.
#include "dialogs/edit_command.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "dialogs/command_dialog.h"
#include "dialogs/twips.h"

namespace pullwire {

void PositionCommandDialog(QWidget& dialog, ModuleState& state, int dialog_height, int screen_height) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const TwipsScale scale = TwipsScale::Of(screen);
  state.DialogTop = PlaceDialogTop(state.DialogTop, dialog_height, screen_height);
  const QPoint origin = screen != nullptr ? screen->geometry().topLeft() : QPoint();
  const int left = state.DialogLeft.value_or(0);
  dialog.move(origin + QPoint(scale.ToPixelsX(left), scale.ToPixelsY(state.DialogTop)));
}

bool EditCommand(ModuleState& state, UiServices& ui) {
  frmCommandPullwire dialog(state, ui);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const TwipsScale scale = TwipsScale::Of(screen);
    PositionCommandDialog(dialog, state, WindowHeightTwips(dialog, scale),
                          scale.ToTwipsY(screen->geometry().height()));
  }
  dialog.FillCommandDialog();
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace pullwire
