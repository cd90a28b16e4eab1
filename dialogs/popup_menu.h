// The hidden form frmPopUp with the placeholder menu mnuCommand: the host placeholders a user can
// type into the dialogs' boxes by picking them.
#pragma once

#include <array>

#include <QString>
#include <QWidget>

#include "module/module_state.h"

class QAction;
class QLineEdit;
class QMenu;

namespace pullwire {

class Desktop;

// Never shown; it only carries the menu. Each dialog makes its own, and the constant captions are
// taken from the module state each time the menu pops up, so every copy reads what the host last
// set through SetLocalConstants/SetGlobalConstants.
class frmPopUp final : public QWidget {
 public:
  explicit frmPopUp(const ModuleState& state);

  // The root item; its sub-items form the pop-up.
  QMenu* mnuCommand() const { return mnuCommand_; }

  // The menu of the placeholder picture beside `box`: gives `box` the focus, as a click would (so
  // the focus steps of the box left and of `box` run), then shows the menu at `position` (global
  // pixels) for the box's dialog through `ui`. The picked item's text is typed into the focused
  // box, replacing its selected text or at its caret; picking nothing changes nothing. When the
  // box left refuses its value and keeps the focus, no menu opens.
  void PopUpFor(Desktop& ui, QLineEdit* box, const QPoint& position);

  // Sets the captions of the constant items from the module state: "<LC1> value" once the host
  // gave the constants, "<LC1>" before.
  void UpdateConstantCaptions();

  // The text an item enters ("<FileName>", "<LC1>"); empty for sub-menus and separators.
  static QString PlaceholderText(const QAction* item);

 private:
  void BuildMenu();
  QMenu* AddSubMenu(QMenu* parent, const char* name, const char* caption);
  QAction* AddItem(QMenu* parent, const QString& name, const QString& caption, const QString& text);
  void AddItemArray(QMenu* parent, const char* name, const char* prefix,
                    std::array<QAction*, kConstantCount>* items);

  const ModuleState& state_;
  QMenu* mnuCommand_ = nullptr;
  std::array<QAction*, kConstantCount> local_constants_{};
  std::array<QAction*, kConstantCount> global_constants_{};
};

// Types `text` into the focused box of `owner` (a QLineEdit): replaces the selection, or inserts
// at the caret, within the box's typing limit. Returns false when no usable box has the focus.
bool TypeIntoFocusedBox(QWidget* owner, const QString& text);

}  // namespace pullwire
