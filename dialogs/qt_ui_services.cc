// The desktop side of the dialogs: message boxes, beep, folder chooser and pop-up menu on Qt.
#include "dialogs/qt_ui_services.h"

#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPoint>

namespace pullwire {

void QtUiServices::ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                               MessageIcon icon) {
  const QMessageBox::Icon box_icon =
      icon == MessageIcon::kExclamation ? QMessageBox::Warning : QMessageBox::Information;
  QMessageBox box(box_icon, QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Ok, owner);
  // "<Port> must be ..." would otherwise be taken for rich text and lose its first word.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtUiServices::Beep() { QApplication::beep(); }

bool QtUiServices::ChooseFolder(QWidget* owner, const std::string& title,
                                const std::string& initial_folder, std::string* chosen) {
  // The native (GTK) chooser can hang without a desktop session; Qt's own is always there.
  const QString folder = QFileDialog::getExistingDirectory(
      owner, QString::fromStdString(title), QString::fromStdString(initial_folder),
      QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (folder.isEmpty()) return false;
  *chosen = folder.toStdString();
  return true;
}

QAction* QtUiServices::PopupMenu(QWidget* /*owner*/, QMenu* menu, const QPoint& position) {
  return menu->exec(position);
}

}  // namespace pullwire
