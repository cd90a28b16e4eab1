// Test support for the dialogs: UiServices with scripted answers, controls described for tables.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

#include <gtest/gtest.h>

#include "dialogs/command_dialog.h"
#include "dialogs/desktop.h"
#include "module/command_record.h"
#include "module/module_state.h"
#include "qt_driving.h"

// Readable QStrings in gtest failure messages (found by argument-dependent lookup).
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace pullwire {
// Settings in failure messages as the record the editor would save.
inline void PrintTo(const CommandSettings& settings, std::ostream* out) {
  ModuleState state;
  EncodeEditedRecord(settings, state);
  *out << ::testing::PrintToString(*state.EditedRecord);
}
}  // namespace pullwire

namespace pullwire::testing {

// The boxes as ScriptedUiServices records them: "icon|title|text".
inline std::string Refused(const std::string& text) {
  return "information|Incorrect Value|" + text;
}
inline const std::string kPortRefused = Refused("<Port> must be a positive numerical value!");
inline const std::string kZipWarning =
    "exclamation|Warning|NOTE: ZIP-mode can't be selected with the Include-Subdirectories option!";
inline const std::string kMissingData =
    "information|MISSING DATA|ATTENTION: Missing required data!";

// A command that passes the editor's required-data test.
inline const CommandSettings kCompleteCommand = {
    .Host = "ftp.example.org", .Username = "anna", .Password = "s3cret", .TransferMode = 1,
    .RemoteDir = "/pub", .LocalDir = "/srv/in"};

// Records every box, beep, chooser and menu, and answers them from the script fields.
class ScriptedUiServices final : public Desktop {
 public:
  using Desktop::ShowMessage;
  void ShowMessage(QWidget* box_owner, const std::string& text, const std::string& title,
                   MessageIcon icon) override {
    events.push_back((icon == MessageIcon::kExclamation ? "exclamation|" : "information|") +
                     title + "|" + text);
    owner = box_owner;
  }
  void Beep() override { events.push_back("beep"); }
  bool ChooseFolder(QWidget* chooser_owner, const std::string& title,
                    const std::string& initial_folder, std::string* chosen) override {
    events.push_back("chooser " + title + " @ " + initial_folder);
    owner = chooser_owner;
    if (folder_answer) *chosen = *folder_answer;
    return folder_answer.has_value();
  }
  QAction* PopupMenu(QWidget* menu_owner, QMenu* menu, const QPoint& /*at*/) override {
    events.push_back("menu");
    owner = menu_owner;
    auto* picked = menu->findChild<QAction*>(menu_pick);
    if (picked == nullptr) throw std::runtime_error("no menu item " + menu_pick.toStdString());
    events.back() += " " + picked->text().toStdString();
    return picked;
  }

  std::optional<std::string> folder_answer;  // nullopt: the user cancels the chooser
  QString menu_pick;                         // objectName of the item to pick

  // In order: "beep", the boxes, "chooser <title> @ <initial folder>", "menu <item picked>".
  std::vector<std::string> events;
  QWidget* owner = nullptr;  // of the last box, chooser or menu
};

// A control's caption (a box's text, a list's items joined by "|"), then its tip in brackets.
inline QString CaptionOf(const QWidget* widget) {
  QString caption;
  if (auto* box = qobject_cast<const QLineEdit*>(widget)) caption = box->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) caption = button->text();
  if (auto* label = qobject_cast<const QLabel*>(widget)) caption = label->text();
  if (auto* frame = qobject_cast<const QGroupBox*>(widget)) caption = frame->title();
  if (auto* list = qobject_cast<const QComboBox*>(widget)) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    caption = items.join('|');
  }
  if (!widget->toolTip().isEmpty()) caption += " [" + widget->toolTip() + "]";
  return caption;
}

// How a control looks to the user: a box's or list's text, "on"/"off" for ticks and options, then
// "disabled" when greyed out (a frame or picture shows only that).
inline std::string Look(const QWidget* root, const char* name) {
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
using Looks = std::vector<std::pair<const char*, const char*>>;
inline void ExpectLooks(const QWidget* root, const Looks& looks) {
  for (const auto& [name, look] : looks) EXPECT_EQ(Look(root, name), look) << name;
}
// Makes each named control look as given, as a program would (no focus moves); "click" clicks.
inline void SetLooks(const QWidget* root, const Looks& looks) {
  for (const auto& [name, look] : looks) {
    auto* widget = Child<QWidget>(root, name);
    if (auto* box = qobject_cast<QLineEdit*>(widget)) box->setText(look);
    if (auto* list = qobject_cast<QComboBox*>(widget)) list->setCurrentIndex(list->findText(look));
    auto* button = qobject_cast<QAbstractButton*>(widget);
    if (button != nullptr && look == std::string("click")) button->click();
    if (button != nullptr && button->isCheckable()) button->setChecked(look == std::string("on"));
  }
}

// Out of the template below: gcc 12 fails on ModuleState's assignment inside it.
inline void Reset(ModuleState& state) { state = ModuleState{}; }

// A dialog on its own module state, answered by a scripted UiServices.
template <class Dialog>
class DialogTest : public ::testing::Test {
 protected:
  // Starts over on a fresh module state holding `settings`, the dialog loaded (the editor filled);
  // `active`: shown and active, so that focus moves send their events.
  void Open(const CommandSettings& settings = {}, bool active = true) {
    dialog_.reset();
    Reset(state_);
    ui_ = ScriptedUiServices{};
    settings_ = settings;
    if constexpr (std::is_same_v<Dialog, frmCommandPullwire>) {
      dialog_ = std::make_unique<Dialog>(state_, ui_);
      dialog_->FillCommandDialog();
    } else {
      dialog_ = std::make_unique<Dialog>(settings_, ui_, popup_);
    }
    if (active) {
      ASSERT_TRUE(ShowActive(dialog_.get()));
    }
  }
  template <class T = QWidget>
  T* Get(const char* name) const {
    return Child<T>(dialog_.get(), name);
  }

  ModuleState state_;
  CommandSettings& settings_ = state_.Settings;
  ScriptedUiServices ui_;
  frmPopUp popup_{state_};
  std::unique_ptr<Dialog> dialog_;
};
using CommandDialogTest = DialogTest<frmCommandPullwire>;

}  // namespace pullwire::testing
