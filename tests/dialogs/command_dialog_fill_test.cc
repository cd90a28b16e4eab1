// The command editor's initial state: captions, states, lists, tab order, the length limits.
#include <map>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "dialog_test_support.h"

namespace pullwire::testing {
namespace {

QStringList Items(const QComboBox* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
  return items;
}

TEST_F(CommandDialogTest, ControlsStartWithTheirCaptionsAndStates) {
  Open({}, /*active=*/false, /*fill=*/false);
  const std::map<const char*, const char*> captions = {
      {"txtHost", ""}, {"txtPassword", ""}, {"chkPASV", "PASV Mode"}, {"txtPort", "21"},
      {"txtTimeout", "30"}, {"cmdProxySetup", "Proxy Setup"}, {"txtFilter", "*"},
      {"chkAutoDelete", "Automatically Delete Remote File After Copy"},
      {"chkProcesAll", "Process All Remote Files"}, {"chkIncludeSubdir", "Include Subdirectories"},
      {"chkCopySpecific", "Copy Specific File"}, {"txtSpecificFilename", ""},
      {"cmdBrowseDestination", ""}, {"optSkip", "Skip"}, {"optOverwrite", "Overwrite"},
      {"chkSaveFilename", "Put Filename in Variable :"}, {"optLocal", "Local"},
      {"optGlobal", "Global"}, {"cmdSave", "&Ok"}, {"cmdCancel", "&Cancel"},
      {"fraCommand", "Command: Pull-Wire"}, {"fraSaveFilename", "Save Filename"},
      {"fraLocalfile", "If Localfile Exists"}, {"lblRemoteDir", "Remote-directory :"},
      {"lblLocalDir", "Local-directory to Copy File to :"}, {"lblRemoteHost", "Remote Host :"},
      {"lblUsername", "Username :"}, {"lblPassword", "Password :"}, {"Label1", "Port :"},
      {"Label2", "Timeout :"}, {"Label3", "Transfer Type :"}, {"Label4", "sec."},
      {"Label5", "Filter :"}, {"Picture6", ""}, {"Picture1", ""}};
  const std::map<std::string, QString> tips = {
      {"cmdProxySetup", "configure proxy-settings"}, {"txtFilter", "separate filters by ;"},
      {"cmdBrowseDestination", "browse to select file"}, {"cmdSave", "save"},
      {"cmdCancel", "cancel"}, {"Picture6", "click to select command/variable"},
      {"Picture1", "click to select command/variable"}};
  for (const auto& [name, caption] : captions) {
    if (name[0] != 'P') {
      EXPECT_EQ(CaptionOf(Get(name)), caption) << name;
    }
    EXPECT_EQ(Get(name)->toolTip(), tips.contains(name) ? tips.at(name) : "") << name;
  }
  ExpectLooks(dialog_.get(),
              {{"chkPASV", "off"}, {"chkAutoDelete", "off"}, {"chkProcesAll", "off"},
               {"chkIncludeSubdir", "off"}, {"chkCopySpecific", "off"},
               {"chkSaveFilename", "off"}, {"txtSpecificFilename", "disabled"},
               {"optSkip", "off disabled"}, {"optOverwrite", "on disabled"},
               {"optLocal", "on disabled"}, {"optGlobal", "off disabled"}, {"Picture6", "disabled"},
               {"Picture1", ""}, {"cmbMode", ""}, {"cmbVarNum", "disabled"}, {"fraLocalfile", ""}});
  EXPECT_EQ(Items(Get<QComboBox>("cmbMode")), QStringList({"ASCII", "IMAGE", "EBCDIC", "ZIP"}));
  QStringList numbers;
  for (int i = 1; i <= 15; ++i) numbers << QString::number(i);
  EXPECT_EQ(Items(Get<QComboBox>("cmbVarNum")), numbers);
  EXPECT_FALSE(Get<QComboBox>("cmbMode")->isEditable());
  EXPECT_FALSE(Get<QComboBox>("cmbVarNum")->isEditable());
  EXPECT_EQ(dialog_->windowTitle(), "Edit Command: Pull Wire");
  EXPECT_FALSE(dialog_->windowIcon().isNull());
  EXPECT_EQ(Get<QLineEdit>("txtPassword")->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(Get<QLabel>("Label2")->alignment() & Qt::AlignRight);
  EXPECT_TRUE(Get<QLabel>("Label3")->alignment() & Qt::AlignRight);
  EXPECT_TRUE(Get("fraCommand")->font().bold() && Get("fraSaveFilename")->font().bold());
  EXPECT_FALSE(Get("fraLocalfile")->font().bold() || Get("chkSaveFilename")->font().bold());
  EXPECT_EQ(Get("Picture7")->toolTip(), "Powered by Pullwire FTP engine");
  EXPECT_EQ(Get<QLabel>("Picture5")->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(Get<QLabel>("Picture7")->pixmap().size(), QSize(28, 28));
  for (const char* name :
       {"Picture1", "Picture2", "Picture3", "Picture4", "Picture6", "picShowPopup2"}) {
    EXPECT_EQ(Get<QLabel>(name)->pixmap().size(), QSize(16, 16)) << name;
  }
}

TEST_F(CommandDialogTest, TabOrderFollowsTheForm) {
  Open({}, /*active=*/false, /*fill=*/false);
  const QStringList expected = {
      "txtHost", "txtUsername", "txtPassword", "chkPASV", "txtPort", "txtTimeout", "cmbMode",
      "cmdProxySetup", "txtRemoteDir", "txtFilter", "chkAutoDelete", "chkProcesAll",
      "chkIncludeSubdir", "chkCopySpecific", "txtSpecificFilename", "txtLocalDir",
      "cmdBrowseDestination", "optSkip", "optOverwrite", "chkSaveFilename", "cmbVarNum",
      "optLocal", "optGlobal", "cmdSave", "cmdCancel"};
  QStringList order;
  QWidget* widget = Get("txtHost");
  for (int step = 0; step < 200 && order.size() < expected.size(); ++step) {
    if ((widget->focusPolicy() & Qt::TabFocus) && expected.contains(widget->objectName())) {
      order << widget->objectName();
    }
    widget = widget->nextInFocusChain();
  }
  EXPECT_EQ(order, expected);
}

// What the user types or pastes is cut to the limit, at the end of the insertion; a longer text the
// fill put there may shrink but not grow.
TEST_F(CommandDialogTest, TypedAndPastedTextIsCutToThePortAndTimeoutLimits) {
  Open({}, /*active=*/true, /*fill=*/false);
  constexpr int kAll = -1;  // the whole text selected
  const struct {
    const char* box;
    const char* before;
    int caret;
    bool paste;
    const char* entered;
    const char* after;
  } cases[] = {
      {"txtPort", "21", kAll, false, "123456", "1234"},
      {"txtTimeout", "30", kAll, false, "98765", "987"},
      {"txtPort", "21", kAll, true, "123456", "1234"},
      {"txtTimeout", "30", kAll, true, "98765", "987"},
      {"txtPort", "21", 1, true, "3456", "2341"},
      {"txtPort", "1234", 4, false, "5", "1234"},
      {"txtPort", "1234", 2, true, "99", "1234"},
      {"txtPort", "32000", 5, false, "1", "32000"},
      {"txtPort", "32000", 0, true, "1", "32000"},
      {"txtPort", "32000", kAll, true, "987654", "9876"},
  };
  for (const auto& c : cases) {
    auto* box = Get<QLineEdit>(c.box);
    box->setFocus(Qt::TabFocusReason);
    box->setText(c.before);
    if (c.caret == kAll) {
      box->selectAll();
    } else {
      box->setCursorPosition(c.caret);
    }
    if (c.paste) {
      QApplication::clipboard()->setText(c.entered);
      QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    } else {
      QTest::keyClicks(box, c.entered);
    }
    EXPECT_EQ(box->text(), c.after)
        << c.box << " " << c.before << (c.paste ? " pasted " : " typed ") << c.entered;
  }
}

}  // namespace
}  // namespace pullwire::testing
