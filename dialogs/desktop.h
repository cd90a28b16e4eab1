// What the dialogs ask of the desktop: message boxes owned by a dialog, the beep, the folder
// chooser, the pop-up menu. One Qt implementation (qt_ui_services.h); tests script the answers.
#pragma once

#include <string>

#include "module/ui_services.h"

class QAction;
class QMenu;
class QPoint;
class QWidget;

namespace pullwire {

class Desktop : public UiServices {
 public:
  // A modal box with one OK button owned by `owner` (none: null); returns when it closed.
  virtual void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                           MessageIcon icon) = 0;
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) final {
    ShowMessage(nullptr, text, title, icon);
  }
  virtual void Beep() = 0;
  // A modal folder chooser owned by `owner`, titled `title`, starting at `initial_folder`.
  // Returns the chosen folder's full path, or nothing when the user cancelled.
  virtual bool ChooseFolder(QWidget* owner, const std::string& title, const std::string& initial_folder,
                            std::string* chosen /*out*/) = 0;
  // Pops `menu` up at `position` (global pixels) for `owner` and waits until it closes. Returns
  // the item the user picked (an item of `menu` or of one of its sub-menus), or null for none.
  virtual QAction* PopupMenu(QWidget* owner, QMenu* menu, const QPoint& position) = 0;
};

}  // namespace pullwire
