// frmProxySetup: the proxy type of a command and, for the types that need them, the proxy's host,
// port, user name and password. Writes the proxy fields of CommandSettings on "&Ok".
#pragma once

#include <array>

#include <QDialog>

#include "module/command_settings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pullwire {

class FocusSteps;
class PlaceholderPicture;
class Desktop;
class frmPopUp;

inline constexpr int kProxyClientWidthTwips = 4110;
inline constexpr int kProxyClientHeightTwips = 3030;
inline constexpr int kProxyTypeCount = 8;
inline constexpr std::int16_t kDefaultProxyPort = 1080;

// The captions of the proxy types in list order; two keep their trailing blank.
extern const std::array<const char*, kProxyTypeCount> kProxyTypeCaptions;

class frmProxySetup final : public QDialog {
 public:
  // Loads the settings into the controls (and sets ProxyPort to 1080 when it is below 1, which
  // stays even when the user cancels).
  frmProxySetup(CommandSettings& settings, Desktop& ui, frmPopUp& popup, QWidget* parent = nullptr);
  ~frmProxySetup() override;

 private:
  enum Field : int { kHost = 0, kPort, kUsername, kPassword, kFieldCount };
  // A field is its label, its picture and its box, shown and hidden together.
  struct FieldControls {
    QLabel* label = nullptr;
    PlaceholderPicture* picture = nullptr;
    QLineEdit* box = nullptr;
    std::array<QWidget*, 3> Widgets() const;
  };

  void CreateControls();
  void CreateLayout();
  void ConnectRules();
  void Load();
  void OnProxyTypeChanged(int index);
  void OnProxyPortLeft();
  void OnSaveClicked();
  void OnCancelClicked();
  bool HasRequiredData(int proxy_type) const;
  bool RefusePortOverflow(std::int16_t* port /*out*/);

  CommandSettings& settings_;
  Desktop& ui_;
  frmPopUp& popup_;
  FocusSteps* focus_steps_ = nullptr;

  QLabel* Labels_ = nullptr;
  QComboBox* cboProxyType_ = nullptr;
  std::array<FieldControls, kFieldCount> fields_{};
  QPushButton* cmdSave_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
};

}  // namespace pullwire
