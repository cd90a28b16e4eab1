// frmCommandPullwire: its controls in their initial state, the layout and the tab order.
#include "dialogs/command_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "dialogs/dialog_widgets.h"
#include "dialogs/focus_steps.h"
#include "dialogs/icons.h"
#include "dialogs/twips.h"

namespace pullwire {
namespace {

constexpr int kPortTypedLength = 4;
constexpr int kTimeoutTypedLength = 3;
constexpr int kVariableNumbers = 15;

QLineEdit* NewBox(const char* name, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QLatin1String(name));
  return box;
}

QCheckBox* NewCheck(const char* name, const char* caption, QWidget* parent) {
  auto* check = new QCheckBox(QLatin1String(caption), parent);
  check->setObjectName(QLatin1String(name));
  return check;
}

QRadioButton* NewOption(const char* name, const char* caption, QWidget* parent) {
  auto* option = new QRadioButton(QLatin1String(caption), parent);
  option->setObjectName(QLatin1String(name));
  return option;
}

QLabel* NewLabel(const char* name, const char* caption, QWidget* parent) {
  auto* label = new QLabel(QLatin1String(caption), parent);
  label->setObjectName(QLatin1String(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

QLabel* NewPicture(const char* name, const QPixmap& pixmap, QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setObjectName(QLatin1String(name));
  picture->setPixmap(pixmap);
  picture->setFixedSize(pixmap.size());
  return picture;
}

QComboBox* NewList(const char* name, const QStringList& items, QWidget* parent) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QLatin1String(name));
  list->addItems(items);
  list->setCurrentIndex(-1);
  return list;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets) {
  auto* row = new QHBoxLayout;
  row->setSpacing(4);
  for (QWidget* widget : widgets) {
    if (widget == nullptr) {
      row->addStretch(1);
    } else {
      row->addWidget(widget);
    }
  }
  return row;
}

}  // namespace

frmCommandPullwire::frmCommandPullwire(ModuleState& state, Desktop& ui, QWidget* parent)
    : QDialog(parent), state_(state), settings_(state.Settings), ui_(ui), popup_(state) {
  setObjectName(QStringLiteral("frmCommandPullwire"));
  setFont(DialogFont());
  focus_steps_ = new FocusSteps(this);
  CreateControls();
  CreateFrames();
  CreateLayout();
  SetTabOrder();
  ConnectRules();
  ConnectFocusSteps();
  ConnectPlaceholderPictures();
  setWindowTitle(QStringLiteral("Edit Command: Pull Wire"));
  setWindowIcon(WindowIcon());
  const TwipsScale scale = TwipsScale::Of(screen());
  setFixedSize(scale.ToPixelsX(kCommandClientWidthTwips), scale.ToPixelsY(kCommandClientHeightTwips));
}

frmCommandPullwire::~frmCommandPullwire() = default;

void frmCommandPullwire::CreateControls() {
  fraCommand_ = new QGroupBox(QStringLiteral("Command: Pull-Wire"), this);
  fraCommand_->setObjectName(QStringLiteral("fraCommand"));
  QWidget* frame = fraCommand_;

  txtHost_ = NewBox("txtHost", frame);
  txtUsername_ = NewBox("txtUsername", frame);
  txtPassword_ = NewBox("txtPassword", frame);
  MakePasswordBox(txtPassword_);
  chkPASV_ = NewCheck("chkPASV", "PASV Mode", frame);
  txtPort_ = NewBox("txtPort", frame);
  txtPort_->setText(QStringLiteral("21"));
  LimitTypedLength(txtPort_, kPortTypedLength);
  txtTimeout_ = NewBox("txtTimeout", frame);
  txtTimeout_->setText(QStringLiteral("30"));
  LimitTypedLength(txtTimeout_, kTimeoutTypedLength);
  cmbMode_ = NewList("cmbMode", {"ASCII", "IMAGE", "EBCDIC", "ZIP"}, frame);
  cmdProxySetup_ = MakePictureButton(QStringLiteral("cmdProxySetup"), QStringLiteral("Proxy Setup"),
                                     ProxyIcon(), QStringLiteral("configure proxy-settings"), frame);
  txtRemoteDir_ = NewBox("txtRemoteDir", frame);
  txtFilter_ = NewBox("txtFilter", frame);
  txtFilter_->setText(QStringLiteral("*"));
  txtFilter_->setToolTip(QStringLiteral("separate filters by ;"));
  chkAutoDelete_ = NewCheck("chkAutoDelete", "Automatically Delete Remote File After Copy", frame);
  chkProcesAll_ = NewCheck("chkProcesAll", "Process All Remote Files", frame);
  chkIncludeSubdir_ = NewCheck("chkIncludeSubdir", "Include Subdirectories", frame);
  chkCopySpecific_ = NewCheck("chkCopySpecific", "Copy Specific File", frame);
  txtSpecificFilename_ = NewBox("txtSpecificFilename", frame);
  txtSpecificFilename_->setEnabled(false);
  txtLocalDir_ = NewBox("txtLocalDir", frame);
  cmdBrowseDestination_ = MakePictureButton(QStringLiteral("cmdBrowseDestination"), QString(),
                                            BrowseIcon(), QStringLiteral("browse to select file"), frame);
  cmdSave_ = MakePictureButton(QStringLiteral("cmdSave"), QStringLiteral("&Ok"), OkIcon(),
                               QStringLiteral("save"), frame);
  cmdCancel_ = MakePictureButton(QStringLiteral("cmdCancel"), QStringLiteral("&Cancel"), CancelIcon(),
                                 QStringLiteral("cancel"), frame);
  // Enter in a box saves, as in any desktop dialog; the other buttons act on Space or a click.
  cmdSave_->setDefault(true);

  Picture5_ = NewPicture("Picture5", CommandPicture(), frame);
  Picture4_ = new PlaceholderPicture(QStringLiteral("Picture4"), frame);
  picShowPopup2_ = new PlaceholderPicture(QStringLiteral("picShowPopup2"), frame);
  Picture1_ = new PlaceholderPicture(QStringLiteral("Picture1"), frame);
  Picture2_ = new PlaceholderPicture(QStringLiteral("Picture2"), frame);
  Picture3_ = new PlaceholderPicture(QStringLiteral("Picture3"), frame);
  Picture6_ = new PlaceholderPicture(QStringLiteral("Picture6"), frame);
  Picture6_->setEnabled(false);
  Picture7_ = NewPicture("Picture7", EngineLogo(), frame);
  Picture7_->setToolTip(QStringLiteral("Powered by ") + QLatin1String(kFtpEngineName));

  lblRemoteDir_ = NewLabel("lblRemoteDir", "Remote-directory :", frame);
  lblLocalDir_ = NewLabel("lblLocalDir", "Local-directory to Copy File to :", frame);
  lblLocalDir_->setWordWrap(true);
  lblRemoteHost_ = NewLabel("lblRemoteHost", "Remote Host :", frame);
  lblUsername_ = NewLabel("lblUsername", "Username :", frame);
  lblPassword_ = NewLabel("lblPassword", "Password :", frame);
  Label1_ = NewLabel("Label1", "Port :", frame);
  Label2_ = NewLabel("Label2", "Timeout :", frame);
  Label2_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label3_ = NewLabel("Label3", "Transfer Type :", frame);
  Label3_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label4_ = NewLabel("Label4", "sec.", frame);
  Label5_ = NewLabel("Label5", "Filter :", frame);
}

void frmCommandPullwire::CreateFrames() {
  fraLocalfile_ = new QGroupBox(QStringLiteral("If Localfile Exists"), fraCommand_);
  fraLocalfile_->setObjectName(QStringLiteral("fraLocalfile"));
  optSkip_ = NewOption("optSkip", "Skip", fraLocalfile_);
  optOverwrite_ = NewOption("optOverwrite", "Overwrite", fraLocalfile_);
  optOverwrite_->setChecked(true);
  optSkip_->setEnabled(false);
  optOverwrite_->setEnabled(false);
  auto* local_file = new QVBoxLayout(fraLocalfile_);
  local_file->setContentsMargins(6, 2, 6, 4);
  local_file->setSpacing(2);
  local_file->addWidget(optSkip_);
  local_file->addWidget(optOverwrite_);

  fraSaveFilename_ = new QGroupBox(QStringLiteral("Save Filename"), fraCommand_);
  fraSaveFilename_->setObjectName(QStringLiteral("fraSaveFilename"));
  chkSaveFilename_ = NewCheck("chkSaveFilename", "Put Filename in Variable :", fraSaveFilename_);
  QStringList numbers;
  for (int number = 1; number <= kVariableNumbers; ++number) numbers << QString::number(number);
  cmbVarNum_ = NewList("cmbVarNum", numbers, fraSaveFilename_);
  cmbVarNum_->setEnabled(false);
  optLocal_ = NewOption("optLocal", "Local", fraSaveFilename_);
  optLocal_->setChecked(true);
  optLocal_->setEnabled(false);
  optGlobal_ = NewOption("optGlobal", "Global", fraSaveFilename_);
  optGlobal_->setEnabled(false);
  auto* save_filename = new QVBoxLayout(fraSaveFilename_);
  save_filename->setContentsMargins(6, 2, 6, 4);
  save_filename->setSpacing(2);
  save_filename->addLayout(Row({chkSaveFilename_, cmbVarNum_, nullptr}));
  save_filename->addLayout(Row({optLocal_, optGlobal_, nullptr}));
}

void frmCommandPullwire::CreateLayout() {
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(5);
  grid->setColumnStretch(2, 1);
  const auto add_field = [grid](int row, QWidget* label, QWidget* picture, QWidget* box) {
    grid->addWidget(label, row, 0);
    grid->addWidget(picture, row, 1);
    grid->addWidget(box, row, 2);
  };
  add_field(0, lblRemoteHost_, Picture2_, txtHost_);
  add_field(1, lblUsername_, Picture3_, txtUsername_);
  add_field(2, lblPassword_, Picture4_, txtPassword_);
  grid->addWidget(Picture5_, 0, 3, 3, 1, Qt::AlignCenter);
  grid->addWidget(Label1_, 3, 0);
  grid->addLayout(Row({txtPort_, Label2_, txtTimeout_, Label4_, nullptr}), 3, 1, 1, 3);
  grid->addWidget(chkPASV_, 4, 0);
  grid->addLayout(Row({Label3_, cmbMode_, cmdProxySetup_}), 4, 1, 1, 3);
  grid->addWidget(lblRemoteDir_, 5, 0);
  grid->addWidget(picShowPopup2_, 5, 1);
  grid->addWidget(txtRemoteDir_, 5, 2, 1, 2);
  grid->addWidget(Label5_, 6, 0);
  grid->addWidget(txtFilter_, 6, 1, 1, 3);
  grid->addWidget(chkAutoDelete_, 7, 0, 1, 4);
  grid->addLayout(Row({chkProcesAll_, chkIncludeSubdir_, nullptr}), 8, 0, 1, 4);
  grid->addWidget(chkCopySpecific_, 9, 0);
  grid->addWidget(Picture6_, 9, 1);
  grid->addWidget(txtSpecificFilename_, 9, 2, 1, 2);
  grid->addWidget(lblLocalDir_, 10, 0);
  grid->addWidget(Picture1_, 10, 1);
  grid->addLayout(Row({txtLocalDir_, cmdBrowseDestination_}), 10, 2, 1, 2);
  txtPort_->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 10);
  txtTimeout_->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 10);
  // The right-aligned labels take the slack, so they stay next to their boxes.
  Label2_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  Label3_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

  auto* frames = new QHBoxLayout;
  frames->setSpacing(6);
  frames->addWidget(fraLocalfile_);
  frames->addWidget(fraSaveFilename_, 1);

  auto* command = new QVBoxLayout(fraCommand_);
  command->setContentsMargins(6, 6, 6, 6);
  command->setSpacing(8);
  command->addLayout(grid);
  command->addLayout(frames);
  command->addStretch(1);
  command->addLayout(Row({Picture7_, nullptr, cmdSave_, cmdCancel_}));

  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(4, 2, 4, 4);
  window->addWidget(fraCommand_);
  MakeCaptionBold(fraCommand_);
  MakeCaptionBold(fraSaveFilename_);
}

void frmCommandPullwire::SetTabOrder() {
  QWidget* const order[] = {
      txtHost_,     txtUsername_,          txtPassword_, chkPASV_,       txtPort_,
      txtTimeout_,  cmbMode_,              cmdProxySetup_, txtRemoteDir_, txtFilter_,
      chkAutoDelete_, chkProcesAll_,       chkIncludeSubdir_, chkCopySpecific_, txtSpecificFilename_,
      txtLocalDir_, cmdBrowseDestination_, optSkip_,     optOverwrite_,  chkSaveFilename_,
      cmbVarNum_,   optLocal_,             optGlobal_,   cmdSave_,       cmdCancel_,
  };
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void frmCommandPullwire::ConnectPlaceholderPictures() {
  const std::pair<PlaceholderPicture*, QLineEdit*> pictures[] = {
      {Picture2_, txtHost_},      {Picture3_, txtUsername_},         {Picture4_, txtPassword_},
      {picShowPopup2_, txtRemoteDir_}, {Picture6_, txtSpecificFilename_}, {Picture1_, txtLocalDir_},
  };
  for (const auto& [picture, box] : pictures) {
    QLineEdit* target = box;
    picture->SetPressHandler([this, target](const QPoint& position) { popup_.PopUpFor(ui_, target, position); });
  }
}

}  // namespace pullwire
