// The command editor's focus entry and loss steps, the port and time-out checks, the required-data
// test, the save and the cancel, driven through a shown, active window.
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
    const char* typed;
    bool refused;
    const char* text_after;
    std::int32_t stored;  // Port or Timeout afterwards
  } cases[] = {
      {"txtPort", "", true, "21", 21},          {"txtPort", "0", true, "21", 21},
      {"txtPort", "-5", true, "21", 21},        {"txtPort", "abc", true, "21", 21},
      {"txtPort", "0.5", true, "21", 21},       {"txtPort", "9e9", true, "21", 21},
      {"txtPort", "21.5", false, "21.5", 22},   {"txtPort", "1.4", false, "1.4", 1},
      {"txtPort", "999", false, "999", 999},    {"txtPort", " 80 ", false, " 80 ", 80},
      {"txtPort", "2121", false, "2121", 2121},
      {"txtTimeout", "", true, "30", 30},       {"txtTimeout", "0", true, "30", 30},
      {"txtTimeout", "-5", true, "30", 30},     {"txtTimeout", "abc", true, "30", 30},
      {"txtTimeout", "0.5", true, "30", 30},    {"txtTimeout", "1e3", true, "30", 30},
      {"txtTimeout", "999", false, "999", 999}, {"txtTimeout", "1.4", false, "1.4", 1},
      {"txtTimeout", "1", false, "1", 1},       {"txtTimeout", "2.5", false, "2.5", 2},
  };
  for (const auto& c : cases) {
    const bool port = std::string_view(c.box) == "txtPort";
    SCOPED_TRACE(std::string(c.box) + " '" + c.typed + "'");
    Open();
    EnterAndLeave(c.box, c.typed);
    auto* box = Get<QLineEdit>(c.box);
    EXPECT_EQ(box->text(), c.text_after);
    EXPECT_EQ(port ? settings_.Port : settings_.Timeout, c.stored);
    if (c.refused) {
      EXPECT_EQ(ui_.messages, std::vector{port ? kPortRefused : kTimeoutRefused});
      EXPECT_EQ(QApplication::focusWidget(), box);
      EXPECT_EQ(box->selectedText(), c.text_after);
      // The time-out box only flickered through the focus: its loss step did not run.
      if (port) {
        EXPECT_EQ(settings_.Timeout, 0);
      }
    } else {
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
  const struct {
    const char* box;
    const char* typed;
    const char* stored;  // and shown
    std::string CommandSettings::*field;
  } cases[] = {
      {"txtHost", "  ftp.example.org ", "  ftp.example.org ", &CommandSettings::Host},
      {"txtUsername", " anna", " anna", &CommandSettings::Username},
      {"txtPassword", "pa ss ", "pa ss ", &CommandSettings::Password},
      {"txtLocalDir", "/srv/in ", "/srv/in ", &CommandSettings::LocalDir},
      {"txtFilter", "", "*", &CommandSettings::Filter},
      {"txtFilter", "*.csv; *.txt", "*.csv; *.txt", &CommandSettings::Filter},
      // The remote folder loses one trailing separator each time.
      {"txtRemoteDir", "/", "/", &CommandSettings::RemoteDir},
      {"txtRemoteDir", "\\", "\\", &CommandSettings::RemoteDir},
      {"txtRemoteDir", "/pub/", "/pub", &CommandSettings::RemoteDir},
      {"txtRemoteDir", "C:\\in\\", "C:\\in", &CommandSettings::RemoteDir},
      {"txtRemoteDir", "/pub//", "/pub/", &CommandSettings::RemoteDir},
      {"txtRemoteDir", "/pub/\\", "/pub/", &CommandSettings::RemoteDir},
      {"txtRemoteDir", "", "", &CommandSettings::RemoteDir},
      {"txtRemoteDir", "a/", "a", &CommandSettings::RemoteDir},
  };
  Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.box) + " '" + c.typed + "'");
    EnterAndLeave(c.box, c.typed);
    EXPECT_EQ(Get<QLineEdit>(c.box)->text(), c.stored);
    EXPECT_EQ(settings_.*c.field, c.stored);
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
  } cases[] = {
      {"empty password", [](CommandSettings& s) { s.Password.clear(); }},
      {"empty host", [](CommandSettings& s) { s.Host.clear(); }},
      {"empty local folder", [](CommandSettings& s) { s.LocalDir.clear(); }},
      {"no transfer type", [](CommandSettings& s) { s.TransferMode = 9; }},
      {"variable without number", [](CommandSettings& s) { s.SaveFilename = true; }},
      {"specific file without name", [](CommandSettings& s) { s.CopySpecific = true; }},
      {"empty port box (a blank password is data)", [](CommandSettings& s) { s.Password = " "; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CommandSettings spoilt = CompleteCommand();
    c.spoil(spoilt);
    Open(spoilt);
    const bool port_case = spoilt.Password == " ";
    if (port_case) Get<QLineEdit>("txtPort")->setText("");
    const CommandSettings before = settings_;
    Get<QPushButton>("cmdSave")->click();
    EXPECT_EQ(ui_.events, (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(ui_.messages, std::vector{kMissingData});
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(state_.EditedRecordCount, 0);
    EXPECT_FALSE(state_.EditedRecord.has_value());
    EXPECT_EQ(settings_, before);
    if (!port_case) continue;
    Get<QLineEdit>("txtPort")->setText("21");
    Get<QPushButton>("cmdSave")->click();
    EXPECT_EQ(state_.EditedRecordCount, 24);
    EXPECT_EQ((*state_.EditedRecord)[3], " ");
  }
}

TEST_F(CommandDialogFocusTest, SaveWritesTheRecordFromTheSettingsNotTheBoxes) {
  CommandSettings settings = CompleteCommand();
  settings.Passive = true;
  settings.VarScope = "LOCAL";
  Open(settings);
  ASSERT_EQ(Get<QLineEdit>("txtPort")->text(), "21");
  Get<QPushButton>("cmdSave")->click();
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  ASSERT_EQ(state_.EditedRecordCount, 24);
  const auto& record = *state_.EditedRecord;
  EXPECT_EQ(record[0], "");
  EXPECT_EQ(record[1], "ftp.example.org");
  EXPECT_EQ(record[4], "0");  // the box showed 21 but was never entered
  EXPECT_EQ(record[5], "1");
  EXPECT_EQ(record[6], "0");
  EXPECT_EQ(record[7], "1");
  EXPECT_EQ(record[19], "LOCAL");
  EXPECT_EQ(record[23], "*");
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
