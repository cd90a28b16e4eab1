// The command editor's fill from the settings and its control rules with their cascades, the
// browse button and the proxy button.
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

#include "dialog_test_support.h"

namespace pullwire::testing {
namespace {

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

}  // namespace
}  // namespace pullwire::testing
