// Test support for the dialogs: UiServices with scripted answers, and controls described
// compactly for tables.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <QString>
#include <QWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialogs/command_dialog.h"
#include "dialogs/desktop.h"
#include "qt_driving.h"
#include "module/command_record.h"
#include "module/module_state.h"

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

// Records every box, beep, chooser and menu, and answers them from the script fields.
class ScriptedUiServices final : public Desktop {
 public:
  using Desktop::ShowMessage;
  void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                   MessageIcon icon) override;
  void Beep() override { events.push_back("beep"); }
  bool ChooseFolder(QWidget* owner, const std::string& title, const std::string& initial_folder,
                    std::string* chosen) override;
  QAction* PopupMenu(QWidget* owner, QMenu* menu, const QPoint& position) override;

  // Script.
  std::optional<std::string> folder_answer;  // nullopt: the user cancels the chooser
  QString menu_pick;                         // objectName of the item to pick; empty: Escape

  // Record.
  std::vector<std::string> messages;
  std::vector<std::string> events;           // "beep", "message", "chooser", "menu" in order
  std::vector<std::string> folder_requests;  // "title @ initial folder"
  QWidget* owner = nullptr;                  // of the last box, chooser or menu
  QStringList menu_captions;                 // the constant captions when the menu last showed
  QWidget* focus_when_menu_opened = nullptr;
};

// A control's caption: a box's text, a button's, label's or frame's title.
QString CaptionOf(const QWidget* widget);
// How a control looks to the user: a box's or list's text, "on"/"off" for ticks and options, then
// "disabled" when greyed out (a frame or picture shows only that).
std::string Look(const QWidget* root, const char* name);
using Looks = std::vector<std::pair<const char*, const char*>>;
// Each named control of `root` looks as given.
void ExpectLooks(const QWidget* root, const Looks& looks);
// Makes each named control look as given, as a program would (no focus moves): ticks and options
// "on"/"off", a box's text, a list's item by its text; "click" clicks a button.
void SetLooks(const QWidget* root, const Looks& looks);

// A command that passes the editor's required-data test.
CommandSettings CompleteCommand();

// A dialog on its own module state, answered by a scripted UiServices.
template <class Dialog>
class DialogTest : public ::testing::Test {
 protected:
  template <class T = QWidget>
  T* Get(const char* name) const {
    return Child<T>(dialog_.get(), name);
  }

  ModuleState state_;
  CommandSettings& settings_ = state_.Settings;
  ScriptedUiServices ui_;
  std::unique_ptr<Dialog> dialog_;
};

class CommandDialogTest : public DialogTest<frmCommandPullwire> {
 protected:
  // Starts over (for each case of a table): the editor closed, a fresh module state holding
  // `settings`, nothing answered yet, then the editor created and, unless `fill` is false,
  // filled as Setup does; `active`: shown and active, so that focus moves send their events.
  void Open(const CommandSettings& settings = {}, bool active = true, bool fill = true) {
    dialog_.reset();
    state_ = ModuleState{};
    ui_ = ScriptedUiServices{};
    settings_ = settings;
    dialog_ = std::make_unique<frmCommandPullwire>(state_, ui_);
    if (fill) dialog_->FillCommandDialog();
    if (active) {
      ASSERT_TRUE(ShowActive(dialog_.get()));
    }
  }
};

}  // namespace pullwire::testing
