// UiServices on Qt Widgets: QMessageBox, the application beep, QFileDialog and QMenu.
#pragma once

#include <string>

#include "dialogs/desktop.h"

namespace pullwire {

class QtUiServices final : public Desktop {
 public:
  using Desktop::ShowMessage;
  void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                   MessageIcon icon) override;
  void Beep() override;
  bool ChooseFolder(QWidget* owner, const std::string& title, const std::string& initial_folder,
                    std::string* chosen /*out*/) override;
  QAction* PopupMenu(QWidget* owner, QMenu* menu, const QPoint& position) override;
};

}  // namespace pullwire
