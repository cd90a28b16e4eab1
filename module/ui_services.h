// What the plug-in asks of the desktop: a message box. The console shows it on stderr; the
// dialogs module on Qt (dialogs/desktop.h adds what the dialogs themselves need).
#pragma once

#include <string>

namespace pullwire {

enum class MessageIcon { kInformation, kExclamation };

class UiServices {
 public:
  virtual ~UiServices() = default;

  // A modal box with one OK button, owned by no window; returns when the user closed it.
  virtual void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) = 0;
};

}  // namespace pullwire
