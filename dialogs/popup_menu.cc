// The placeholder menu tree, its constant captions and the typing of a picked placeholder.
#include "dialogs/popup_menu.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>

#include "dialogs/desktop.h"

namespace pullwire {
namespace {

struct Leaf {
  const char* name;
  const char* caption;  // also the text the item enters
};

constexpr Leaf kFileItems[] = {
    {"mnuVariablesInputPathFileName", "<ScanPathFileName>"},
    {"mnuVariablesFileName", "<FileName>"},
    {"mnuVariablesFileNameExt", "<FileNameExt>"},
    {"mnuFileFileNameNoExt", "<FileNameNoExt>"},
};
constexpr Leaf kDirectoryItems[] = {
    {"mnuVariablesInputdir", "<ScanDir>"},
    {"mnuVariablesInputPath", "<ScanPath>"},
    {"mnuVariablesSubDir", "<SubDir>"},
};
constexpr Leaf kFileInfoItems[] = {
    {"mnuCommandsFileFileSize", "<FileSize>"},
    {"mnuCommandsFileTimeStamp", "<FileTimeStamp>"},
    {"mnuCommandsTotalFileNumber", "<TotalFileNumber>"},
    {"mnuCommandsCurrentFileNumber", "<CurrentFileNumber>"},
};
constexpr Leaf kDateItems[] = {
    {"mnuCommandsDateDate", "<dd-mmm-yyyy>"},
    {"mnuCommandsDateDD", "<dd>"},
    {"mnuCommandsDateMMM", "<mmm>"},
    {"mnuCommandsDateMM", "<date_mm>"},
    {"mnuCommandsDateYYYY", "<yyyy>"},
    {"mnuDateYY", "<yy>"},
    {"mnuDateWeeknum", "<weeknum>"},
    {"mnuDateWeekday", "<dayofweek>"},
};
constexpr Leaf kTimeItems[] = {
    {"mnuCommandsTimeTime", "<hh:mm:ss>"},
    {"mnuCommandsTimeHH", "<hh>"},
    {"mnuCommandsTimeMM", "<mm>"},
    {"mnuCommandsTimeSS", "<ss>"},
};

// "<LC1>" for index 0 of the local constants.
QString ArrayPlaceholder(const char* prefix, int index) {
  return QStringLiteral("<%1%2>").arg(QLatin1String(prefix)).arg(index + 1);
}

// A host constant may hold "&", which a menu would take for an access key.
QString MenuCaption(const std::string& text) {
  return QString::fromStdString(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

}  // namespace

frmPopUp::frmPopUp(const ModuleState& state) : state_(state) {
  setObjectName(QStringLiteral("frmPopUp"));
  setWindowTitle(QStringLiteral("Popup Menu"));
  BuildMenu();
  UpdateConstantCaptions();
}

QMenu* frmPopUp::AddSubMenu(QMenu* parent, const char* name, const char* caption) {
  QMenu* menu = parent->addMenu(QString::fromLatin1(caption));
  menu->setObjectName(QString::fromLatin1(name));
  menu->menuAction()->setObjectName(QString::fromLatin1(name));
  return menu;
}

QAction* frmPopUp::AddItem(QMenu* parent, const QString& name, const QString& caption,
                           const QString& text) {
  QAction* item = parent->addAction(caption);
  item->setObjectName(name);
  item->setData(text);  // what picking the item types
  return item;
}

void frmPopUp::AddItemArray(QMenu* parent, const char* name, const char* prefix,
                            std::array<QAction*, kConstantCount>* items) {
  for (int k = 0; k < kConstantCount; ++k) {
    const QString text = ArrayPlaceholder(prefix, k);
    QAction* item = AddItem(parent, QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(k), text, text);
    if (items != nullptr) (*items)[static_cast<std::size_t>(k)] = item;
  }
}

void frmPopUp::BuildMenu() {
  mnuCommand_ = new QMenu(QStringLiteral("Command"), this);
  mnuCommand_->setObjectName(QStringLiteral("mnuCommand"));
  const auto add_leaves = [this](QMenu* menu, const auto& leaves) {
    for (const Leaf& leaf : leaves) {
      AddItem(menu, QString::fromLatin1(leaf.name), QString::fromLatin1(leaf.caption),
              QString::fromLatin1(leaf.caption));
    }
  };
  add_leaves(AddSubMenu(mnuCommand_, "mnuVariablesFile", "File"), kFileItems);
  add_leaves(AddSubMenu(mnuCommand_, "mnuDirectory", "Directory"), kDirectoryItems);
  add_leaves(AddSubMenu(mnuCommand_, "mnuFileInfo", "FileInfo"), kFileInfoItems);
  mnuCommand_->addSeparator()->setObjectName(QStringLiteral("mnuParamBreak1"));

  QMenu* locals = AddSubMenu(mnuCommand_, "mnuLocals", "Locals");
  AddItemArray(AddSubMenu(locals, "mnuLocalsConstants", "Constants"), "mnuLocalsConstantsLC", "LC",
               &local_constants_);
  AddItemArray(AddSubMenu(locals, "mnuLocalsVariables", "Variables"), "mnuLocalsVariablesLV", "LV",
               nullptr);
  QMenu* globals = AddSubMenu(mnuCommand_, "mnuGlobals", "Globals");
  AddItemArray(AddSubMenu(globals, "mnuGlobalsConstants", "Constants"), "mnuGlobalsConstantsGC", "GC",
               &global_constants_);
  AddItemArray(AddSubMenu(globals, "mnuGlobalsVariables", "Variables"), "mnuGlobalsConstantsGV", "GV",
               nullptr);
  mnuCommand_->addSeparator()->setObjectName(QStringLiteral("mnuParamBreak2"));

  add_leaves(AddSubMenu(mnuCommand_, "mnuCommandsDate", "Date"), kDateItems);
  add_leaves(AddSubMenu(mnuCommand_, "mnuCommandsTime", "Time"), kTimeItems);
}

void frmPopUp::UpdateConstantCaptions() {
  for (std::size_t k = 0; k < local_constants_.size(); ++k) {
    const auto& local = state_.LocalConstantCaptions[k];
    local_constants_[k]->setText(local ? MenuCaption(*local) : PlaceholderText(local_constants_[k]));
    const auto& global = state_.GlobalConstantCaptions[k];
    global_constants_[k]->setText(global ? MenuCaption(*global) : PlaceholderText(global_constants_[k]));
  }
}

void frmPopUp::PopUpFor(Desktop& ui, QLineEdit* box, const QPoint& position) {
  box->setFocus(Qt::MouseFocusReason);
  QWidget* owner = box->window();
  // The box left may refuse its value and pull the focus back (a bad port): then no menu, or the
  // pick would be typed into the refused box.
  if (owner->focusWidget() != box) return;
  UpdateConstantCaptions();
  const QAction* picked = ui.PopupMenu(owner, mnuCommand_, position);
  const QString text = PlaceholderText(picked);
  if (!text.isEmpty()) TypeIntoFocusedBox(owner, text);
}

QString frmPopUp::PlaceholderText(const QAction* item) {
  if (item == nullptr || item->menu() != nullptr || item->isSeparator()) return {};
  return item->data().toString();
}

bool TypeIntoFocusedBox(QWidget* owner, const QString& text) {
  QWidget* focused = QApplication::focusWidget();
  if (focused == nullptr && owner != nullptr) focused = owner->focusWidget();
  auto* box = qobject_cast<QLineEdit*>(focused);
  if (box == nullptr || !box->isEnabled() || box->isReadOnly()) return false;
  box->insert(text);
  return true;
}

}  // namespace pullwire
