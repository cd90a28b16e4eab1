// Setup's editor: placement in twips, fill, modal show.
#include "dialogs/edit_command.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include "dialogs/command_dialog.h"
#include "dialogs/twips.h"

namespace pullwire {
namespace {

// The editor's height with its title bar. The window manager adds the title bar only once the
// window is shown; the style's title-bar height stands in for it.
int EditorHeightTwips(const TwipsScale& scale) {
  return kCommandClientHeightTwips + scale.ToTwipsY(QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight));
}

}  // namespace

void LowerDialogTop(ModuleState& state) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const TwipsScale scale = TwipsScale::Of(screen);
  state.DialogTop = PlaceDialogTop(state.DialogTop, EditorHeightTwips(scale),
                                   scale.ToTwipsY(screen->geometry().height()));
}

void MoveToDialogPosition(QWidget& dialog, const ModuleState& state) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const TwipsScale scale = TwipsScale::Of(screen);
  const QPoint origin = screen != nullptr ? screen->geometry().topLeft() : QPoint();
  const int left = state.DialogLeft.value_or(0);
  dialog.move(origin + QPoint(scale.ToPixelsX(left), scale.ToPixelsY(state.DialogTop)));
}

bool EditCommand(ModuleState& state, Desktop& ui) {
  LowerDialogTop(state);
  frmCommandPullwire dialog(state, ui);
  MoveToDialogPosition(dialog, state);
  dialog.FillCommandDialog();
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace pullwire
