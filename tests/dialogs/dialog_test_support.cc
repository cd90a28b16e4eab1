// Scripted UiServices and user-like widget driving for the dialogs tests.
#include "dialog_test_support.h"

#include <memory>

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace pullwire::testing {

CommandSettings CompleteCommand() {
  CommandSettings settings;
  settings.Host = "ftp.example.org";
  settings.Username = "anna";
  settings.Password = "s3cret";
  settings.TransferMode = 1;
  settings.RemoteDir = "/pub";
  settings.LocalDir = "/srv/in";
  return settings;
}

void ScriptedUiServices::ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                                     MessageIcon icon) {
  messages.push_back({text, title, icon, owner});
  events.push_back("message");
  if (while_message_open) while_message_open();
}

void ScriptedUiServices::Beep() { events.push_back("beep"); }

bool ScriptedUiServices::ChooseFolder(QWidget* owner, const std::string& title,
                                      const std::string& initial_folder, std::string* chosen) {
  folder_requests.push_back({owner, title, initial_folder});
  events.push_back("chooser");
  if (!folder_answer) return false;
  *chosen = *folder_answer;
  return true;
}

QAction* ScriptedUiServices::PopupMenu(QWidget* owner, QMenu* menu, const QPoint& /*position*/) {
  events.push_back("menu");
  menu_owner = owner;
  focus_when_menu_opened = QApplication::focusWidget();
  QStringList captions;
  for (const QAction* item : menu->findChildren<QAction*>()) {
    if (item->objectName().contains(QLatin1String("ConstantsLC_")) ||
        item->objectName().contains(QLatin1String("ConstantsGC_"))) {
      captions << item->text();
    }
  }
  menu_captions.push_back(captions);
  if (menu_pick.isEmpty()) return nullptr;
  auto* picked = menu->findChild<QAction*>(menu_pick);
  if (picked == nullptr) throw std::runtime_error("the menu has no item " + menu_pick.toStdString());
  return picked;
}

bool ShowActive(QWidget* window) {
  window->show();
  window->activateWindow();
  return QTest::qWaitForWindowActive(window, 5000);
}

void TypeReplacing(QLineEdit* box, const QString& text) {
  box->setFocus(Qt::TabFocusReason);
  box->selectAll();
  if (text.isEmpty()) {
    QTest::keyClick(box, Qt::Key_Delete);
  } else {
    QTest::keyClicks(box, text);
  }
}

void PressTab() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); }

void AnswerModal(std::function<void(QWidget*)> answer, bool popup, int timeout_ms) {
  auto* timer = new QTimer(qApp);
  const QDeadlineTimer deadline(timeout_ms);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, answer, popup, deadline] {
    QPointer<QWidget> window = popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
    if (window == nullptr || !window->isVisible()) {
      if (deadline.hasExpired()) timer->deleteLater();
      return;
    }
    timer->stop();
    timer->deleteLater();
    answer(window);
    if (window != nullptr && window->isVisible()) window->close();
  });
  timer->start();
}

}  // namespace pullwire::testing
