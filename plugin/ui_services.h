// What the plug-in asks of the desktop: message boxes, the beep, the folder chooser. One Qt
// implementation (dialogs/qt_ui_services.h); tests script the user's answers.
#pragma once

#include <string>

class QWidget;

namespace pullwire {

enum class MessageIcon { kInformation, kExclamation };

class UiServices {
 public:
  virtual ~UiServices() = default;

  // A modal box with one OK button; returns when the user closed it.
  virtual void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                           MessageIcon icon) = 0;
  virtual void Beep() = 0;
  // A modal folder chooser owned by `owner`, titled `title`, starting at `initial_folder`.
  // Returns the chosen folder's full path, or nothing when the user cancelled.
  virtual bool ChooseFolder(QWidget* owner, const std::string& title, const std::string& initial_folder,
                            std::string* chosen /*out*/) = 0;
};

}  // namespace pullwire
