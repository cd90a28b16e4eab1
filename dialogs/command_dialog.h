// frmCommandPullwire: the editor of one PULLWIRE command. Its controls write CommandSettings
// directly while the user works; "&Ok" turns the settings into the edited record.
#pragma once

#include <QDialog>

#include "dialogs/popup_menu.h"
#include "module/module_state.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace pullwire {

class FocusSteps;
class PlaceholderPicture;
class Desktop;

// The name the "Powered by" picture names.
inline constexpr char kFtpEngineName[] = "Pullwire FTP engine";

inline constexpr int kCommandClientWidthTwips = 5775;
inline constexpr int kCommandClientHeightTwips = 6855;

// Transfer types, the indexes of cmbMode and the values of TransferMode.
enum TransferModeIndex : int { kModeAscii = 0, kModeImage = 1, kModeEbcdic = 2, kModeZip = 3 };

// Control rules run when a control's value changes (Qt's change signals are synchronous, so a rule
// that sets another control runs that control's rule at once); setting a value to what it already
// is runs nothing, except that selecting an option always runs the option's rule.
class frmCommandPullwire final : public QDialog {
 public:
  frmCommandPullwire(ModuleState& state, Desktop& ui, QWidget* parent = nullptr);
  ~frmCommandPullwire() override;

  // Sets the controls from the settings, step by step, letting the rules run.
  void FillCommandDialog();

 private:
  void CreateControls();
  void CreateFrames();
  void CreateLayout();
  void SetTabOrder();
  void ConnectRules();
  void ConnectFocusSteps();
  void ConnectPlaceholderPictures();

  // Control rules.
  void OnPasvToggled(bool ticked);
  void OnAutoDeleteToggled(bool ticked);
  void OnProcesAllToggled(bool ticked);
  void OnSaveFilenameToggled(bool ticked);
  void OnCopySpecificToggled(bool ticked);
  void OnIncludeSubdirToggled(bool ticked);
  void OnModeSelected(int index);
  void OnVarNumSelected(int index);
  void OnLocalSelected();
  void OnGlobalSelected();
  void OnOverwriteSelected();
  void OnSkipSelected();
  void OnLocalDirChanged(const QString& text);
  void OnSpecificFilenameChanged(const QString& text);
  void OnProxySetupClicked();
  void OnBrowseDestinationClicked();
  void SelectOption(QRadioButton* option);
  void WarnZipWithSubdirectories();

  // Focus loss steps, validation, save and cancel.
  void OnHostLeft();
  void OnUsernameLeft();
  void OnPasswordLeft();
  void OnPortLeft();
  void OnTimeoutLeft();
  void OnRemoteDirLeft();
  void OnLocalDirLeft();
  void OnFilterLeft();
  void OnSaveClicked();
  void OnCancelClicked();
  bool HasRequiredData() const;

  ModuleState& state_;
  CommandSettings& settings_;
  Desktop& ui_;
  frmPopUp popup_;
  FocusSteps* focus_steps_ = nullptr;

  QGroupBox* fraCommand_ = nullptr;
  QGroupBox* fraLocalfile_ = nullptr;
  QGroupBox* fraSaveFilename_ = nullptr;
  QLineEdit* txtHost_ = nullptr;
  QLineEdit* txtUsername_ = nullptr;
  QLineEdit* txtPassword_ = nullptr;
  QCheckBox* chkPASV_ = nullptr;
  QLineEdit* txtPort_ = nullptr;
  QLineEdit* txtTimeout_ = nullptr;
  QComboBox* cmbMode_ = nullptr;
  QPushButton* cmdProxySetup_ = nullptr;
  QLineEdit* txtRemoteDir_ = nullptr;
  QLineEdit* txtFilter_ = nullptr;
  QCheckBox* chkAutoDelete_ = nullptr;
  QCheckBox* chkProcesAll_ = nullptr;
  QCheckBox* chkIncludeSubdir_ = nullptr;
  QCheckBox* chkCopySpecific_ = nullptr;
  QLineEdit* txtSpecificFilename_ = nullptr;
  QLineEdit* txtLocalDir_ = nullptr;
  QPushButton* cmdBrowseDestination_ = nullptr;
  QRadioButton* optSkip_ = nullptr;
  QRadioButton* optOverwrite_ = nullptr;
  QCheckBox* chkSaveFilename_ = nullptr;
  QComboBox* cmbVarNum_ = nullptr;
  QRadioButton* optLocal_ = nullptr;
  QRadioButton* optGlobal_ = nullptr;
  QPushButton* cmdSave_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QLabel* Picture5_ = nullptr;
  PlaceholderPicture* Picture4_ = nullptr;
  PlaceholderPicture* picShowPopup2_ = nullptr;
  PlaceholderPicture* Picture1_ = nullptr;
  PlaceholderPicture* Picture2_ = nullptr;
  PlaceholderPicture* Picture3_ = nullptr;
  PlaceholderPicture* Picture6_ = nullptr;
  QLabel* Picture7_ = nullptr;
  QLabel* lblRemoteDir_ = nullptr;
  QLabel* lblLocalDir_ = nullptr;
  QLabel* lblRemoteHost_ = nullptr;
  QLabel* lblUsername_ = nullptr;
  QLabel* lblPassword_ = nullptr;
  QLabel* Label1_ = nullptr;
  QLabel* Label2_ = nullptr;
  QLabel* Label3_ = nullptr;
  QLabel* Label4_ = nullptr;
  QLabel* Label5_ = nullptr;
};

}  // namespace pullwire
