// frmCommandPullwire: the control rules that tie the controls to each other and to the settings,
// the fill, and the proxy and browse actions.
#include <functional>
#include <utility>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "dialogs/command_dialog.h"
#include "dialogs/desktop.h"
#include "dialogs/dialog_widgets.h"
#include "dialogs/proxy_dialog.h"

namespace pullwire {
namespace {

constexpr char kZipWarning[] = "NOTE: ZIP-mode can't be selected with the Include-Subdirectories option!";
constexpr char kScopeGlobal[] = "GLOBAL";
constexpr char kScopeLocal[] = "LOCAL";

void WhenSelected(QRadioButton* option, QObject* context, std::function<void()> rule) {
  QObject::connect(option, &QRadioButton::toggled, context, [rule = std::move(rule)](bool selected) {
    if (selected) rule();
  });
}

}  // namespace

void frmCommandPullwire::ConnectRules() {
  connect(chkPASV_, &QCheckBox::toggled, this, &frmCommandPullwire::OnPasvToggled);
  connect(chkAutoDelete_, &QCheckBox::toggled, this, &frmCommandPullwire::OnAutoDeleteToggled);
  connect(chkProcesAll_, &QCheckBox::toggled, this, &frmCommandPullwire::OnProcesAllToggled);
  connect(chkSaveFilename_, &QCheckBox::toggled, this, &frmCommandPullwire::OnSaveFilenameToggled);
  connect(chkCopySpecific_, &QCheckBox::toggled, this, &frmCommandPullwire::OnCopySpecificToggled);
  connect(chkIncludeSubdir_, &QCheckBox::toggled, this, &frmCommandPullwire::OnIncludeSubdirToggled);
  connect(cmbMode_, &QComboBox::currentIndexChanged, this, &frmCommandPullwire::OnModeSelected);
  connect(cmbVarNum_, &QComboBox::currentIndexChanged, this, &frmCommandPullwire::OnVarNumSelected);
  WhenSelected(optLocal_, this, [this] { OnLocalSelected(); });
  WhenSelected(optGlobal_, this, [this] { OnGlobalSelected(); });
  WhenSelected(optOverwrite_, this, [this] { OnOverwriteSelected(); });
  WhenSelected(optSkip_, this, [this] { OnSkipSelected(); });
  connect(txtLocalDir_, &QLineEdit::textChanged, this, &frmCommandPullwire::OnLocalDirChanged);
  connect(txtSpecificFilename_, &QLineEdit::textChanged, this,
          &frmCommandPullwire::OnSpecificFilenameChanged);
  connect(cmdProxySetup_, &QPushButton::clicked, this, &frmCommandPullwire::OnProxySetupClicked);
  connect(cmdBrowseDestination_, &QPushButton::clicked, this,
          &frmCommandPullwire::OnBrowseDestinationClicked);
  connect(cmdSave_, &QPushButton::clicked, this, &frmCommandPullwire::OnSaveClicked);
  connect(cmdCancel_, &QPushButton::clicked, this, &frmCommandPullwire::OnCancelClicked);
}

void frmCommandPullwire::OnPasvToggled(bool ticked) { settings_.Passive = ticked; }

void frmCommandPullwire::OnAutoDeleteToggled(bool ticked) { settings_.AutoDelete = ticked; }

void frmCommandPullwire::OnProcesAllToggled(bool ticked) {
  if (!ticked) {
    settings_.ProcessAll = false;
    fraSaveFilename_->setEnabled(true);
    return;
  }
  settings_.ProcessAll = true;
  fraSaveFilename_->setEnabled(false);
  chkSaveFilename_->setChecked(false);
  settings_.SaveFilename = false;
}

void frmCommandPullwire::OnSaveFilenameToggled(bool ticked) {
  optGlobal_->setEnabled(ticked);
  optLocal_->setEnabled(ticked);
  cmbVarNum_->setEnabled(ticked);
  settings_.SaveFilename = ticked;
}

void frmCommandPullwire::OnCopySpecificToggled(bool ticked) {
  if (ticked) {
    settings_.CopySpecific = true;
    txtSpecificFilename_->setEnabled(true);
    Picture6_->setEnabled(true);
    chkProcesAll_->setEnabled(false);
    chkProcesAll_->setChecked(false);
    chkIncludeSubdir_->setEnabled(false);
    chkIncludeSubdir_->setChecked(false);
    txtFilter_->setEnabled(false);
    return;
  }
  settings_.CopySpecific = false;
  txtSpecificFilename_->setEnabled(false);
  Picture6_->setEnabled(false);
  chkProcesAll_->setEnabled(true);
  chkIncludeSubdir_->setEnabled(true);
  txtSpecificFilename_->setText(QString());
  txtFilter_->setEnabled(true);
}

void frmCommandPullwire::OnIncludeSubdirToggled(bool ticked) {
  if (!ticked) {
    settings_.IncludeSubdir = false;
    chkProcesAll_->setEnabled(true);
    chkCopySpecific_->setEnabled(true);
    fraLocalfile_->setEnabled(true);
    fraSaveFilename_->setEnabled(true);
    return;
  }
  settings_.IncludeSubdir = true;
  // Only the box: Filter itself follows when the user leaves the box.
  txtFilter_->setText(QStringLiteral("*"));
  chkProcesAll_->setEnabled(false);
  chkProcesAll_->setChecked(true);
  chkCopySpecific_->setEnabled(false);
  chkCopySpecific_->setChecked(false);
  fraLocalfile_->setEnabled(false);
  SelectOption(optOverwrite_);
  fraSaveFilename_->setEnabled(false);
  chkSaveFilename_->setChecked(false);
  if (cmbMode_->currentIndex() == kModeZip) {
    WarnZipWithSubdirectories();
    cmbMode_->setCurrentIndex(kModeImage);
  }
}

void frmCommandPullwire::OnModeSelected(int index) {
  if (index < 0) return;
  settings_.TransferMode = index;
  if (chkIncludeSubdir_->isChecked() && settings_.TransferMode == kModeZip) {
    WarnZipWithSubdirectories();
    cmbMode_->setCurrentIndex(kModeImage);
  }
}

void frmCommandPullwire::WarnZipWithSubdirectories() {
  ui_.ShowMessage(this, kZipWarning, "Warning", MessageIcon::kExclamation);
}

void frmCommandPullwire::OnVarNumSelected(int index) {
  if (index < 0) return;
  settings_.VarNumber = static_cast<std::int16_t>(cmbVarNum_->itemText(index).toShort());
}

void frmCommandPullwire::OnLocalSelected() { settings_.VarScope = kScopeLocal; }

void frmCommandPullwire::OnGlobalSelected() { settings_.VarScope = kScopeGlobal; }

void frmCommandPullwire::OnOverwriteSelected() { settings_.Overwrite = true; }

void frmCommandPullwire::OnSkipSelected() { settings_.Overwrite = false; }

// An option that is already selected emits no change; its rule runs all the same, so the settings
// always say what the dialog shows.
void frmCommandPullwire::SelectOption(QRadioButton* option) {
  if (!option->isChecked()) {
    option->setChecked(true);
  } else if (option == optOverwrite_) {
    OnOverwriteSelected();
  } else if (option == optSkip_) {
    OnSkipSelected();
  } else if (option == optLocal_) {
    OnLocalSelected();
  } else if (option == optGlobal_) {
    OnGlobalSelected();
  }
}

void frmCommandPullwire::OnLocalDirChanged(const QString& text) {
  const bool has_folder = !text.isEmpty();
  optSkip_->setEnabled(has_folder);
  optOverwrite_->setEnabled(has_folder);
}

void frmCommandPullwire::OnSpecificFilenameChanged(const QString& text) {
  settings_.SpecificFilename = ToStdString(text);
}

void frmCommandPullwire::OnProxySetupClicked() {
  // No owner window: the proxy setup is a window of its own, modal for the whole application.
  frmProxySetup proxy(settings_, ui_, popup_);
  proxy.exec();
}

// A cancel keeps the box as it was. An empty box starts the chooser at the home folder, which it
// fills in only when the user chooses it.
void frmCommandPullwire::OnBrowseDestinationClicked() {
  const QString start = txtLocalDir_->text().isEmpty() ? QDir::homePath() : txtLocalDir_->text();
  std::string chosen;
  if (ui_.ChooseFolder(this, "Browse Directory", ToStdString(start), &chosen)) {
    txtLocalDir_->setText(ToQString(chosen));
  }
  settings_.LocalDir = ToStdString(txtLocalDir_->text());
}

void frmCommandPullwire::FillCommandDialog() {
  // Each step reads the settings as the rules of the earlier steps left them.
  const CommandSettings& s = settings_;
  txtHost_->setText(ToQString(s.Host));
  txtUsername_->setText(ToQString(s.Username));
  txtPassword_->setText(ToQString(s.Password));
  if (s.Port > 0) txtPort_->setText(QString::number(s.Port));
  if (s.TransferMode >= 0 && s.TransferMode < cmbMode_->count()) cmbMode_->setCurrentIndex(s.TransferMode);
  if (s.Timeout > 0) txtTimeout_->setText(QString::number(s.Timeout));
  chkPASV_->setChecked(s.Passive);
  txtRemoteDir_->setText(ToQString(s.RemoteDir));
  txtLocalDir_->setText(ToQString(s.LocalDir));
  chkAutoDelete_->setChecked(s.AutoDelete);
  chkProcesAll_->setChecked(s.ProcessAll);
  SelectOption(s.Overwrite ? optOverwrite_ : optSkip_);
  chkSaveFilename_->setChecked(s.SaveFilename);
  SelectOption(s.VarScope == kScopeGlobal ? optGlobal_ : optLocal_);
  if (s.VarNumber > 0) {
    const int index = cmbVarNum_->findText(QString::number(s.VarNumber), Qt::MatchExactly);
    if (index >= 0) cmbVarNum_->setCurrentIndex(index);
  }
  chkCopySpecific_->setChecked(s.CopySpecific);
  chkIncludeSubdir_->setChecked(s.IncludeSubdir);
  txtSpecificFilename_->setText(ToQString(s.SpecificFilename));
  if (s.Filter.empty()) settings_.Filter = "*";
  txtFilter_->setText(ToQString(s.Filter));
}

}  // namespace pullwire
