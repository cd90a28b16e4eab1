// The command editor's initial state and its fill from the settings.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "dialog_test_support.h"

namespace pullwire::testing {
namespace {

QString CaptionOf(const QWidget* widget) {
  if (auto* box = qobject_cast<const QLineEdit*>(widget)) return box->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* frame = qobject_cast<const QGroupBox*>(widget)) return frame->title();
  return QStringLiteral("?");
}

TEST_F(CommandDialogTest, ControlsStartWithTheirCaptionsAndStates) {
  Create();
  struct Row {
    const char* name;
    const char* caption;
    bool enabled;
    const char* tool_tip;
  };
  const Row rows[] = {
      {"txtHost", "", true, ""},
      {"txtPassword", "", true, ""},
      {"chkPASV", "PASV Mode", true, ""},
      {"txtPort", "21", true, ""},
      {"txtTimeout", "30", true, ""},
      {"cmdProxySetup", "Proxy Setup", true, "configure proxy-settings"},
      {"txtFilter", "*", true, "separate filters by ;"},
      {"chkAutoDelete", "Automatically Delete Remote File After Copy", true, ""},
      {"chkProcesAll", "Process All Remote Files", true, ""},
      {"chkIncludeSubdir", "Include Subdirectories", true, ""},
      {"chkCopySpecific", "Copy Specific File", true, ""},
      {"txtSpecificFilename", "", false, ""},
      {"cmdBrowseDestination", "", true, "browse to select file"},
      {"optSkip", "Skip", false, ""},
      {"optOverwrite", "Overwrite", false, ""},
      {"chkSaveFilename", "Put Filename in Variable :", true, ""},
      {"optLocal", "Local", false, ""},
      {"optGlobal", "Global", false, ""},
      {"cmdSave", "&Ok", true, "save"},
      {"cmdCancel", "&Cancel", true, "cancel"},
      {"fraCommand", "Command: Pull-Wire", true, ""},
      {"fraSaveFilename", "Save Filename", true, ""},
      {"fraLocalfile", "If Localfile Exists", true, ""},
      {"lblRemoteDir", "Remote-directory :", true, ""},
      {"lblLocalDir", "Local-directory to Copy File to :", true, ""},
      {"lblRemoteHost", "Remote Host :", true, ""},
      {"lblUsername", "Username :", true, ""},
      {"lblPassword", "Password :", true, ""},
      {"Label1", "Port :", true, ""},
      {"Label2", "Timeout :", true, ""},
      {"Label3", "Transfer Type :", true, ""},
      {"Label4", "sec.", true, ""},
      {"Label5", "Filter :", true, ""},
      {"Picture6", "", false, "click to select command/variable"},
      {"Picture1", "", true, "click to select command/variable"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto* widget = Get<QWidget>(row.name);
    if (row.name[0] != 'P') {
      EXPECT_EQ(CaptionOf(widget), QString::fromLatin1(row.caption));
    }
    EXPECT_EQ(widget->isEnabled(), row.enabled);
    EXPECT_EQ(widget->toolTip(), QString::fromLatin1(row.tool_tip));
  }
  EXPECT_EQ(dialog_->windowTitle(), "Edit Command: Pull Wire");
  EXPECT_FALSE(dialog_->windowIcon().isNull());
  for (const char* name : {"chkPASV", "chkAutoDelete", "chkProcesAll", "chkIncludeSubdir",
                           "chkCopySpecific", "chkSaveFilename"}) {
    EXPECT_FALSE(Get<QCheckBox>(name)->isChecked()) << name;
  }
  EXPECT_TRUE(Get<QRadioButton>("optOverwrite")->isChecked());
  EXPECT_TRUE(Get<QRadioButton>("optLocal")->isChecked());
  EXPECT_EQ(Get<QLineEdit>("txtPassword")->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(Get<QLabel>("Label2")->alignment() & Qt::AlignRight);
  EXPECT_TRUE(Get<QLabel>("Label3")->alignment() & Qt::AlignRight);
  EXPECT_TRUE(Get<QGroupBox>("fraCommand")->font().bold());
  EXPECT_TRUE(Get<QGroupBox>("fraSaveFilename")->font().bold());
  EXPECT_FALSE(Get<QGroupBox>("fraLocalfile")->font().bold());
  EXPECT_FALSE(Get<QCheckBox>("chkSaveFilename")->font().bold());
  EXPECT_EQ(Get<QLabel>("Picture7")->toolTip(), "Powered by Pullwire FTP engine");
  EXPECT_EQ(Get<QLabel>("Picture5")->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(Get<QLabel>("Picture7")->pixmap().size(), QSize(28, 28));
  for (const char* name : {"Picture1", "Picture2", "Picture3", "Picture4", "Picture6", "picShowPopup2"}) {
    EXPECT_EQ(Get<QLabel>(name)->pixmap().size(), QSize(16, 16)) << name;
  }
}

TEST_F(CommandDialogTest, ListsHoldTheirItemsWithoutSelectionAndCannotBeTypedInto) {
  Create();
  auto* mode = Get<QComboBox>("cmbMode");
  ASSERT_EQ(mode->count(), 4);
  EXPECT_EQ(mode->itemText(0), "ASCII");
  EXPECT_EQ(mode->itemText(1), "IMAGE");
  EXPECT_EQ(mode->itemText(2), "EBCDIC");
  EXPECT_EQ(mode->itemText(3), "ZIP");
  EXPECT_EQ(mode->currentIndex(), -1);
  EXPECT_FALSE(mode->isEditable());
  auto* numbers = Get<QComboBox>("cmbVarNum");
  ASSERT_EQ(numbers->count(), 15);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(numbers->itemText(i), QString::number(i + 1));
  EXPECT_EQ(numbers->currentIndex(), -1);
  EXPECT_FALSE(numbers->isEnabled());
  EXPECT_FALSE(numbers->isEditable());
}

TEST_F(CommandDialogTest, TabOrderFollowsTheForm) {
  Create();
  const QStringList expected = {
      "txtHost",      "txtUsername",         "txtPassword",      "chkPASV",         "txtPort",
      "txtTimeout",   "cmbMode",             "cmdProxySetup",    "txtRemoteDir",    "txtFilter",
      "chkAutoDelete", "chkProcesAll",       "chkIncludeSubdir", "chkCopySpecific", "txtSpecificFilename",
      "txtLocalDir",  "cmdBrowseDestination", "optSkip",         "optOverwrite",    "chkSaveFilename",
      "cmbVarNum",    "optLocal",            "optGlobal",        "cmdSave",         "cmdCancel"};
  QStringList order;
  QWidget* widget = Get<QWidget>("txtHost");
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
  Create();
  ASSERT_TRUE(ShowActive(dialog_.get()));
  constexpr int kAll = -1;  // the whole text selected
  const struct {
    const char* box;
    const char* before;
    int caret;
    bool paste;
    const char* entered;
    const char* after;
  } cases[] = {
      {"txtPort", "21", kAll, false, "123456", "1234"},   {"txtTimeout", "30", kAll, false, "98765", "987"},
      {"txtPort", "21", kAll, true, "123456", "1234"},    {"txtTimeout", "30", kAll, true, "98765", "987"},
      {"txtPort", "21", 1, true, "3456", "2341"},         {"txtPort", "1234", 4, false, "5", "1234"},
      {"txtPort", "1234", 2, true, "99", "1234"},         {"txtPort", "32000", 5, false, "1", "32000"},
      {"txtPort", "32000", 0, true, "1", "32000"},        {"txtPort", "32000", kAll, true, "987654", "9876"},
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
    EXPECT_EQ(box->text(), c.after) << c.box << " " << c.before << (c.paste ? " pasted " : " typed ") << c.entered;
  }
}

TEST_F(CommandDialogTest, NewCommandShowsProposedPortAndTimeoutButKeepsZeroSettings) {
  settings_.TransferMode = 1;  // what Setup's decode leaves for an empty slot 5
  Open();
  EXPECT_EQ(Get<QLineEdit>("txtPort")->text(), "21");
  EXPECT_EQ(Get<QLineEdit>("txtTimeout")->text(), "30");
  EXPECT_EQ(settings_.Port, 0);
  EXPECT_EQ(settings_.Timeout, 0);
  EXPECT_EQ(Get<QComboBox>("cmbMode")->currentIndex(), 1);
  EXPECT_EQ(settings_.Filter, "*");
  EXPECT_EQ(Get<QLineEdit>("txtFilter")->text(), "*");
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(CommandDialogTest, FillShowsEveryStoredValue) {
  settings_ = CommandSettings{};
  settings_.Host = "ftp.example.org";
  settings_.Username = "anna";
  settings_.Password = "s3cret";
  settings_.Port = 32000;  // longer than the 4 characters a user may type
  settings_.TransferMode = 2;
  settings_.Timeout = 45;
  settings_.Passive = true;
  settings_.RemoteDir = "/pub";
  settings_.LocalDir = "/srv/in";
  settings_.AutoDelete = true;
  settings_.Overwrite = false;
  settings_.SaveFilename = true;
  settings_.VarScope = "GLOBAL";
  settings_.VarNumber = 7;
  settings_.Filter = "*.csv;*.txt";
  const CommandSettings before = settings_;
  Open();
  EXPECT_EQ(settings_, before);
  EXPECT_EQ(Get<QLineEdit>("txtHost")->text(), "ftp.example.org");
  EXPECT_EQ(Get<QLineEdit>("txtUsername")->text(), "anna");
  EXPECT_EQ(Get<QLineEdit>("txtPassword")->text(), "s3cret");
  EXPECT_EQ(Get<QLineEdit>("txtPort")->text(), "32000");
  EXPECT_EQ(Get<QComboBox>("cmbMode")->currentText(), "EBCDIC");
  EXPECT_EQ(Get<QLineEdit>("txtTimeout")->text(), "45");
  EXPECT_TRUE(Get<QCheckBox>("chkPASV")->isChecked());
  EXPECT_EQ(Get<QLineEdit>("txtRemoteDir")->text(), "/pub");
  EXPECT_EQ(Get<QLineEdit>("txtLocalDir")->text(), "/srv/in");
  EXPECT_TRUE(Get<QCheckBox>("chkAutoDelete")->isChecked());
  EXPECT_TRUE(Get<QRadioButton>("optSkip")->isChecked());
  EXPECT_TRUE(Get<QRadioButton>("optSkip")->isEnabled());  // the local folder is filled
  EXPECT_TRUE(Get<QCheckBox>("chkSaveFilename")->isChecked());
  EXPECT_TRUE(Get<QRadioButton>("optGlobal")->isChecked());
  EXPECT_TRUE(Get<QRadioButton>("optGlobal")->isEnabled());
  EXPECT_EQ(Get<QComboBox>("cmbVarNum")->currentText(), "7");
  EXPECT_EQ(Get<QLineEdit>("txtFilter")->text(), "*.csv;*.txt");
}

TEST_F(CommandDialogTest, ZipWithIncludeSubdirectoriesWarnsOnceAndComesUpImage) {
  settings_.TransferMode = 3;
  settings_.IncludeSubdir = true;
  Open();
  ASSERT_THAT(ui_.messages, ::testing::ElementsAre(ZipWarning()));
  EXPECT_EQ(ui_.messages[0].owner, dialog_.get());
  EXPECT_EQ(Get<QComboBox>("cmbMode")->currentText(), "IMAGE");
  EXPECT_EQ(settings_.TransferMode, 1);
}

TEST_F(CommandDialogTest, ProcessAllWithSaveFilenameComesUpClearedAndDisabled) {
  settings_.ProcessAll = true;
  settings_.SaveFilename = true;
  settings_.VarNumber = 2;
  Open();
  EXPECT_TRUE(Get<QCheckBox>("chkProcesAll")->isChecked());
  EXPECT_FALSE(Get<QCheckBox>("chkSaveFilename")->isChecked());
  EXPECT_FALSE(Get<QGroupBox>("fraSaveFilename")->isEnabled());
  EXPECT_FALSE(Get<QCheckBox>("chkSaveFilename")->isEnabled());
  EXPECT_FALSE(settings_.SaveFilename);
  EXPECT_TRUE(settings_.ProcessAll);
}

TEST_F(CommandDialogTest, IncludeSubdirectoriesComesUpWithItsCascade) {
  settings_.IncludeSubdir = true;
  settings_.CopySpecific = false;
  settings_.Overwrite = false;
  settings_.LocalDir = "/srv/in";
  settings_.Filter = "*.log";
  Open();
  EXPECT_TRUE(Get<QCheckBox>("chkProcesAll")->isChecked());
  EXPECT_FALSE(Get<QCheckBox>("chkProcesAll")->isEnabled());
  EXPECT_FALSE(Get<QCheckBox>("chkCopySpecific")->isChecked());
  EXPECT_FALSE(Get<QCheckBox>("chkCopySpecific")->isEnabled());
  EXPECT_FALSE(Get<QGroupBox>("fraLocalfile")->isEnabled());
  EXPECT_FALSE(Get<QGroupBox>("fraSaveFilename")->isEnabled());
  EXPECT_TRUE(Get<QRadioButton>("optOverwrite")->isChecked());
  EXPECT_TRUE(settings_.Overwrite);
  EXPECT_TRUE(settings_.ProcessAll);
  // The fill sets the filter box after the cascade put "*" into it.
  EXPECT_EQ(Get<QLineEdit>("txtFilter")->text(), "*.log");
  EXPECT_EQ(settings_.Filter, "*.log");
}

TEST_F(CommandDialogTest, ValuesTheListsDoNotHaveLeaveThemWithoutSelection) {
  settings_.TransferMode = 7;
  settings_.VarNumber = 16;
  settings_.VarScope = "global";
  Open();
  EXPECT_EQ(Get<QComboBox>("cmbMode")->currentIndex(), -1);
  EXPECT_EQ(Get<QComboBox>("cmbVarNum")->currentIndex(), -1);
  EXPECT_EQ(settings_.TransferMode, 7);
  EXPECT_EQ(settings_.VarNumber, 16);
  // Only the exact "GLOBAL" selects the global option.
  EXPECT_TRUE(Get<QRadioButton>("optLocal")->isChecked());
  EXPECT_EQ(settings_.VarScope, "LOCAL");
}

TEST_F(CommandDialogTest, CopySpecificComesUpWithItsFileName) {
  settings_.CopySpecific = true;
  settings_.SpecificFilename = "report.pdf";
  settings_.ProcessAll = true;
  Open();
  EXPECT_TRUE(Get<QCheckBox>("chkCopySpecific")->isChecked());
  EXPECT_FALSE(Get<QCheckBox>("chkProcesAll")->isChecked());
  EXPECT_FALSE(settings_.ProcessAll);
  EXPECT_TRUE(Get<QLineEdit>("txtSpecificFilename")->isEnabled());
  EXPECT_EQ(Get<QLineEdit>("txtSpecificFilename")->text(), "report.pdf");
  EXPECT_EQ(settings_.SpecificFilename, "report.pdf");
  EXPECT_FALSE(Get<QLineEdit>("txtFilter")->isEnabled());
  EXPECT_TRUE(Get<QLabel>("Picture6")->isEnabled());
}

}  // namespace
}  // namespace pullwire::testing
