// frmProxySetup: load, the type change that shows and hides the fields, the port check and Ok.
#include "dialogs/proxy_dialog.h"

#include <optional>

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/desktop.h"
#include "dialogs/dialog_messages.h"
#include "dialogs/dialog_widgets.h"
#include "dialogs/focus_steps.h"
#include "dialogs/icons.h"
#include "dialogs/popup_menu.h"
#include "dialogs/twips.h"
#include "module/command_record.h"

namespace pullwire {

const std::array<const char*, kProxyTypeCount> kProxyTypeCaptions = {
    "None", "Socks V4", "Socks V5", "SITE Hostname ", "USER Logon", "USER No Logon ", "OPEN", "Pipe",
};

namespace {

constexpr int kPortTypedLength = 5;
constexpr char kPortMessage[] = "<ProxyPort> must be a positive numerical value!";
constexpr char kPortRangeMessage[] = "<ProxyPort> must be between 1 and 32767!";
constexpr int kVbOverflow = 6;

// Which fields each proxy type shows and requires: host, port, user name, password.
constexpr std::array<std::array<bool, 4>, kProxyTypeCount> kFieldsOfType = {{
    {false, false, false, false},  // None
    {true, true, true, false},     // Socks V4: a user id, no password
    {true, true, true, true},      // Socks V5
    {true, true, true, true},      // SITE Hostname
    {true, true, true, true},      // USER Logon
    {true, true, false, false},    // USER No Logon
    {true, true, false, false},    // OPEN
    {true, true, false, false},    // Pipe
}};

struct FieldDesign {
  const char* label_name;
  const char* caption;
  const char* picture_name;
  const char* box_name;
};
constexpr FieldDesign kFieldDesigns[] = {
    {"lblProxyHost", "Proxy Host:", "Picture3", "txtProxyHost"},
    {"lblProxyPort", "Proxy Port:", "Picture1", "txtProxyPort"},
    {"lblProxyUsername", "Proxy Username:", "Picture2", "txtProxyUsername"},
    {"lblProxyPassword", "Proxy Password:", "Picture4", "txtProxyPassword"},
};

// A hidden field keeps its place, as fixed-position controls do.
void KeepPlaceWhenHidden(QWidget* widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
}

}  // namespace

std::array<QWidget*, 3> frmProxySetup::FieldControls::Widgets() const { return {label, picture, box}; }

frmProxySetup::frmProxySetup(CommandSettings& settings, Desktop& ui, frmPopUp& popup, QWidget* parent)
    : QDialog(parent), settings_(settings), ui_(ui), popup_(popup) {
  setObjectName(QStringLiteral("frmProxySetup"));
  setFont(DialogFont());
  focus_steps_ = new FocusSteps(this);
  CreateControls();
  CreateLayout();
  ConnectRules();
  setWindowTitle(QStringLiteral("Proxy Setup"));
  const TwipsScale scale = TwipsScale::Of(screen());
  setFixedSize(scale.ToPixelsX(kProxyClientWidthTwips), scale.ToPixelsY(kProxyClientHeightTwips));
  Load();
}

frmProxySetup::~frmProxySetup() = default;

void frmProxySetup::CreateControls() {
  Labels_ = new QLabel(QStringLiteral("Proxy Type:"), this);
  Labels_->setObjectName(QStringLiteral("Labels"));
  cboProxyType_ = new QComboBox(this);
  cboProxyType_->setObjectName(QStringLiteral("cboProxyType"));
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    const FieldDesign& design = kFieldDesigns[i];
    FieldControls& field = fields_[i];
    field.label = new QLabel(QLatin1String(design.caption), this);
    field.label->setObjectName(QLatin1String(design.label_name));
    field.picture = new PlaceholderPicture(QLatin1String(design.picture_name), this);
    field.box = new QLineEdit(this);
    field.box->setObjectName(QLatin1String(design.box_name));
    for (QWidget* widget : field.Widgets()) KeepPlaceWhenHidden(widget);
  }
  fields_[kPort].box->setText(QString::number(kDefaultProxyPort));
  LimitTypedLength(fields_[kPort].box, kPortTypedLength);
  MakePasswordBox(fields_[kPassword].box);
  cmdSave_ = MakePictureButton(QStringLiteral("cmdSave"), QStringLiteral("&Ok"), OkIcon(),
                               QStringLiteral("save"), this);
  cmdCancel_ = MakePictureButton(QStringLiteral("cmdCancel"), QStringLiteral("&Cancel"), CancelIcon(),
                                 QStringLiteral("cancel"), this);
  cmdSave_->setDefault(true);
}

void frmProxySetup::CreateLayout() {
  auto* frame = new QGroupBox(QStringLiteral("Configure Proxy Settings"), this);
  frame->setObjectName(QStringLiteral("fraProxySettings"));
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(4);
  grid->setColumnStretch(2, 1);
  grid->addWidget(Labels_, 0, 0);
  grid->addWidget(cboProxyType_, 0, 2);
  for (int i = 0; i < kFieldCount; ++i) {
    grid->addWidget(fields_[i].label, i + 1, 0);
    grid->addWidget(fields_[i].picture, i + 1, 1);
    grid->addWidget(fields_[i].box, i + 1, 2);
  }
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cmdSave_);
  buttons->addWidget(cmdCancel_);
  buttons->addStretch(1);
  auto* inside = new QVBoxLayout(frame);
  inside->setContentsMargins(6, 4, 6, 6);
  inside->setSpacing(6);
  inside->addLayout(grid);
  inside->addStretch(1);
  inside->addLayout(buttons);
  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(4, 2, 4, 4);
  window->addWidget(frame);
  // The frame took the controls over; tab through them top to bottom.
  QWidget* const order[] = {cboProxyType_, fields_[kHost].box, fields_[kPort].box,
                            fields_[kUsername].box, fields_[kPassword].box, cmdSave_, cmdCancel_};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void frmProxySetup::ConnectRules() {
  connect(cboProxyType_, &QComboBox::currentIndexChanged, this, &frmProxySetup::OnProxyTypeChanged);
  for (int i = 0; i < kFieldCount; ++i) {
    QLineEdit* box = fields_[i].box;
    focus_steps_->Watch(
        box, [box](Qt::FocusReason reason) { SelectWholeText(box, reason); },
        i == kPort ? FocusSteps::LossStep([this] { OnProxyPortLeft(); }) : FocusSteps::LossStep());
    fields_[i].picture->SetPressHandler(
        [this, box](const QPoint& position) { popup_.PopUpFor(ui_, box, position); });
  }
  focus_steps_->WatchButton(cmdSave_);
  focus_steps_->WatchButton(cmdCancel_);
  connect(cmdSave_, &QPushButton::clicked, this, &frmProxySetup::OnSaveClicked);
  connect(cmdCancel_, &QPushButton::clicked, this, &frmProxySetup::OnCancelClicked);
}

void frmProxySetup::Load() {
  for (const char* caption : kProxyTypeCaptions) cboProxyType_->addItem(QLatin1String(caption));
  // The list must change from "no selection" so that selecting "None" shows its fields too.
  {
    const QSignalBlocker quiet(cboProxyType_);
    cboProxyType_->setCurrentIndex(-1);
  }
  if (settings_.ProxyPort < 1) settings_.ProxyPort = kDefaultProxyPort;
  if (settings_.ProxyType < 0) {
    cboProxyType_->setCurrentIndex(cboProxyType_->findText(QStringLiteral("None"), Qt::MatchExactly));
    return;
  }
  // A type the list does not have shows as "None"; the stored texts are kept, so Ok loses nothing
  // but the unknown type.
  cboProxyType_->setCurrentIndex(settings_.ProxyType < kProxyTypeCount ? settings_.ProxyType : 0);
  fields_[kHost].box->setText(ToQString(settings_.ProxyHost));
  fields_[kPort].box->setText(QString::number(settings_.ProxyPort));
  fields_[kUsername].box->setText(ToQString(settings_.ProxyUsername));
  fields_[kPassword].box->setText(ToQString(settings_.ProxyPassword));
}

void frmProxySetup::OnProxyTypeChanged(int index) {
  if (index < 0 || index >= kProxyTypeCount) return;
  for (int i = 0; i < kFieldCount; ++i) {
    for (QWidget* widget : fields_[i].Widgets()) widget->setVisible(kFieldsOfType[index][i]);
  }
}

void frmProxySetup::OnProxyPortLeft() {
  QLineEdit* port = fields_[kPort].box;
  const std::optional<double> value = ParseNumber(ToStdString(port->text()));
  if (value && *value >= 1) return;
  RefuseEntry(ui_, *focus_steps_, port, kPortMessage, QString::number(kDefaultProxyPort));
}

bool frmProxySetup::HasRequiredData(int proxy_type) const {
  if (proxy_type < 1 || proxy_type >= kProxyTypeCount) return true;
  for (int i = 0; i < kFieldCount; ++i) {
    if (kFieldsOfType[proxy_type][i] && fields_[i].box->text().isEmpty()) return false;
  }
  return true;
}

// The port passed the focus check yet may not fit the 16-bit field ("40000", "9e9"): refuse it
// rather than store a wrapped number.
bool frmProxySetup::RefusePortOverflow(std::int16_t* port) {
  QLineEdit* box = fields_[kPort].box;
  try {
    *port = ConvertToInt16(ToStdString(box->text()));
    return false;
  } catch (const RecordError& error) {
    ui_.ShowMessage(this, error.vb_number() == kVbOverflow ? kPortRangeMessage : kPortMessage,
                    kIncorrectValueTitle, MessageIcon::kInformation);
  }
  if (!box->isHidden()) {
    focus_steps_->FocusInto(box);
    box->selectAll();
  }
  return true;
}

void frmProxySetup::OnSaveClicked() {
  if (!focus_steps_->ActivateButton(cmdSave_)) return;
  const int type = cboProxyType_->currentIndex();
  if (!HasRequiredData(type)) {
    ShowMissingData(ui_, this);
    return;
  }
  std::int16_t port = 0;
  if (RefusePortOverflow(&port)) return;
  // All four texts, also those of hidden fields.
  settings_.ProxyType = static_cast<std::int16_t>(type);
  settings_.ProxyHost = ToStdString(fields_[kHost].box->text());
  settings_.ProxyPort = port;
  settings_.ProxyUsername = ToStdString(fields_[kUsername].box->text());
  settings_.ProxyPassword = ToStdString(fields_[kPassword].box->text());
  accept();
}

void frmProxySetup::OnCancelClicked() {
  focus_steps_->ActivateButton(cmdCancel_);
  reject();
}

}  // namespace pullwire
