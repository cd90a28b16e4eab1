// The command editor's control rules and their cascades, the browse button and the proxy button.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "dialog_test_support.h"

namespace pullwire::testing {
namespace {

using ::testing::ElementsAre;

TEST_F(CommandDialogTest, CopySpecificDisablesTheOtherSelectionsAndClearingEmptiesTheName) {
  settings_.ProcessAll = true;
  settings_.Filter = "*.txt";
  Open();
  auto* copy = Get<QCheckBox>("chkCopySpecific");
  auto* name = Get<QLineEdit>("txtSpecificFilename");
  copy->setChecked(true);
  EXPECT_TRUE(settings_.CopySpecific);
  EXPECT_TRUE(name->isEnabled());
  EXPECT_TRUE(Get<QLabel>("Picture6")->isEnabled());
  EXPECT_FALSE(Get<QCheckBox>("chkProcesAll")->isChecked());
  EXPECT_FALSE(Get<QCheckBox>("chkProcesAll")->isEnabled());
  EXPECT_FALSE(settings_.ProcessAll);
  EXPECT_FALSE(Get<QCheckBox>("chkIncludeSubdir")->isChecked());
  EXPECT_FALSE(Get<QCheckBox>("chkIncludeSubdir")->isEnabled());
  EXPECT_FALSE(Get<QLineEdit>("txtFilter")->isEnabled());

  name->setText("report.pdf");
  EXPECT_EQ(settings_.SpecificFilename, "report.pdf");

  copy->setChecked(false);
  EXPECT_FALSE(settings_.CopySpecific);
  EXPECT_EQ(name->text(), "");
  EXPECT_EQ(settings_.SpecificFilename, "");
  EXPECT_FALSE(name->isEnabled());
  EXPECT_FALSE(Get<QLabel>("Picture6")->isEnabled());
  EXPECT_TRUE(Get<QCheckBox>("chkProcesAll")->isEnabled());
  EXPECT_TRUE(Get<QCheckBox>("chkIncludeSubdir")->isEnabled());
  EXPECT_TRUE(Get<QLineEdit>("txtFilter")->isEnabled());
  EXPECT_EQ(settings_.Filter, "*.txt");
}

TEST_F(CommandDialogTest, IncludeSubdirectoriesCascadesAndClearingKeepsProcessAllTicked) {
  settings_.Filter = "*.log";
  settings_.Overwrite = false;
  settings_.SaveFilename = true;
  settings_.VarNumber = 1;
  settings_.LocalDir = "/srv/in";
  Open();
  ASSERT_TRUE(Get<QCheckBox>("chkSaveFilename")->isChecked());
  auto* subdirs = Get<QCheckBox>("chkIncludeSubdir");
  subdirs->setChecked(true);
  EXPECT_TRUE(settings_.IncludeSubdir);
  EXPECT_EQ(Get<QLineEdit>("txtFilter")->text(), "*");
  EXPECT_TRUE(Get<QLineEdit>("txtFilter")->isEnabled());
  EXPECT_EQ(settings_.Filter, "*.log");  // until the user leaves the filter box
  EXPECT_TRUE(Get<QCheckBox>("chkProcesAll")->isChecked());
  EXPECT_FALSE(Get<QCheckBox>("chkProcesAll")->isEnabled());
  EXPECT_TRUE(settings_.ProcessAll);
  EXPECT_FALSE(Get<QCheckBox>("chkCopySpecific")->isEnabled());
  EXPECT_FALSE(Get<QGroupBox>("fraLocalfile")->isEnabled());
  EXPECT_TRUE(Get<QRadioButton>("optOverwrite")->isChecked());
  EXPECT_TRUE(settings_.Overwrite);
  EXPECT_FALSE(Get<QGroupBox>("fraSaveFilename")->isEnabled());
  EXPECT_FALSE(Get<QCheckBox>("chkSaveFilename")->isChecked());
  EXPECT_FALSE(settings_.SaveFilename);
  EXPECT_TRUE(ui_.messages.empty());

  subdirs->setChecked(false);
  EXPECT_FALSE(settings_.IncludeSubdir);
  EXPECT_TRUE(Get<QCheckBox>("chkProcesAll")->isChecked());
  EXPECT_TRUE(Get<QCheckBox>("chkProcesAll")->isEnabled());
  EXPECT_TRUE(Get<QCheckBox>("chkCopySpecific")->isEnabled());
  EXPECT_TRUE(Get<QGroupBox>("fraLocalfile")->isEnabled());
  EXPECT_TRUE(Get<QGroupBox>("fraSaveFilename")->isEnabled());
  // The options keep their own state inside the re-enabled frame.
  EXPECT_FALSE(Get<QRadioButton>("optLocal")->isEnabled());
}

TEST_F(CommandDialogTest, ZipAndIncludeSubdirectoriesExcludeEachOther) {
  Open();
  auto* mode = Get<QComboBox>("cmbMode");
  mode->setCurrentIndex(3);
  EXPECT_EQ(settings_.TransferMode, 3);
  Get<QCheckBox>("chkIncludeSubdir")->setChecked(true);
  EXPECT_THAT(ui_.messages, ElementsAre(ZipWarning()));
  EXPECT_EQ(mode->currentIndex(), 1);
  EXPECT_EQ(settings_.TransferMode, 1);

  mode->setCurrentIndex(3);
  EXPECT_THAT(ui_.messages, ElementsAre(ZipWarning(), ZipWarning()));
  EXPECT_EQ(mode->currentText(), "IMAGE");
  EXPECT_EQ(settings_.TransferMode, 1);

  mode->setCurrentIndex(0);
  EXPECT_EQ(settings_.TransferMode, 0);
  EXPECT_EQ(ui_.messages.size(), 2u);
}

TEST_F(CommandDialogTest, ProcessAllAndSaveFilenameRules) {
  Open();
  auto* save = Get<QCheckBox>("chkSaveFilename");
  save->setChecked(true);
  EXPECT_TRUE(settings_.SaveFilename);
  for (const char* name : {"optLocal", "optGlobal", "cmbVarNum"}) {
    EXPECT_TRUE(Get<QWidget>(name)->isEnabled()) << name;
  }
  Get<QComboBox>("cmbVarNum")->setCurrentIndex(11);
  EXPECT_EQ(settings_.VarNumber, 12);
  Get<QRadioButton>("optGlobal")->setChecked(true);
  EXPECT_EQ(settings_.VarScope, "GLOBAL");
  Get<QRadioButton>("optLocal")->setChecked(true);
  EXPECT_EQ(settings_.VarScope, "LOCAL");

  auto* all = Get<QCheckBox>("chkProcesAll");
  all->setChecked(true);
  EXPECT_TRUE(settings_.ProcessAll);
  EXPECT_FALSE(save->isChecked());
  EXPECT_FALSE(settings_.SaveFilename);
  EXPECT_FALSE(Get<QGroupBox>("fraSaveFilename")->isEnabled());
  for (const char* name : {"optLocal", "optGlobal", "cmbVarNum"}) {
    EXPECT_FALSE(Get<QWidget>(name)->isEnabled()) << name;
  }
  all->setChecked(false);
  EXPECT_FALSE(settings_.ProcessAll);
  EXPECT_TRUE(Get<QGroupBox>("fraSaveFilename")->isEnabled());
}

TEST_F(CommandDialogTest, SimpleTicksWriteTheirFlags) {
  Open();
  Get<QCheckBox>("chkPASV")->setChecked(true);
  Get<QCheckBox>("chkAutoDelete")->setChecked(true);
  EXPECT_TRUE(settings_.Passive);
  EXPECT_TRUE(settings_.AutoDelete);
  Get<QCheckBox>("chkPASV")->setChecked(false);
  Get<QCheckBox>("chkAutoDelete")->setChecked(false);
  EXPECT_FALSE(settings_.Passive);
  EXPECT_FALSE(settings_.AutoDelete);
}

TEST_F(CommandDialogTest, LocalDirectoryTextEnablesTheLocalFileOptions) {
  Open();
  ASSERT_TRUE(ShowActive(dialog_.get()));
  auto* local = Get<QLineEdit>("txtLocalDir");
  local->setFocus(Qt::TabFocusReason);
  EXPECT_FALSE(Get<QRadioButton>("optSkip")->isEnabled());
  QTest::keyClicks(local, "x");
  EXPECT_TRUE(Get<QRadioButton>("optSkip")->isEnabled());
  EXPECT_TRUE(Get<QRadioButton>("optOverwrite")->isEnabled());
  Get<QRadioButton>("optSkip")->setChecked(true);
  EXPECT_FALSE(settings_.Overwrite);
  QTest::keyClick(local, Qt::Key_Backspace);
  EXPECT_FALSE(Get<QRadioButton>("optSkip")->isEnabled());
  EXPECT_FALSE(Get<QRadioButton>("optOverwrite")->isEnabled());
  EXPECT_EQ(settings_.LocalDir, "");  // written only when the box is left
}

TEST_F(CommandDialogTest, BrowseWithAnEmptyBoxThenCancelLeavesItEmpty) {
  Open();
  Get<QPushButton>("cmdBrowseDestination")->click();
  ASSERT_EQ(ui_.folder_requests.size(), 1u);
  EXPECT_EQ(ui_.folder_requests[0].title, "Browse Directory");
  EXPECT_EQ(ui_.folder_requests[0].owner, dialog_.get());
  EXPECT_EQ(ui_.folder_requests[0].initial_folder, QDir::homePath().toStdString());
  EXPECT_EQ(Get<QLineEdit>("txtLocalDir")->text(), "");
  EXPECT_EQ(settings_.LocalDir, "");

  ui_.folder_answer = "/srv/incoming";
  Get<QPushButton>("cmdBrowseDestination")->click();
  EXPECT_EQ(Get<QLineEdit>("txtLocalDir")->text(), "/srv/incoming");
  EXPECT_EQ(settings_.LocalDir, "/srv/incoming");
  EXPECT_TRUE(Get<QRadioButton>("optSkip")->isEnabled());
}

TEST_F(CommandDialogTest, BrowseWithAFilledBoxStartsThereAndCancelKeepsIt) {
  Open();
  Get<QLineEdit>("txtLocalDir")->setText("/no/such/folder");
  Get<QPushButton>("cmdBrowseDestination")->click();
  ASSERT_EQ(ui_.folder_requests.size(), 1u);
  EXPECT_EQ(ui_.folder_requests[0].initial_folder, "/no/such/folder");
  EXPECT_EQ(Get<QLineEdit>("txtLocalDir")->text(), "/no/such/folder");
  EXPECT_EQ(settings_.LocalDir, "/no/such/folder");

  ui_.folder_answer = "/";
  Get<QPushButton>("cmdBrowseDestination")->click();
  EXPECT_EQ(ui_.folder_requests[1].initial_folder, "/no/such/folder");
  EXPECT_EQ(settings_.LocalDir, "/");
}

TEST_F(CommandDialogTest, ProxySetupOpensTheProxyDialogModallyWithoutAnOwner) {
  Open();
  QString seen_name;
  QString seen_title;
  QWidget* seen_parent = dialog_.get();
  Qt::WindowModality seen_modality = Qt::NonModal;
  AnswerModal([&](QWidget* modal) {
    seen_name = modal->objectName();
    seen_title = modal->windowTitle();
    seen_parent = modal->parentWidget();
    seen_modality = modal->windowModality();
    Child<QPushButton>(modal, "cmdCancel")->click();
  });
  Get<QPushButton>("cmdProxySetup")->click();
  EXPECT_EQ(seen_name, "frmProxySetup");
  EXPECT_EQ(seen_title, "Proxy Setup");
  EXPECT_EQ(seen_parent, nullptr);
  EXPECT_EQ(seen_modality, Qt::ApplicationModal);
  // Its load proposes 1080 even though the user cancelled.
  EXPECT_EQ(settings_.ProxyPort, 1080);
}

}  // namespace
}  // namespace pullwire::testing
