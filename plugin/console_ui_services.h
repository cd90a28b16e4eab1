// Desktop services for a build or a process without dialogs: boxes go to stderr as one line,
// the beep is the terminal bell, and there is no folder chooser or pop-up menu.
#pragma once

#include "plugin/ui_services.h"

namespace pullwire {

class ConsoleUiServices final : public UiServices {
 public:
  void ShowMessage(QWidget* owner, const std::string& text, const std::string& title, MessageIcon icon) override;
  void Beep() override;
  bool ChooseFolder(QWidget* owner, const std::string& title, const std::string& initial_folder,
                    std::string* chosen /*out*/) override;
  QAction* PopupMenu(QWidget* owner, QMenu* menu, const QPoint& position) override;
};

}  // namespace pullwire
