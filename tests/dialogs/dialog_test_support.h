// Test support for the dialogs: UiServices with scripted answers, and helpers that drive widgets
// the way a user does.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialogs/command_dialog.h"
#include "dialogs/desktop.h"
#include "module/module_state.h"

class QLineEdit;

// Readable QStrings in gtest failure messages (found by argument-dependent lookup).
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace pullwire {
inline void PrintTo(MessageIcon icon, std::ostream* out) {
  *out << (icon == MessageIcon::kExclamation ? "exclamation" : "information");
}
}  // namespace pullwire

namespace pullwire::testing {

struct ShownMessage {
  std::string text;
  std::string title;
  MessageIcon icon;
  QWidget* owner;
};

inline void PrintTo(const ShownMessage& message, std::ostream* out) {
  *out << '"' << message.text << "\" titled \"" << message.title << '"';
}

// A message box with this text, title and icon.
inline auto MessageIs(const std::string& text, const std::string& title, MessageIcon icon) {
  return ::testing::AllOf(::testing::Field("text", &ShownMessage::text, text),
                          ::testing::Field("title", &ShownMessage::title, title),
                          ::testing::Field("icon", &ShownMessage::icon, icon));
}
// The box of a refused port or time-out.
inline auto IncorrectValue(const std::string& text) {
  return MessageIs(text, "Incorrect Value", MessageIcon::kInformation);
}
// The editor's warning when ZIP meets "Include Subdirectories".
inline auto ZipWarning() {
  return MessageIs("NOTE: ZIP-mode can't be selected with the Include-Subdirectories option!",
                   "Warning", MessageIcon::kExclamation);
}
// The box of "&Ok" without the required data (after a beep).
inline auto MissingData() {
  return MessageIs("ATTENTION: Missing required data!", "MISSING DATA", MessageIcon::kInformation);
}

struct FolderRequest {
  QWidget* owner;
  std::string title;
  std::string initial_folder;
};

// Records every box, beep, chooser and menu, and answers them from the script fields.
class ScriptedUiServices final : public Desktop {
 public:
  using Desktop::ShowMessage;
  void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                   MessageIcon icon) override;
  void Beep() override;
  bool ChooseFolder(QWidget* owner, const std::string& title, const std::string& initial_folder,
                    std::string* chosen) override;
  QAction* PopupMenu(QWidget* owner, QMenu* menu, const QPoint& position) override;

  // Script.
  std::optional<std::string> folder_answer;  // nullopt: the user cancels the chooser
  QString menu_pick;                         // objectName of the item to pick; empty: Escape
  std::function<void()> while_message_open;

  // Record.
  std::vector<ShownMessage> messages;
  std::vector<std::string> events;  // "beep", "message", "chooser", "menu" in order
  std::vector<FolderRequest> folder_requests;
  std::vector<QStringList> menu_captions;  // the constant captions each time the menu showed
  QWidget* menu_owner = nullptr;
  QWidget* focus_when_menu_opened = nullptr;
};

// The child of `root` named `name`; throws (failing the test) when there is none.
template <class T>
T* Child(const QWidget* root, const char* name) {
  T* child = root->findChild<T*>(QLatin1String(name));
  if (child == nullptr) throw std::runtime_error(std::string("no child named ") + name);
  return child;
}

// Shows `window` and waits (bounded) until it is the active window, so focus moves send events.
bool ShowActive(QWidget* window);
// Puts the focus into `box` as Tab would and replaces its whole text by typing `text`.
void TypeReplacing(QLineEdit* box, const QString& text);
// Presses Tab in the focused widget.
void PressTab();

// Answers the next modal window (or, with `popup`, the next pop-up menu) once it is up: calls
// `answer` with it, then closes it if `answer` left it open. Gives up after `timeout_ms`, so a
// window that never comes leaves nothing behind and a test never hangs on one that does.
void AnswerModal(std::function<void(QWidget*)> answer, bool popup = false, int timeout_ms = 5000);

// A command that passes the editor's required-data test.
CommandSettings CompleteCommand();

// A dialog on its own module state, answered by a scripted UiServices.
template <class Dialog>
class DialogTest : public ::testing::Test {
 protected:
  template <class T>
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
  // Creates the editor without filling it (the initial state).
  void Create() { dialog_ = std::make_unique<frmCommandPullwire>(state_, ui_); }
  // Creates and fills it from state_.Settings, as Setup does.
  void Open() {
    Create();
    dialog_->FillCommandDialog();
  }
  // Opens it shown and active, so that focus moves send their events.
  void OpenActive() {
    Open();
    ASSERT_TRUE(ShowActive(dialog_.get()));
  }
  // Starts over for the next case of a table: the editor closed, a fresh module state holding
  // `settings`, nothing answered yet, the editor open and active again.
  void Restart(const CommandSettings& settings = {}) {
    dialog_.reset();
    state_ = ModuleState{};
    ui_ = ScriptedUiServices{};
    settings_ = settings;
    OpenActive();
  }
};

}  // namespace pullwire::testing
