// The command editor: captions, tab order, fill and rules, focus steps, required data, Ok, cancel.
#include <array>
#include <functional>
#include <string_view>

#include <QClipboard>
#include <QDir>
#include <QPushButton>
#include <QRegularExpression>

#include "dialog_test_support.h"

namespace pullwire::testing {
namespace {

using S = CommandSettings;

// Waits (bounded) until `condition` holds, letting timers such as an access key's run.
template <class Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 100 && !condition(); ++i) QTest::qWait(10);
  return condition();
}

// Rows for controls (txt, chk, cmd, opt, cmb) are in tab order; lists show their items.
TEST_F(CommandDialogTest, ControlsShowTheirCaptionsTipsAndLimitsInTabOrder) {
  Open();
  const std::pair<const char*, QString> controls[] = {
      {"txtHost", ""}, {"txtUsername", ""}, {"txtPassword", ""}, {"chkPASV", "PASV Mode"},
      {"txtPort", "21"}, {"txtTimeout", "30"}, {"cmbMode", "ASCII|IMAGE|EBCDIC|ZIP"},
      {"cmdProxySetup", "Proxy Setup [configure proxy-settings]"}, {"txtRemoteDir", ""},
      {"txtFilter", "* [separate filters by ;]"},
      {"chkAutoDelete", "Automatically Delete Remote File After Copy"},
      {"chkProcesAll", "Process All Remote Files"}, {"chkIncludeSubdir", "Include Subdirectories"},
      {"chkCopySpecific", "Copy Specific File"}, {"txtSpecificFilename", ""}, {"txtLocalDir", ""},
      {"cmdBrowseDestination", " [browse to select file]"}, {"optSkip", "Skip"},
      {"optOverwrite", "Overwrite"}, {"chkSaveFilename", "Put Filename in Variable :"},
      {"cmbVarNum", "1|2|3|4|5|6|7|8|9|10|11|12|13|14|15"}, {"optLocal", "Local"},
      {"optGlobal", "Global"}, {"cmdSave", "&Ok [save]"}, {"cmdCancel", "&Cancel [cancel]"},
      {"fraCommand", "Command: Pull-Wire"}, {"fraSaveFilename", "Save Filename"},
      {"fraLocalfile", "If Localfile Exists"}, {"lblRemoteDir", "Remote-directory :"},
      {"lblLocalDir", "Local-directory to Copy File to :"}, {"lblRemoteHost", "Remote Host :"},
      {"lblUsername", "Username :"}, {"lblPassword", "Password :"}, {"Label1", "Port :"},
      {"Label2", "Timeout :"}, {"Label3", "Transfer Type :"}, {"Label4", "sec."},
      {"Label5", "Filter :"}, {"Picture1", " [click to select command/variable]"},
      {"Picture7", " [Powered by Pullwire FTP engine]"}};
  QStringList expected_order;
  for (const auto& [name, caption] : controls) {
    EXPECT_EQ(CaptionOf(Get(name)), caption) << name;
    if (QRegularExpression("^(txt|chk|cmd|opt|cmb)").match(name).hasMatch()) expected_order << name;
  }
  QStringList order;
  QWidget* widget = Get("txtHost");
  for (int step = 0; step < 200 && (step == 0 || widget != Get("txtHost")); ++step) {
    if (widget->focusPolicy() & Qt::TabFocus) order << widget->objectName();
    widget = widget->nextInFocusChain();
  }
  EXPECT_EQ(order, expected_order);
  EXPECT_EQ(dialog_->windowTitle(), "Edit Command: Pull Wire");
  EXPECT_EQ(Get<QLineEdit>("txtPassword")->echoMode(), QLineEdit::Password);

  // What the user types or pastes is cut to 4 (port) or 3 (time-out) characters at the end of
  // the insertion; a longer text the fill put there may shrink but not grow.
  const auto paste = [&](const char* name, const char* before, int caret, const char* text) {
    auto* box = Get<QLineEdit>(name);
    box->setFocus(Qt::TabFocusReason);
    box->setText(before);
    box->setCursorPosition(caret);
    QApplication::clipboard()->setText(text);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    return box->text();
  };
  EXPECT_EQ(paste("txtPort", "21", 1, "3456"), "2341");
  EXPECT_EQ(paste("txtPort", "32000", 0, "1"), "32000");
  EXPECT_EQ(paste("txtTimeout", "", 0, "98765"), "987");
  TypeReplacing(Get<QLineEdit>("txtPort"), "123456");
  EXPECT_EQ(Look(dialog_.get(), "txtPort"), "1234");
}

// The fill runs each control's rules as the user's changes do; a case without settings goes on.
TEST_F(CommandDialogTest, FillAndChangesRunTheRules) {
  const S full = {
      .Host = "ftp.example.org", .Username = "anna", .Password = "s3cret", .Port = 32000,
      .TransferMode = 2, .Timeout = 45, .Passive = true, .RemoteDir = "/pub", .LocalDir = "/srv/in",
      .AutoDelete = true, .SaveFilename = true, .VarScope = "GLOBAL", .VarNumber = 7,
      .Filter = "*.csv;*.txt"};
  const struct {
    const char* what; std::optional<S> given; Looks set /* by the user */, looks; S after;
    std::vector<std::string> events = {};
  } cases[] = {
      {"new: shows port, time-out, IMAGE (slot 5 empty) but keeps 0", S{.TransferMode = 1}, {},
       {{"txtPort", "21"}, {"txtTimeout", "30"}, {"cmbMode", "IMAGE"}, {"txtFilter", "*"},
        {"chkPASV", "off"}, {"chkAutoDelete", "off"}, {"chkProcesAll", "off"},
        {"chkIncludeSubdir", "off"}, {"chkCopySpecific", "off"}, {"chkSaveFilename", "off"},
        {"txtSpecificFilename", "disabled"}, {"Picture6", "disabled"}, {"Picture1", ""},
        {"optSkip", "on disabled"}, {"optOverwrite", "off disabled"}, {"optLocal", "on disabled"},
        {"optGlobal", "off disabled"}, {"cmbVarNum", "disabled"}, {"fraLocalfile", ""}},
       {.TransferMode = 1, .VarScope = "LOCAL", .Filter = "*"}},
      {"every stored value (a port longer than a user may type)", full, {},
       {{"txtHost", "ftp.example.org"}, {"txtUsername", "anna"}, {"txtPassword", "s3cret"},
        {"txtPort", "32000"}, {"cmbMode", "EBCDIC"}, {"txtTimeout", "45"}, {"chkPASV", "on"},
        {"txtRemoteDir", "/pub"}, {"txtLocalDir", "/srv/in"}, {"chkAutoDelete", "on"},
        {"optSkip", "on"}, {"chkSaveFilename", "on"}, {"optGlobal", "on"}, {"cmbVarNum", "7"},
        {"txtFilter", "*.csv;*.txt"}},
       full},
      {"ZIP with subdirectories warns once", S{.TransferMode = 3, .IncludeSubdir = true}, {},
       {{"cmbMode", "IMAGE"}},
       {.TransferMode = 1, .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .Filter = "*", .IncludeSubdir = true},
       {kZipWarning}},
      {"subdirectories' cascade; the filter is set after it put * there",
       S{.LocalDir = "/srv/in", .Filter = "*.log", .IncludeSubdir = true}, {},
       {{"chkProcesAll", "on disabled"}, {"chkCopySpecific", "off disabled"},
        {"fraLocalfile", "disabled"}, {"fraSaveFilename", "disabled"},
        {"optOverwrite", "on disabled"}, {"txtFilter", "*.log"}},
       {.LocalDir = "/srv/in", .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .Filter = "*.log", .IncludeSubdir = true}},
      {"values the lists lack; only GLOBAL selects global",
       S{.TransferMode = 7, .VarScope = "global", .VarNumber = 16}, {},
       {{"cmbMode", ""}, {"cmbVarNum", "disabled"}, {"optLocal", "on disabled"}},
       {.TransferMode = 7, .VarScope = "LOCAL", .VarNumber = 16, .Filter = "*"}},
      {"copy specific disables the other selections",
       S{.ProcessAll = true, .CopySpecific = true, .SpecificFilename = "a.pdf", .Filter = "*.txt"},
       {},
       {{"chkCopySpecific", "on"}, {"txtSpecificFilename", "a.pdf"}, {"Picture6", ""},
        {"chkProcesAll", "off disabled"}, {"chkIncludeSubdir", "off disabled"},
        {"txtFilter", "*.txt disabled"}},
       {.VarScope = "LOCAL", .CopySpecific = true, .SpecificFilename = "a.pdf", .Filter = "*.txt"}},
      {"clearing copy specific empties the name", {}, {{"chkCopySpecific", "off"}},
       {{"txtSpecificFilename", "disabled"}, {"Picture6", "disabled"}, {"chkProcesAll", "off"},
        {"chkIncludeSubdir", "off"}, {"txtFilter", "*.txt"}},
       {.VarScope = "LOCAL", .Filter = "*.txt"}},
      {"subdirectories' cascade; the filter setting waits until the box is left",
       S{.LocalDir = "/srv/in", .SaveFilename = true, .VarNumber = 1, .Filter = "*.log"},
       {{"chkIncludeSubdir", "on"}},
       {{"txtFilter", "*"}, {"chkProcesAll", "on disabled"}, {"chkCopySpecific", "off disabled"},
        {"fraLocalfile", "disabled"}, {"optOverwrite", "on disabled"},
        {"fraSaveFilename", "disabled"}, {"chkSaveFilename", "off disabled"},
        {"optLocal", "on disabled"}, {"optGlobal", "off disabled"}, {"cmbVarNum", "1 disabled"}},
       {.LocalDir = "/srv/in", .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .VarNumber = 1, .Filter = "*.log", .IncludeSubdir = true}},
      {"clearing subdirectories keeps process all; the options keep their state", {},
       {{"chkIncludeSubdir", "off"}},
       {{"chkProcesAll", "on"}, {"chkCopySpecific", "off"}, {"fraLocalfile", ""},
        {"fraSaveFilename", ""}, {"optLocal", "on disabled"}},
       {.LocalDir = "/srv/in", .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .VarNumber = 1, .Filter = "*.log"}},
      {"then clearing process all", {}, {{"chkProcesAll", "off"}},
       {{"fraSaveFilename", ""}, {"chkSaveFilename", "off"}},
       {.LocalDir = "/srv/in", .Overwrite = true, .VarScope = "LOCAL", .VarNumber = 1,
        .Filter = "*.log"}},
      {"ZIP alone", S{}, {{"cmbMode", "ZIP"}}, {{"cmbMode", "ZIP"}},
       {.TransferMode = 3, .VarScope = "LOCAL", .Filter = "*"}},
      {"then subdirectories warn, ZIP is refused again, another mode is taken", {},
       {{"chkIncludeSubdir", "on"}, {"cmbMode", "ZIP"}, {"cmbMode", "ASCII"}},
       {{"cmbMode", "ASCII"}},
       {.TransferMode = 0, .ProcessAll = true, .Overwrite = true, .VarScope = "LOCAL",
        .Filter = "*", .IncludeSubdir = true},
       {kZipWarning, kZipWarning}},
      {"ticks, the list and the options write their settings, also when cleared", S{},
       {{"chkPASV", "on"}, {"chkAutoDelete", "on"}, {"chkSaveFilename", "on"}, {"cmbVarNum", "12"},
        {"optGlobal", "on"}, {"chkPASV", "off"}},
       {{"optLocal", "off"}, {"optGlobal", "on"}, {"cmbVarNum", "12"}},
       {.AutoDelete = true, .SaveFilename = true, .VarScope = "GLOBAL", .VarNumber = 12,
        .Filter = "*"}},
      {"then the local option", {}, {{"optLocal", "on"}},
       {{"optLocal", "on"}, {"optGlobal", "off"}},
       {.AutoDelete = true, .SaveFilename = true, .VarScope = "LOCAL", .VarNumber = 12,
        .Filter = "*"}},
      {"a local folder text enables the local file options; it is written when left", S{},
       {{"txtLocalDir", "x"}, {"optOverwrite", "on"}}, {{"optSkip", "off"}, {"optOverwrite", "on"}},
       {.Overwrite = true, .VarScope = "LOCAL", .Filter = "*"}},
      {"skip, then no local folder text", {}, {{"optSkip", "on"}, {"txtLocalDir", ""}},
       {{"optSkip", "on disabled"}, {"optOverwrite", "off disabled"}},
       {.VarScope = "LOCAL", .Filter = "*"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.given) Open(*c.given, /*active=*/false);
    SetLooks(dialog_.get(), c.set);
    ExpectLooks(dialog_.get(), c.looks);
    EXPECT_EQ(settings_, c.after);
    EXPECT_EQ(ui_.events, c.events);
    EXPECT_EQ(ui_.owner, c.events.empty() ? nullptr : dialog_.get());
  }
}

TEST_F(CommandDialogTest, BrowseAndProxySetupOpenTheirWindows) {
  Open({}, /*active=*/false);
  auto* browse = Get<QPushButton>("cmdBrowseDestination");
  browse->click();  // cancelled: the box is kept; empty, the chooser started at home
  EXPECT_EQ(ui_.owner, dialog_.get());
  EXPECT_EQ(Look(dialog_.get(), "txtLocalDir"), "");
  ui_.folder_answer = "/srv/incoming";
  browse->click();
  EXPECT_EQ(settings_.LocalDir, "/srv/incoming");
  ExpectLooks(dialog_.get(), {{"txtLocalDir", "/srv/incoming"}, {"optSkip", "on"}});
  Get<QLineEdit>("txtLocalDir")->setText("/no/such/folder");
  ui_.folder_answer.reset();
  browse->click();
  const std::string home = "chooser Browse Directory @ " + QDir::homePath().toStdString();
  EXPECT_EQ(ui_.events,
            (std::vector<std::string>{home, home, "chooser Browse Directory @ /no/such/folder"}));
  EXPECT_EQ(Look(dialog_.get(), "txtLocalDir"), "/no/such/folder");
  EXPECT_EQ(settings_.LocalDir, "/no/such/folder");

  // Proxy Setup opens the proxy dialog modally, without an owner.
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
}

// A box left stores its text (numbers rounded half to even); a refused one is reset and entered
// again, and the time-out box the focus only flickered through stores nothing.
TEST_F(CommandDialogTest, BoxesAreCheckedAndStoredWhenLeft) {
  const std::string kTimeoutRefused = Refused("<Timeout> must be between 1 and 999!");
  const struct {
    const char* box; int slot; const char *typed, *shown, *stored; std::string refused;
  } cases[] = {
      {"txtHost", 1, "  ftp.example.org ", "  ftp.example.org ", "  ftp.example.org "},
      {"txtUsername", 2, " anna", " anna", " anna"},
      {"txtPassword", 3, "pa ss ", "pa ss ", "pa ss "},
      {"txtLocalDir", 9, "/srv/in ", "/srv/in ", "/srv/in "},
      {"txtFilter", 23, "", "*", "*"},
      {"txtRemoteDir", 8, "/", "/", "/"},
      {"txtRemoteDir", 8, "C:\\in\\", "C:\\in", "C:\\in"},
      {"txtRemoteDir", 8, "/pub//", "/pub/", "/pub/"},
      {"txtPort", 4, "21.5", "21.5", "22"},
      {"txtPort", 4, "-0.5", "21", "21", kPortRefused},
      {"txtPort", 4, "9e9", "21", "21", kPortRefused},
      {"txtTimeout", 6, "999", "999", "999"},
      {"txtTimeout", 6, "2.5", "2.5", "2"},
      {"txtTimeout", 6, "1e3", "30", "30", kTimeoutRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.box) + " '" + c.typed + "'");
    Open();
    auto* box = Get<QLineEdit>(c.box);
    TypeReplacing(box, c.typed);
    PressTab();
    ModuleState saved;
    EncodeEditedRecord(settings_, saved);
    EXPECT_EQ(box->text(), c.shown);
    EXPECT_EQ((*saved.EditedRecord)[c.slot], c.stored);
    EXPECT_EQ(ui_.events, std::vector<std::string>(!c.refused.empty(), c.refused));
    EXPECT_EQ(QApplication::focusWidget() == box, !c.refused.empty());
    if (c.refused.empty()) continue;
    EXPECT_EQ(box->selectedText(), c.shown);
    EXPECT_EQ((*saved.EditedRecord)[6], c.slot == 6 ? "30" : "0");
  }
  // The port box selects its text also when entered by a click, after the click placed the caret.
  Open();
  auto* port = Get<QLineEdit>("txtPort");
  QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, QPoint(2, port->height() / 2));
  EXPECT_TRUE(WaitFor([port] { return port->selectedText() == "21"; }));
}

// A refused port shows the corrected box first; Ok right after typing takes the typed text.
TEST_F(CommandDialogTest, OkChecksTheBoxBeingEditedAndTakesItsText) {
  for (const bool by_access_key : {true, false}) {
    SCOPED_TRACE(by_access_key ? "Alt+O" : "mouse");
    const auto ok = [&] {
      if (by_access_key) QTest::keyClick(dialog_.get(), Qt::Key_O, Qt::AltModifier);
      if (!by_access_key) QTest::mouseClick(Get<QPushButton>("cmdSave"), Qt::LeftButton);
    };
    Open(kCompleteCommand);
    auto* port = Get<QLineEdit>("txtPort");
    TypeReplacing(port, "0");
    ok();
    // The access key's click comes after a short press animation.
    ASSERT_TRUE(WaitFor([this] { return !ui_.events.empty(); }));
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
    EXPECT_EQ(state_.EditedRecordCount, 24);
    EXPECT_EQ(state_.EditedRecord.value()[1], "typed.example.org");  // throws when none
    EXPECT_EQ(state_.EditedRecord.value()[4], "21");
    EXPECT_EQ(ui_.events, std::vector{kPortRefused});
  }
}

// Without a password, a transfer type, a variable's number or a file name, Ok beeps, says so and
// keeps the dialog. Else it saves the settings, not the boxes: the port shown but never entered
// stays 0; blanks are data.
TEST_F(CommandDialogTest, OkSavesTheSettingsOnlyWithTheRequiredData) {
  using Record = std::array<std::string, 25>;
  const std::vector<std::string> missing = {"beep", kMissingData};
  const std::pair<std::function<void(S&)>, std::optional<Record>> cases[] = {
      {[](S& s) { s.Password.clear(); }, {}},
      {[](S& s) { s.TransferMode = 9; }, {}},
      {[](S& s) { s.SaveFilename = true; }, {}},
      {[](S& s) { s.CopySpecific = true; }, {}},
      {[](S& s) { s.Passive = true, s.Password = " "; },
       Record{"", "ftp.example.org", "anna", " ", "0", "1", "0", "1", "/pub", "/srv/in", "0", "0",
              "0", "0", "", "0", "", "", "0", "LOCAL", "0", "0", "", "*", "0"}},
  };
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const auto& [change, record] = cases[i];
    S given = kCompleteCommand;
    change(given);
    Open(given);
    const S before = settings_;
    Get<QPushButton>("cmdSave")->click();
    EXPECT_EQ(ui_.events, record ? std::vector<std::string>{} : missing);
    EXPECT_EQ(dialog_->isVisible(), !record);
    EXPECT_EQ(state_.EditedRecordCount, record ? 24 : 0);
    EXPECT_EQ(state_.EditedRecord, record);
    EXPECT_EQ(settings_, before);
  }
}

TEST_F(CommandDialogTest, CancelAndClosingLeaveTheRecordAlone) {
  for (const std::string_view way : {"button", "Escape"}) {
    SCOPED_TRACE(way);
    Open(kCompleteCommand);
    TypeReplacing(Get<QLineEdit>("txtHost"), "changed.example.org");
    if (way == "button") Get<QPushButton>("cmdCancel")->click();
    if (way == "Escape") QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([this] { return !dialog_->isVisible(); }));
    EXPECT_EQ(dialog_->result(), QDialog::Rejected);
    EXPECT_EQ(state_.EditedRecordCount, 0);
    EXPECT_FALSE(state_.EditedRecord.has_value());
    // The cancel button takes the focus first, so the box being edited was still written.
    EXPECT_EQ(settings_.Host, way == "button" ? "changed.example.org" : "ftp.example.org");
  }
}

}  // namespace
}  // namespace pullwire::testing
