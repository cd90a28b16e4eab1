// The command editor's control rules and their cascades, the browse button and the proxy button.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "dialog_test_support.h"

namespace pullwire::testing {
namespace {

TEST_F(CommandDialogTest, CopySpecificDisablesTheOtherSelectionsAndClearingEmptiesTheName) {
  Open({.ProcessAll = true, .Filter = "*.txt"}, /*active=*/false);
  auto* copy = Get<QCheckBox>("chkCopySpecific");
  copy->setChecked(true);
  ExpectLooks(dialog_.get(), {{"txtSpecificFilename", ""}, {"Picture6", ""},
                              {"chkProcesAll", "off disabled"}, {"chkIncludeSubdir", "off disabled"},
                              {"txtFilter", "*.txt disabled"}});
  EXPECT_EQ(settings_, (CommandSettings{.VarScope = "LOCAL", .CopySpecific = true, .Filter = "*.txt"}));
  Get<QLineEdit>("txtSpecificFilename")->setText("report.pdf");
  EXPECT_EQ(settings_.SpecificFilename, "report.pdf");

  copy->setChecked(false);
  ExpectLooks(dialog_.get(), {{"txtSpecificFilename", "disabled"}, {"Picture6", "disabled"},
                              {"chkProcesAll", "off"}, {"chkIncludeSubdir", "off"},
                              {"txtFilter", "*.txt"}});
  EXPECT_EQ(settings_, (CommandSettings{.VarScope = "LOCAL", .Filter = "*.txt"}));
}

TEST_F(CommandDialogTest, IncludeSubdirectoriesCascadesAndClearingKeepsProcessAllTicked) {
  Open({.LocalDir = "/srv/in", .SaveFilename = true, .VarNumber = 1, .Filter = "*.log"},
       /*active=*/false);
  ASSERT_EQ(Look(dialog_.get(), "chkSaveFilename"), "on");
  auto* subdirs = Get<QCheckBox>("chkIncludeSubdir");
  subdirs->setChecked(true);
  // The filter box shows "*"; the setting keeps "*.log" until the user leaves the box.
  ExpectLooks(dialog_.get(), {{"txtFilter", "*"}, {"chkProcesAll", "on disabled"},
                              {"chkCopySpecific", "off disabled"}, {"fraLocalfile", "disabled"},
                              {"optOverwrite", "on disabled"}, {"fraSaveFilename", "disabled"},
                              {"chkSaveFilename", "off disabled"}});
  EXPECT_EQ(settings_, (CommandSettings{.LocalDir = "/srv/in", .ProcessAll = true, .Overwrite = true,
                                        .VarScope = "LOCAL", .VarNumber = 1, .Filter = "*.log",
                                        .IncludeSubdir = true}));
  EXPECT_TRUE(ui_.messages.empty());

  subdirs->setChecked(false);
  // The options keep their own state inside the re-enabled frame.
  ExpectLooks(dialog_.get(), {{"chkProcesAll", "on"}, {"chkCopySpecific", "off"},
                              {"fraLocalfile", ""}, {"fraSaveFilename", ""},
                              {"optLocal", "on disabled"}});
  EXPECT_FALSE(settings_.IncludeSubdir);
}

TEST_F(CommandDialogTest, ZipAndIncludeSubdirectoriesExcludeEachOther) {
  Open({}, /*active=*/false);
  auto* mode = Get<QComboBox>("cmbMode");
  mode->setCurrentIndex(3);
  EXPECT_EQ(settings_.TransferMode, 3);
  Get<QCheckBox>("chkIncludeSubdir")->setChecked(true);
  EXPECT_EQ(ui_.messages, std::vector{kZipWarning});
  EXPECT_EQ(mode->currentText(), "IMAGE");
  EXPECT_EQ(settings_.TransferMode, 1);

  mode->setCurrentIndex(3);
  EXPECT_EQ(ui_.messages, std::vector({kZipWarning, kZipWarning}));
  EXPECT_EQ(mode->currentText(), "IMAGE");
  EXPECT_EQ(settings_.TransferMode, 1);

  mode->setCurrentIndex(0);
  EXPECT_EQ(settings_.TransferMode, 0);
  EXPECT_EQ(ui_.messages.size(), 2u);
}

TEST_F(CommandDialogTest, TicksAndOptionsWriteTheirSettings) {
  Open({}, /*active=*/false);
  Get<QCheckBox>("chkPASV")->setChecked(true);
  Get<QCheckBox>("chkAutoDelete")->setChecked(true);
  Get<QCheckBox>("chkSaveFilename")->setChecked(true);
  ExpectLooks(dialog_.get(), {{"optLocal", "on"}, {"optGlobal", "off"}, {"cmbVarNum", ""}});
  Get<QComboBox>("cmbVarNum")->setCurrentIndex(11);
  Get<QRadioButton>("optGlobal")->setChecked(true);
  EXPECT_EQ(settings_, (CommandSettings{.Passive = true, .AutoDelete = true, .SaveFilename = true,
                                        .VarScope = "GLOBAL", .VarNumber = 12, .Filter = "*"}));
  Get<QRadioButton>("optLocal")->setChecked(true);
  Get<QCheckBox>("chkPASV")->setChecked(false);
  Get<QCheckBox>("chkAutoDelete")->setChecked(false);
  EXPECT_EQ(settings_, (CommandSettings{.SaveFilename = true, .VarScope = "LOCAL", .VarNumber = 12,
                                        .Filter = "*"}));

  // Processing all files clears and disables the variable.
  auto* all = Get<QCheckBox>("chkProcesAll");
  all->setChecked(true);
  ExpectLooks(dialog_.get(), {{"chkSaveFilename", "off disabled"}, {"fraSaveFilename", "disabled"},
                              {"optLocal", "on disabled"}, {"optGlobal", "off disabled"},
                              {"cmbVarNum", "12 disabled"}});
  EXPECT_TRUE(settings_.ProcessAll);
  EXPECT_FALSE(settings_.SaveFilename);
  all->setChecked(false);
  EXPECT_FALSE(settings_.ProcessAll);
  EXPECT_EQ(Look(dialog_.get(), "fraSaveFilename"), "");
}

TEST_F(CommandDialogTest, LocalDirectoryTextEnablesTheLocalFileOptions) {
  Open();
  auto* local = Get<QLineEdit>("txtLocalDir");
  local->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(local, "x");
  ExpectLooks(dialog_.get(), {{"optSkip", "on"}, {"optOverwrite", "off"}});
  Get<QRadioButton>("optOverwrite")->setChecked(true);
  EXPECT_TRUE(settings_.Overwrite);
  Get<QRadioButton>("optSkip")->setChecked(true);
  EXPECT_FALSE(settings_.Overwrite);
  QTest::keyClick(local, Qt::Key_Backspace);
  ExpectLooks(dialog_.get(), {{"optSkip", "on disabled"}, {"optOverwrite", "off disabled"}});
  EXPECT_EQ(settings_.LocalDir, "");  // written only when the box is left
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
  QWidget* seen_parent = dialog_.get();
  Qt::WindowModality seen_modality = Qt::NonModal;
  {
    const ModalAnswer answer([&](QWidget* modal) {
      seen = modal->objectName() + " " + modal->windowTitle();
      seen_parent = modal->parentWidget();
      seen_modality = modal->windowModality();
      Child<QPushButton>(modal, "cmdCancel")->click();
    });
    Get<QPushButton>("cmdProxySetup")->click();
  }
  EXPECT_EQ(seen, "frmProxySetup Proxy Setup");
  EXPECT_EQ(seen_parent, nullptr);
  EXPECT_EQ(seen_modality, Qt::ApplicationModal);
  // Its load proposes 1080 even though the user cancelled.
  EXPECT_EQ(settings_.ProxyPort, 1080);
}

}  // namespace
}  // namespace pullwire::testing
