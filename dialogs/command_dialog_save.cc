// frmCommandPullwire: what the text boxes do when the focus enters and leaves them (clean-up,
// validation, writing the settings), the required-data test, the save and the cancel.
#include <optional>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "dialogs/command_dialog.h"
#include "dialogs/dialog_messages.h"
#include "dialogs/dialog_widgets.h"
#include "dialogs/focus_steps.h"
#include "module/command_record.h"

namespace pullwire {
namespace {

constexpr char kPortMessage[] = "<Port> must be a positive numerical value!";
constexpr char kTimeoutMessage[] = "<Timeout> must be between 1 and 999!";
constexpr double kMaxTimeoutSeconds = 999;

// A port is a number of at least 1 that fits the 16-bit field: "9e9" is short enough to type.
bool IsValidPort(const QString& text) {
  const std::optional<double> value = ParseNumber(ToStdString(text));
  if (!value || *value < 1) return false;
  try {
    ConvertToInt16(ToStdString(text));
  } catch (const RecordError&) {
    return false;
  }
  return true;
}

bool IsValidTimeout(const QString& text) {
  const std::optional<double> value = ParseNumber(ToStdString(text));
  return value && *value >= 1 && *value <= kMaxTimeoutSeconds;
}

}  // namespace

void frmCommandPullwire::ConnectFocusSteps() {
  const auto select_all = [](QLineEdit* box) {
    return [box](Qt::FocusReason reason) { SelectWholeText(box, reason); };
  };
  focus_steps_->Watch(txtHost_, nullptr, [this] { OnHostLeft(); });
  focus_steps_->Watch(txtUsername_, nullptr, [this] { OnUsernameLeft(); });
  focus_steps_->Watch(txtPassword_, nullptr, [this] { OnPasswordLeft(); });
  focus_steps_->Watch(txtPort_, select_all(txtPort_), [this] { OnPortLeft(); });
  focus_steps_->Watch(txtTimeout_, select_all(txtTimeout_), [this] { OnTimeoutLeft(); });
  focus_steps_->Watch(txtRemoteDir_, nullptr, [this] { OnRemoteDirLeft(); });
  focus_steps_->Watch(txtLocalDir_, nullptr, [this] { OnLocalDirLeft(); });
  focus_steps_->Watch(txtFilter_, select_all(txtFilter_), [this] { OnFilterLeft(); });
  focus_steps_->WatchButton(cmdSave_);
  focus_steps_->WatchButton(cmdCancel_);
}

void frmCommandPullwire::OnHostLeft() { settings_.Host = ToStdString(txtHost_->text()); }

void frmCommandPullwire::OnUsernameLeft() { settings_.Username = ToStdString(txtUsername_->text()); }

void frmCommandPullwire::OnPasswordLeft() { settings_.Password = ToStdString(txtPassword_->text()); }

void frmCommandPullwire::OnLocalDirLeft() { settings_.LocalDir = ToStdString(txtLocalDir_->text()); }

void frmCommandPullwire::OnFilterLeft() {
  if (txtFilter_->text().isEmpty()) txtFilter_->setText(QStringLiteral("*"));
  settings_.Filter = ToStdString(txtFilter_->text());
}

// One separator per step: "/pub//" keeps "/pub/", a lone "/" or "\" stays.
void frmCommandPullwire::OnRemoteDirLeft() {
  QString text = txtRemoteDir_->text();
  if (text.size() >= 2 && text.endsWith(QLatin1Char('/'))) text.chop(1);
  if (text.size() >= 2 && text.endsWith(QLatin1Char('\\'))) text.chop(1);
  txtRemoteDir_->setText(text);
  settings_.RemoteDir = ToStdString(text);
}

void frmCommandPullwire::OnPortLeft() {
  if (!IsValidPort(txtPort_->text())) {
    RefuseEntry(ui_, *focus_steps_, txtPort_, kPortMessage, QStringLiteral("21"));
  }
  settings_.Port = ConvertToInt16(ToStdString(txtPort_->text()));
}

void frmCommandPullwire::OnTimeoutLeft() {
  if (!IsValidTimeout(txtTimeout_->text())) {
    RefuseEntry(ui_, *focus_steps_, txtTimeout_, kTimeoutMessage, QStringLiteral("30"));
  }
  settings_.Timeout = ConvertToInt32(ToStdString(txtTimeout_->text()));
}

// Read from the controls as they stand; a box holding only blanks counts as filled.
bool frmCommandPullwire::HasRequiredData() const {
  for (const QLineEdit* box : {txtHost_, txtUsername_, txtPassword_, txtPort_, txtTimeout_,
                               txtRemoteDir_, txtLocalDir_}) {
    if (box->text().isEmpty()) return false;
  }
  if (cmbMode_->currentIndex() < 0) return false;
  if (chkSaveFilename_->isChecked() && cmbVarNum_->currentIndex() < 0) return false;
  if (chkCopySpecific_->isChecked() && txtSpecificFilename_->text().isEmpty()) return false;
  return true;
}

void frmCommandPullwire::OnSaveClicked() {
  if (!focus_steps_->ActivateButton(cmdSave_)) return;
  if (!HasRequiredData()) {
    ShowMissingData(ui_, this);
    return;
  }
  // The record comes from the settings, not from the boxes.
  EncodeEditedRecord(settings_, state_);
  accept();
}

void frmCommandPullwire::OnCancelClicked() {
  // The box being left still runs its steps; the cancel closes whatever they said.
  focus_steps_->ActivateButton(cmdCancel_);
  reject();
}

}  // namespace pullwire
