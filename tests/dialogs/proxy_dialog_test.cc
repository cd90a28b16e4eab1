// The proxy dialog: its types and the fields each shows, load, the port check, Ok and cancel.
#include <memory>
#include <string_view>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "dialog_test_support.h"
#include "dialogs/popup_menu.h"
#include "dialogs/proxy_dialog.h"

namespace pullwire::testing {
namespace {

using ::testing::ElementsAre;

constexpr char kPortMessage[] = "<ProxyPort> must be a positive numerical value!";
// The boxes of host, port, user name and password, and the letters ShownFields gives them.
constexpr const char* kBoxes[] = {"txtProxyHost", "txtProxyPort", "txtProxyUsername",
                                  "txtProxyPassword"};
constexpr char kFieldLetters[] = "HPUW";
// The fields each proxy type shows and requires, by type index.
constexpr const char* kFieldsOfType[] = {"", "HPU", "HPUW", "HPUW", "HPUW", "HP", "HP", "HP"};

class ProxyDialogTest : public DialogTest<frmProxySetup> {
 protected:
  void Open() { dialog_ = std::make_unique<frmProxySetup>(state_.Settings, ui_, popup_); }
  void OpenActive() {
    Open();
    ASSERT_TRUE(ShowActive(dialog_.get()));
  }
  QComboBox* Types() const { return Get<QComboBox>("cboProxyType"); }
  // Which fields show, as kFieldLetters; label, picture and box agree.
  std::string ShownFields() const {
    const char* const others[][2] = {{"lblProxyHost", "Picture3"},
                                     {"lblProxyPort", "Picture1"},
                                     {"lblProxyUsername", "Picture2"},
                                     {"lblProxyPassword", "Picture4"}};
    std::string shown;
    for (int field = 0; field < 4; ++field) {
      const bool box = !Get<QWidget>(kBoxes[field])->isHidden();
      for (const char* other : others[field]) {
        EXPECT_EQ(!Get<QWidget>(other)->isHidden(), box) << other;
      }
      if (box) shown += kFieldLetters[field];
    }
    return shown;
  }
  void ExpectMissingData() {
    EXPECT_EQ(ui_.events, (std::vector<std::string>{"beep", "message"}));
    EXPECT_THAT(ui_.messages, ElementsAre(MissingData()));
  }

  frmPopUp popup_{state_};
};

TEST_F(ProxyDialogTest, DesignCaptionsAndLimits) {
  Open();
  EXPECT_EQ(dialog_->windowTitle(), "Proxy Setup");
  EXPECT_EQ(Get<QGroupBox>("fraProxySettings")->title(), "Configure Proxy Settings");
  EXPECT_EQ(Get<QLabel>("Labels")->text(), "Proxy Type:");
  EXPECT_EQ(Get<QLabel>("lblProxyHost")->text(), "Proxy Host:");
  EXPECT_EQ(Get<QLabel>("lblProxyPort")->text(), "Proxy Port:");
  EXPECT_EQ(Get<QLabel>("lblProxyUsername")->text(), "Proxy Username:");
  EXPECT_EQ(Get<QLabel>("lblProxyPassword")->text(), "Proxy Password:");
  EXPECT_EQ(Get<QLineEdit>("txtProxyPassword")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Get<QPushButton>("cmdSave")->text(), "&Ok");
  EXPECT_EQ(Get<QPushButton>("cmdSave")->toolTip(), "save");
  EXPECT_EQ(Get<QPushButton>("cmdCancel")->text(), "&Cancel");
  EXPECT_EQ(Get<QPushButton>("cmdCancel")->toolTip(), "cancel");
  for (const char* name : {"Picture1", "Picture2", "Picture3", "Picture4"}) {
    EXPECT_EQ(Get<QLabel>(name)->toolTip(), "click to select command/variable") << name;
  }
  const QStringList captions = {"None",       "Socks V4",       "Socks V5", "SITE Hostname ",
                                "USER Logon", "USER No Logon ", "OPEN",     "Pipe"};
  ASSERT_EQ(Types()->count(), captions.size());
  for (int i = 0; i < captions.size(); ++i) EXPECT_EQ(Types()->itemText(i), captions[i]);
  EXPECT_FALSE(Types()->isEditable());
  ASSERT_TRUE(ShowActive(dialog_.get()));
  Types()->setCurrentIndex(1);
  auto* port = Get<QLineEdit>("txtProxyPort");
  TypeReplacing(port, "1234567");
  EXPECT_EQ(port->text(), "12345");
}

TEST_F(ProxyDialogTest, EachTypeShowsItsFields) {
  Open();
  for (int type = 7; type >= 0; --type) {
    Types()->setCurrentIndex(type);
    EXPECT_EQ(ShownFields(), kFieldsOfType[type]) << "type " << type;
  }
}

TEST_F(ProxyDialogTest, OpeningWithNoProxyProposesPort1080AndOkStoresIt) {
  Open();
  EXPECT_EQ(Types()->currentText(), "None");
  EXPECT_EQ(ShownFields(), "");
  EXPECT_EQ(settings_.ProxyPort, 1080);
  Get<QPushButton>("cmdSave")->click();
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(settings_.ProxyType, 0);
  EXPECT_EQ(settings_.ProxyPort, 1080);
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(ProxyDialogTest, LoadPutsTheStoredFieldsIntoTheBoxes) {
  settings_.ProxyType = 2;
  settings_.ProxyHost = "proxy.lan";
  settings_.ProxyPort = 3128;
  settings_.ProxyUsername = "pu";
  settings_.ProxyPassword = "pp";
  Open();
  EXPECT_EQ(Types()->currentText(), "Socks V5");
  EXPECT_EQ(ShownFields(), "HPUW");
  EXPECT_EQ(Get<QLineEdit>("txtProxyHost")->text(), "proxy.lan");
  EXPECT_EQ(Get<QLineEdit>("txtProxyPort")->text(), "3128");
  EXPECT_EQ(Get<QLineEdit>("txtProxyUsername")->text(), "pu");
  EXPECT_EQ(Get<QLineEdit>("txtProxyPassword")->text(), "pp");
}

TEST_F(ProxyDialogTest, NegativeTypeShowsNoneWithTheDesignContent) {
  settings_.ProxyType = -1;
  settings_.ProxyHost = "kept.lan";
  settings_.ProxyPort = 3128;
  Open();
  EXPECT_EQ(Types()->currentText(), "None");
  EXPECT_EQ(Get<QLineEdit>("txtProxyHost")->text(), "");
  EXPECT_EQ(Get<QLineEdit>("txtProxyPort")->text(), "1080");
}

// Each type takes Ok with its own fields filled and the others empty (SOCKS4 needs no password).
TEST_F(ProxyDialogTest, EveryTypeRefusesAnEmptyRequiredField) {
  for (int type = 1; type < 8; ++type) {
    const std::string_view required = kFieldsOfType[type];
    for (int field = 0; field < 4; ++field) {
      if (required.find(kFieldLetters[field]) == std::string::npos) continue;
      SCOPED_TRACE(std::to_string(type) + " " + kBoxes[field]);
      ui_ = ScriptedUiServices{};
      Open();
      Types()->setCurrentIndex(type);
      for (const char* box : kBoxes) Get<QLineEdit>(box)->setText("x1");
      Get<QLineEdit>(kBoxes[field])->setText("");
      Get<QPushButton>("cmdSave")->click();
      ExpectMissingData();
    }
    SCOPED_TRACE(std::to_string(type) + " with only its fields");
    ui_ = ScriptedUiServices{};
    Open();
    Types()->setCurrentIndex(type);
    for (int field = 0; field < 4; ++field) {
      const bool wanted = required.find(kFieldLetters[field]) != std::string::npos;
      Get<QLineEdit>(kBoxes[field])->setText(wanted ? "1" : "");
    }
    Get<QPushButton>("cmdSave")->click();
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_EQ(settings_.ProxyType, type);
  }
}

TEST_F(ProxyDialogTest, OpenStoresAllFourTextsAlsoOfHiddenFields) {
  settings_.ProxyType = 2;
  settings_.ProxyUsername = "old user";
  settings_.ProxyPassword = "old pass";
  Open();
  Types()->setCurrentIndex(6);
  Get<QLineEdit>("txtProxyHost")->setText("gate.lan");
  Get<QLineEdit>("txtProxyUsername")->setText("");
  Get<QPushButton>("cmdSave")->click();
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(settings_.ProxyType, 6);
  EXPECT_EQ(settings_.ProxyHost, "gate.lan");
  EXPECT_EQ(settings_.ProxyPort, 1080);
  EXPECT_EQ(settings_.ProxyUsername, "");
  EXPECT_EQ(settings_.ProxyPassword, "old pass");
}

TEST_F(ProxyDialogTest, PortThatIsNotPositiveIsRefusedWhenLeft) {
  for (const char* typed : {"abc", "0", "", "-1", "0.4"}) {
    SCOPED_TRACE(typed);
    ui_ = ScriptedUiServices{};
    settings_.ProxyType = 7;
    OpenActive();
    auto* port = Get<QLineEdit>("txtProxyPort");
    TypeReplacing(port, typed);
    PressTab();
    EXPECT_THAT(ui_.messages, ElementsAre(IncorrectValue(kPortMessage)));
    EXPECT_EQ(port->text(), "1080");
    EXPECT_EQ(QApplication::focusWidget(), port);
  }
}

TEST_F(ProxyDialogTest, PortAbove32767IsRefusedOnOk) {
  settings_.ProxyType = 7;
  settings_.ProxyHost = "pipe.lan";
  settings_.ProxyPort = 2000;
  OpenActive();
  auto* port = Get<QLineEdit>("txtProxyPort");
  TypeReplacing(port, "40000");
  PressTab();
  EXPECT_TRUE(ui_.messages.empty());  // a positive number passes the focus check
  Get<QPushButton>("cmdSave")->click();
  EXPECT_THAT(ui_.messages, ElementsAre(IncorrectValue("<ProxyPort> must be between 1 and 32767!")));
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(settings_.ProxyPort, 2000);
  EXPECT_EQ(QApplication::focusWidget(), port);
  EXPECT_EQ(port->selectedText(), "40000");

  TypeReplacing(port, "32767");
  Get<QPushButton>("cmdSave")->click();
  EXPECT_EQ(settings_.ProxyPort, 32767);
  EXPECT_EQ(settings_.ProxyHost, "pipe.lan");
}

TEST_F(ProxyDialogTest, CancelStoresNothingButKeepsTheProposedPort) {
  settings_.ProxyType = 2;
  settings_.ProxyPort = 0;
  OpenActive();
  Types()->setCurrentIndex(7);
  Get<QLineEdit>("txtProxyHost")->setText("changed.lan");
  Get<QPushButton>("cmdCancel")->click();
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
  EXPECT_EQ(settings_.ProxyType, 2);
  EXPECT_EQ(settings_.ProxyHost, "");
  EXPECT_EQ(settings_.ProxyPort, 1080);
}

TEST_F(ProxyDialogTest, BoxesSelectTheirWholeTextOnEntry) {
  settings_.ProxyType = 2;
  settings_.ProxyHost = "proxy.lan";
  OpenActive();
  for (const char* name : {"txtProxyHost", "txtProxyPort", "txtProxyUsername"}) {
    auto* box = Get<QLineEdit>(name);
    box->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(box->selectedText(), box->text()) << name;
  }
}

}  // namespace
}  // namespace pullwire::testing
