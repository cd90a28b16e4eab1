// The command editor: its initial state, the fill and the control rules, the focus steps with the
// port and time-out checks, the required-data test, the save and the cancel.
#include <array>
#include <map>
#include <string_view>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "dialog_test_support.h"

namespace pullwire::testing {
namespace {

const std::string kTimeoutRefused = Refused("<Timeout> must be between 1 and 999!");

// Waits (bounded) until `condition` holds, letting timers such as an access key's run.
template <class Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 100 && !condition(); ++i) QTest::qWait(10);
  return condition();
}

// Types `text` into the box and leaves it with Tab.
void EnterAndLeave(QLineEdit* box, const QString& text) {
  TypeReplacing(box, text);
  PressTab();
}

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

// The fill sets each control in turn and lets its rules run, as the user's changes do: the
// settings may change with them.
TEST_F(CommandDialogTest, FillAndChangesRunTheRules) {
  const CommandSettings full = {
      .Host = "ftp.example.org", .Username = "anna", .Password = "s3cret", .Port = 32000,
      .TransferMode = 2, .Timeout = 45, .Passive = true, .RemoteDir = "/pub", .LocalDir = "/srv/in",
      .AutoDelete = true, .SaveFilename = true, .VarScope = "GLOBAL", .VarNumber = 7,
      .Filter = "*.csv;*.txt"};
  const struct {
    const char* what;
    CommandSettings given;
    Looks set;  // the user's changes after the fill
    Looks looks;
    CommandSettings after;
    std::vector<std::string> messages = {};
  } cases[] = {
      {"a new command shows the proposed port and time-out but keeps 0 (slot 5 empty: IMAGE)",
       {.TransferMode = 1}, {},
       {{"txtPort", "21"}, {"txtTimeout", "30"}, {"cmbMode", "IMAGE"}, {"txtFilter", "*"}},
       {.TransferMode = 1, .VarScope = "LOCAL", .Filter = "*"}},
      {"every stored value (a port longer than the 4 characters a user may type)", full, {},
       {{"txtHost", "ftp.example.org"}, {"txtUsername", "anna"}, {"txtPassword", "s3cret"},
        {"txtPort", "32000"}, {"cmbMode", "EBCDIC"}, {"txtTimeout", "45"}, {"chkPASV", "on"},
        {"txtRemoteDir", "/pub"}, {"txtLocalDir", "/srv/in"}, {"chkAutoDelete", "on"},
        {"optSkip", "on"}, {"chkSaveFilename", "on"}, {"optGlobal", "on"}, {"cmbVarNum", "7"},
        {"txtFilter", "*.csv;*.txt"}},
       full},
      {"ZIP with subdirectories warns once and comes up IMAGE",
       {.TransferMode = 3, .IncludeSubdir = true}, {}, {{"cmbMode", "IMAGE"}},
       {.TransferMode = 1, .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .Filter = "*", .IncludeSubdir = true},
       {kZipWarning}},
      {"process all with a variable comes up without the variable",
       {.ProcessAll = true, .SaveFilename = true, .VarNumber = 2}, {},
       {{"chkProcesAll", "on"}, {"chkSaveFilename", "off disabled"},
        {"fraSaveFilename", "disabled"}},
       {.ProcessAll = true, .VarScope = "LOCAL", .VarNumber = 2, .Filter = "*"}},
      {"subdirectories come up with their cascade; the filter is set after it put * there",
       {.LocalDir = "/srv/in", .Filter = "*.log", .IncludeSubdir = true}, {},
       {{"chkProcesAll", "on disabled"}, {"chkCopySpecific", "off disabled"},
        {"fraLocalfile", "disabled"}, {"fraSaveFilename", "disabled"},
        {"optOverwrite", "on disabled"}, {"txtFilter", "*.log"}},
       {.LocalDir = "/srv/in", .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .Filter = "*.log", .IncludeSubdir = true}},
      {"values the lists lack leave them unselected; only the exact GLOBAL selects global",
       {.TransferMode = 7, .VarScope = "global", .VarNumber = 16}, {},
       {{"cmbMode", ""}, {"cmbVarNum", "disabled"}, {"optLocal", "on disabled"}},
       {.TransferMode = 7, .VarScope = "LOCAL", .VarNumber = 16, .Filter = "*"}},
      {"copy specific comes up with its file name",
       {.ProcessAll = true, .CopySpecific = true, .SpecificFilename = "report.pdf"}, {},
       {{"chkCopySpecific", "on"}, {"chkProcesAll", "off disabled"},
        {"txtSpecificFilename", "report.pdf"}, {"txtFilter", "* disabled"}, {"Picture6", ""}},
       {.VarScope = "LOCAL", .CopySpecific = true, .SpecificFilename = "report.pdf",
        .Filter = "*"}},
      {"ticking copy specific disables the other selections",
       {.ProcessAll = true, .Filter = "*.txt"},
       {{"chkCopySpecific", "on"}, {"txtSpecificFilename", "report.pdf"}},
       {{"Picture6", ""}, {"chkProcesAll", "off disabled"}, {"chkIncludeSubdir", "off disabled"},
        {"txtFilter", "*.txt disabled"}},
       {.VarScope = "LOCAL", .CopySpecific = true, .SpecificFilename = "report.pdf",
        .Filter = "*.txt"}},
      {"clearing copy specific empties the name", {.ProcessAll = true, .Filter = "*.txt"},
       {{"chkCopySpecific", "on"}, {"txtSpecificFilename", "report.pdf"},
        {"chkCopySpecific", "off"}},
       {{"txtSpecificFilename", "disabled"}, {"Picture6", "disabled"}, {"chkProcesAll", "off"},
        {"chkIncludeSubdir", "off"}, {"txtFilter", "*.txt"}},
       {.VarScope = "LOCAL", .Filter = "*.txt"}},
      {"subdirectories cascade; the filter setting waits until the user leaves the box",
       {.LocalDir = "/srv/in", .SaveFilename = true, .VarNumber = 1, .Filter = "*.log"},
       {{"chkIncludeSubdir", "on"}},
       {{"txtFilter", "*"}, {"chkProcesAll", "on disabled"}, {"chkCopySpecific", "off disabled"},
        {"fraLocalfile", "disabled"}, {"optOverwrite", "on disabled"},
        {"fraSaveFilename", "disabled"}, {"chkSaveFilename", "off disabled"}},
       {.LocalDir = "/srv/in", .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .VarNumber = 1, .Filter = "*.log", .IncludeSubdir = true}},
      {"clearing subdirectories keeps process all ticked; the options keep their own state",
       {.LocalDir = "/srv/in", .SaveFilename = true, .VarNumber = 1, .Filter = "*.log"},
       {{"chkIncludeSubdir", "on"}, {"chkIncludeSubdir", "off"}},
       {{"chkProcesAll", "on"}, {"chkCopySpecific", "off"}, {"fraLocalfile", ""},
        {"fraSaveFilename", ""}, {"optLocal", "on disabled"}},
       {.LocalDir = "/srv/in", .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .VarNumber = 1, .Filter = "*.log"}},
      {"ZIP alone", {}, {{"cmbMode", "ZIP"}}, {{"cmbMode", "ZIP"}},
       {.TransferMode = 3, .VarScope = "LOCAL", .Filter = "*"}},
      {"ZIP then subdirectories warns and takes IMAGE", {},
       {{"cmbMode", "ZIP"}, {"chkIncludeSubdir", "on"}}, {{"cmbMode", "IMAGE"}},
       {.TransferMode = 1, .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .Filter = "*", .IncludeSubdir = true},
       {kZipWarning}},
      {"ZIP with subdirectories is refused again; another mode is taken", {},
       {{"cmbMode", "ZIP"}, {"chkIncludeSubdir", "on"}, {"cmbMode", "ZIP"}, {"cmbMode", "ASCII"}},
       {{"cmbMode", "ASCII"}},
       {.TransferMode = 0, .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .Filter = "*", .IncludeSubdir = true},
       {kZipWarning, kZipWarning}},
      {"ticks and options write their settings", {},
       {{"chkPASV", "on"}, {"chkAutoDelete", "on"}, {"chkSaveFilename", "on"},
        {"cmbVarNum", "12"}, {"optGlobal", "on"}},
       {{"optLocal", "off"}, {"optGlobal", "on"}, {"cmbVarNum", "12"}},
       {.Passive = true, .AutoDelete = true, .SaveFilename = true, .VarScope = "GLOBAL",
        .VarNumber = 12, .Filter = "*"}},
      {"cleared ticks and the local option write theirs", {},
       {{"chkPASV", "on"}, {"chkAutoDelete", "on"}, {"chkSaveFilename", "on"}, {"optGlobal", "on"},
        {"optLocal", "on"}, {"chkPASV", "off"}, {"chkAutoDelete", "off"}},
       {{"optLocal", "on"}, {"optGlobal", "off"}},
       {.SaveFilename = true, .VarScope = "LOCAL", .Filter = "*"}},
      {"processing all files clears and disables the variable", {},
       {{"chkSaveFilename", "on"}, {"cmbVarNum", "12"}, {"chkProcesAll", "on"}},
       {{"chkSaveFilename", "off disabled"}, {"fraSaveFilename", "disabled"},
        {"optLocal", "on disabled"}, {"optGlobal", "off disabled"}, {"cmbVarNum", "12 disabled"}},
       {.ProcessAll = true, .VarScope = "LOCAL", .VarNumber = 12, .Filter = "*"}},
      {"clearing process all enables the variable", {},
       {{"chkSaveFilename", "on"}, {"chkProcesAll", "on"}, {"chkProcesAll", "off"}},
       {{"fraSaveFilename", ""}, {"chkSaveFilename", "off"}},
       {.VarScope = "LOCAL", .Filter = "*"}},
      {"a local folder text enables the local file options; it is written when left", {},
       {{"txtLocalDir", "x"}, {"optOverwrite", "on"}}, {{"optSkip", "off"}, {"optOverwrite", "on"}},
       {.Overwrite = true, .VarScope = "LOCAL", .Filter = "*"}},
      {"skip, then no local folder text", {},
       {{"txtLocalDir", "x"}, {"optOverwrite", "on"}, {"optSkip", "on"}, {"txtLocalDir", ""}},
       {{"optSkip", "on disabled"}, {"optOverwrite", "off disabled"}},
       {.VarScope = "LOCAL", .Filter = "*"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Open(c.given, /*active=*/false);
    SetLooks(dialog_.get(), c.set);
    ExpectLooks(dialog_.get(), c.looks);
    EXPECT_EQ(settings_, c.after);
    EXPECT_EQ(ui_.messages, c.messages);
    if (!c.messages.empty()) {
      EXPECT_EQ(ui_.owner, dialog_.get());
    }
  }
}

TEST_F(CommandDialogTest, BrowseStartsAtTheBoxOrHomeAndCancelKeepsTheBox) {
  Open({}, /*active=*/false);
  auto* browse = Get<QPushButton>("cmdBrowseDestination");
  browse->click();
  EXPECT_EQ(ui_.folder_requests,
            std::vector{"Browse Directory @ " + QDir::homePath().toStdString()});
  EXPECT_EQ(ui_.owner, dialog_.get());
  EXPECT_EQ(Look(dialog_.get(), "txtLocalDir"), "");

  ui_.folder_answer = "/srv/incoming";
  browse->click();
  EXPECT_EQ(settings_.LocalDir, "/srv/incoming");
  ExpectLooks(dialog_.get(), {{"txtLocalDir", "/srv/incoming"}, {"optSkip", "on"}});

  Get<QLineEdit>("txtLocalDir")->setText("/no/such/folder");
  ui_.folder_answer.reset();
  browse->click();
  EXPECT_EQ(ui_.folder_requests.back(), "Browse Directory @ /no/such/folder");
  EXPECT_EQ(Look(dialog_.get(), "txtLocalDir"), "/no/such/folder");
  EXPECT_EQ(settings_.LocalDir, "/no/such/folder");
}

TEST_F(CommandDialogTest, ProxySetupOpensTheProxyDialogModallyWithoutAnOwner) {
  Open({}, /*active=*/false);
  QString seen;
  {
    const ModalAnswer answer([&](QWidget* modal) {
      seen = modal->objectName() + " " + modal->windowTitle() + " " +
             (modal->parentWidget() ? "owned " : "") + QString::number(modal->windowModality());
      Child<QPushButton>(modal, "cmdCancel")->click();
    });
    Get<QPushButton>("cmdProxySetup")->click();
  }
  EXPECT_EQ(seen, "frmProxySetup Proxy Setup " + QString::number(Qt::ApplicationModal));
  // Its load proposes 1080 even though the user cancelled.
  EXPECT_EQ(settings_.ProxyPort, 1080);
}

TEST_F(CommandDialogTest, PortAndTimeoutAreCheckedWhenLeft) {
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
      EnterAndLeave(Get<QLineEdit>(name), typed);
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
      EnterAndLeave(Get<QLineEdit>(name), typed);
      EXPECT_EQ(Get<QLineEdit>(name)->text(), typed);
      EXPECT_EQ(stored(), value);
      EXPECT_TRUE(ui_.messages.empty());
      EXPECT_EQ(QApplication::focusWidget(), Get(port ? "txtTimeout" : "cmbMode"));
    }
  }
}

TEST_F(CommandDialogTest, EnteringPortTimeoutAndFilterSelectsTheirText) {
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

TEST_F(CommandDialogTest, TextBoxesAreStoredWhenLeft) {
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
      EnterAndLeave(Get<QLineEdit>(box), typed);
      EXPECT_EQ(Get<QLineEdit>(box)->text(), stored);
      EXPECT_EQ(settings_.*field, stored);
    }
  }
}

// A refused port shows the corrected box first; Ok right after typing takes the typed text.
TEST_F(CommandDialogTest, OkChecksTheBoxBeingEditedAndTakesItsText) {
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

TEST_F(CommandDialogTest, MissingRequiredDataBeepsAndKeepsTheDialogOpen) {
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

TEST_F(CommandDialogTest, SaveWritesTheRecordFromTheSettingsNotTheBoxes) {
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

TEST_F(CommandDialogTest, CancelAndClosingLeaveTheRecordAlone) {
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
