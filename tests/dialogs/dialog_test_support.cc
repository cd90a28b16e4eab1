// Scripted UiServices and control descriptions for the dialogs tests.
#include "dialog_test_support.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

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

void ScriptedUiServices::ShowMessage(QWidget* box_owner, const std::string& text,
                                     const std::string& title, MessageIcon icon) {
  const char* kind = icon == MessageIcon::kExclamation ? "exclamation|" : "information|";
  messages.push_back(kind + title + "|" + text);
  events.push_back("message");
  owner = box_owner;
}

bool ScriptedUiServices::ChooseFolder(QWidget* chooser_owner, const std::string& title,
                                      const std::string& initial_folder, std::string* chosen) {
  folder_requests.push_back(title + " @ " + initial_folder);
  events.push_back("chooser");
  owner = chooser_owner;
  if (!folder_answer) return false;
  *chosen = *folder_answer;
  return true;
}

QAction* ScriptedUiServices::PopupMenu(QWidget* menu_owner, QMenu* menu, const QPoint& /*at*/) {
  events.push_back("menu");
  owner = menu_owner;
  focus_when_menu_opened = QApplication::focusWidget();
  menu_captions.clear();
  for (const QAction* item : menu->findChildren<QAction*>()) {
    if (item->objectName().contains(QLatin1String("ConstantsLC_")) ||
        item->objectName().contains(QLatin1String("ConstantsGC_"))) {
      menu_captions << item->text();
    }
  }
  if (menu_pick.isEmpty()) return nullptr;
  auto* picked = menu->findChild<QAction*>(menu_pick);
  if (picked == nullptr) throw std::runtime_error("no menu item " + menu_pick.toStdString());
  return picked;
}

QString CaptionOf(const QWidget* widget) {
  if (auto* box = qobject_cast<const QLineEdit*>(widget)) return box->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* frame = qobject_cast<const QGroupBox*>(widget)) return frame->title();
  return QStringLiteral("?");
}

std::string Look(const QWidget* root, const char* name) {
  const auto* widget = Child<QWidget>(root, name);
  std::string look;
  if (auto* box = qobject_cast<const QLineEdit*>(widget)) look = box->text().toStdString();
  if (auto* list = qobject_cast<const QComboBox*>(widget)) look = list->currentText().toStdString();
  if (auto* tick = qobject_cast<const QAbstractButton*>(widget); tick && tick->isCheckable()) {
    look = tick->isChecked() ? "on" : "off";
  }
  if (!widget->isEnabled()) look += look.empty() ? "disabled" : " disabled";
  return look;
}

void ExpectLooks(const QWidget* root, const Looks& looks) {
  for (const auto& [name, look] : looks) EXPECT_EQ(Look(root, name), look) << name;
}

void SetLooks(const QWidget* root, const Looks& looks) {
  for (const auto& [name, look] : looks) {
    auto* widget = Child<QWidget>(root, name);
    if (auto* box = qobject_cast<QLineEdit*>(widget)) box->setText(look);
    if (auto* list = qobject_cast<QComboBox*>(widget)) list->setCurrentIndex(list->findText(look));
    auto* button = qobject_cast<QAbstractButton*>(widget);
    if (button != nullptr && look == std::string("click")) button->click();
    if (button != nullptr && button->isCheckable()) button->setChecked(look == std::string("on"));
  }
}

}  // namespace pullwire::testing
