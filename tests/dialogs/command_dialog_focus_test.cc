// The command editor's focus entry and loss steps, the port and time-out checks, the required-data
// test, the save and the cancel, driven through a shown, active window.
#include <array>
#include <string_view>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "dialog_test_support.h"

namespace pullwire::testing {
namespace {

const std::string kPortRefused = Refused("<Port> must be a positive numerical value!");
const std::string kTimeoutRefused = Refused("<Timeout> must be between 1 and 999!");

// Waits (bounded) until `condition` holds, letting timers such as an access key's run.
template <class Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 100 && !condition(); ++i) QTest::qWait(10);
  return condition();
}

class CommandDialogFocusTest : public CommandDialogTest {
 protected:
  // Types `text` into the box and leaves it with Tab.
  void EnterAndLeave(const char* box, const QString& text) {
    TypeReplacing(Get<QLineEdit>(box), text);
    PressTab();
  }
};

TEST_F(CommandDialogFocusTest, PortAndTimeoutAreCheckedWhenLeft) {
  const struct {
    const char* box;
    std::vector<const char*> refused;
    std::vector<std::pair<const char*, int>> taken;  // typed, stored
  } boxes[] = {
      {"txtPort", {"", "0", "-5", "abc", "0.5", "9e9"},
       {{"21.5", 22}, {"1.4", 1}, {"999", 999}, {" 80 ", 80}, {"2121", 2121}}},
      {"txtTimeout", {"", "0", "-5", "abc", "0.5", "1e3"},
       {{"999", 999}, {"1.4", 1}, {"1", 1}, {"2.5", 2}}},
  };
  for (const auto& [name, refused, taken] : boxes) {
    const bool port = std::string_view(name) == "txtPort";
    const auto stored = [&] { return port ? settings_.Port : settings_.Timeout; };
    for (const char* typed : refused) {
      SCOPED_TRACE(std::string(name) + " '" + typed + "'");
      Open();
      EnterAndLeave(name, typed);
      auto* box = Get<QLineEdit>(name);
      EXPECT_EQ(ui_.messages, std::vector{port ? kPortRefused : kTimeoutRefused});
      EXPECT_EQ(box->selectedText(), port ? "21" : "30");
      EXPECT_EQ(stored(), port ? 21 : 30);
      EXPECT_EQ(QApplication::focusWidget(), box);
      // The time-out box only flickered through the focus: its loss step did not run.
      EXPECT_EQ(settings_.Timeout, port ? 0 : 30);
    }
    for (const auto& [typed, value] : taken) {
      SCOPED_TRACE(std::string(name) + " '" + typed + "'");
      Open();
      EnterAndLeave(name, typed);
      EXPECT_EQ(Get<QLineEdit>(name)->text(), typed);
      EXPECT_EQ(stored(), value);
      EXPECT_TRUE(ui_.messages.empty());
      EXPECT_EQ(QApplication::focusWidget(), Get(port ? "txtTimeout" : "cmbMode"));
    }
  }
}

TEST_F(CommandDialogFocusTest, EnteringPortTimeoutAndFilterSelectsTheirText) {
  Open({.Filter = "*.txt"});
  // The first box is entered when the dialog opens.
  ASSERT_EQ(QApplication::focusWidget(), Get("txtHost"));
  for (const char* name : {"txtPort", "txtTimeout", "txtFilter"}) {
    auto* box = Get<QLineEdit>(name);
    box->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(box->selectionStart(), 0) << name;
    EXPECT_EQ(box->selectedText(), box->text()) << name;
  }
  // A click puts the caret where it lands; the entry step selects the whole text after it.
  auto* port = Get<QLineEdit>("txtPort");
  QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, QPoint(2, port->height() / 2));
  EXPECT_TRUE(WaitFor([port] { return port->selectedText() == port->text(); }));
  // Other boxes keep the caret where the user put it.
  auto* host = Get<QLineEdit>("txtHost");
  host->setText("host");
  host->setCursorPosition(2);
  host->setFocus(Qt::OtherFocusReason);
  EXPECT_FALSE(host->hasSelectedText());
  EXPECT_EQ(host->cursorPosition(), 2);
}

TEST_F(CommandDialogFocusTest, TextBoxesAreStoredWhenLeft) {
  using S = CommandSettings;
  const struct {
    const char* box;
    std::string S::*field;
    std::vector<std::pair<const char*, const char*>> typed_stored;  // also shown
  } cases[] = {
      {"txtHost", &S::Host, {{"  ftp.example.org ", "  ftp.example.org "}}},
      {"txtUsername", &S::Username, {{" anna", " anna"}}},
      {"txtPassword", &S::Password, {{"pa ss ", "pa ss "}}},
      {"txtLocalDir", &S::LocalDir, {{"/srv/in ", "/srv/in "}}},
      {"txtFilter", &S::Filter, {{"", "*"}, {"*.csv; *.txt", "*.csv; *.txt"}}},
      // The remote folder loses one trailing separator each time.
      {"txtRemoteDir", &S::RemoteDir,
       {{"/", "/"}, {"\\", "\\"}, {"/pub/", "/pub"}, {"C:\\in\\", "C:\\in"}, {"/pub//", "/pub/"},
        {"/pub/\\", "/pub/"}, {"", ""}, {"a/", "a"}}},
  };
  Open();
  for (const auto& [box, field, typed_stored] : cases) {
    for (const auto& [typed, stored] : typed_stored) {
      SCOPED_TRACE(std::string(box) + " '" + typed + "'");
      EnterAndLeave(box, typed);
      EXPECT_EQ(Get<QLineEdit>(box)->text(), stored);
      EXPECT_EQ(settings_.*field, stored);
    }
  }
}

// A refused port shows the corrected box first; Ok right after typing takes the typed text.
TEST_F(CommandDialogFocusTest, OkChecksTheBoxBeingEditedAndTakesItsText) {
  for (const bool by_access_key : {true, false}) {
    SCOPED_TRACE(by_access_key ? "Alt+O" : "mouse");
    const auto ok = [&] {
      if (by_access_key) {
        QTest::keyClick(dialog_.get(), Qt::Key_O, Qt::AltModifier);
        QTest::qWait(200);  // the access key's click comes after a short press animation
      } else {
        QTest::mouseClick(Get<QPushButton>("cmdSave"), Qt::LeftButton);
      }
    };
    Open(CompleteCommand());
    auto* port = Get<QLineEdit>("txtPort");
    TypeReplacing(port, "0");
    ok();
    EXPECT_EQ(ui_.messages, std::vector{kPortRefused});
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(state_.EditedRecordCount, 0);
    EXPECT_EQ(port->text(), "21");
    EXPECT_EQ(settings_.Port, 21);
    EXPECT_EQ(QApplication::focusWidget(), port);

    TypeReplacing(Get<QLineEdit>("txtHost"), "typed.example.org");
    ASSERT_EQ(settings_.Host, "ftp.example.org");
    ok();
    ASSERT_TRUE(WaitFor([this] { return !dialog_->isVisible(); }));
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_EQ(settings_.Host, "typed.example.org");
    EXPECT_EQ(state_.EditedRecordCount, 24);
    ASSERT_TRUE(state_.EditedRecord.has_value());
    EXPECT_EQ((*state_.EditedRecord)[1], "typed.example.org");
    EXPECT_EQ((*state_.EditedRecord)[4], "21");
    EXPECT_EQ(ui_.messages.size(), 1u);
  }
}

TEST_F(CommandDialogFocusTest, MissingRequiredDataBeepsAndKeepsTheDialogOpen) {
  const struct {
    const char* what;
    std::function<void(CommandSettings&)> spoil;
    const char* port_box = nullptr;  // the port box's text, when not the fill's
  } cases[] = {
      {"empty password", [](CommandSettings& s) { s.Password.clear(); }},
      {"empty host", [](CommandSettings& s) { s.Host.clear(); }},
      {"empty local folder", [](CommandSettings& s) { s.LocalDir.clear(); }},
      {"no transfer type", [](CommandSettings& s) { s.TransferMode = 9; }},
      {"variable without number", [](CommandSettings& s) { s.SaveFilename = true; }},
      {"specific file without name", [](CommandSettings& s) { s.CopySpecific = true; }},
      {"empty port box", [](CommandSettings&) {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CommandSettings spoilt = CompleteCommand();
    c.spoil(spoilt);
    Open(spoilt);
    if (c.port_box != nullptr) Get<QLineEdit>("txtPort")->setText(c.port_box);
    const CommandSettings before = settings_;
    Get<QPushButton>("cmdSave")->click();
    EXPECT_EQ(ui_.events, (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(ui_.messages, std::vector{kMissingData});
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(state_.EditedRecordCount, 0);
    EXPECT_FALSE(state_.EditedRecord.has_value());
    EXPECT_EQ(settings_, before);
  }
}

TEST_F(CommandDialogFocusTest, SaveWritesTheRecordFromTheSettingsNotTheBoxes) {
  CommandSettings settings = CompleteCommand();
  settings.Passive = true;
  settings.Password = " ";  // blanks are data
  Open(settings);
  ASSERT_EQ(Get<QLineEdit>("txtPort")->text(), "21");  // shown, but never entered: 0 is saved
  Get<QPushButton>("cmdSave")->click();
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(state_.EditedRecordCount, 24);
  EXPECT_EQ(state_.EditedRecord, (std::array<std::string, 25>{
      "", "ftp.example.org", "anna", " ", "0", "1", "0", "1", "/pub", "/srv/in", "0", "0", "0",
      "0", "", "0", "", "", "0", "LOCAL", "0", "0", "", "*", "0"}));
}

TEST_F(CommandDialogFocusTest, CancelAndClosingLeaveTheRecordAlone) {
  for (const std::string_view way : {"button", "Alt+C", "close", "Escape"}) {
    SCOPED_TRACE(way);
    Open(CompleteCommand());
    TypeReplacing(Get<QLineEdit>("txtHost"), "changed.example.org");
    if (way == "button") {
      Get<QPushButton>("cmdCancel")->click();
    } else if (way == "Alt+C") {
      QTest::keyClick(dialog_.get(), Qt::Key_C, Qt::AltModifier);
    } else if (way == "close") {
      dialog_->close();
    } else {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    }
    ASSERT_TRUE(WaitFor([this] { return !dialog_->isVisible(); }));
    EXPECT_EQ(dialog_->result(), QDialog::Rejected);
    EXPECT_EQ(state_.EditedRecordCount, 0);
    EXPECT_FALSE(state_.EditedRecord.has_value());
    // The cancel button takes the focus first, so the box being edited was still written.
    const bool through_button = way == "button" || way == "Alt+C";
    EXPECT_EQ(settings_.Host, through_button ? "changed.example.org" : "ftp.example.org");
  }
}

}  // namespace
}  // namespace pullwire::testing
