// Console desktop services.
#include "plugin/console_ui_services.h"

#include <cstdio>

#include <fmt/format.h>

namespace pullwire {

void ConsoleUiServices::ShowMessage(QWidget* /*owner*/, const std::string& text, const std::string& title,
                                    MessageIcon icon) {
  fmt::print(stderr, "{}: {}{}\n", title, icon == MessageIcon::kExclamation ? "(!) " : "", text);
  std::fflush(stderr);
}

void ConsoleUiServices::Beep() {
  std::fputc('\a', stderr);
  std::fflush(stderr);
}

bool ConsoleUiServices::ChooseFolder(QWidget* /*owner*/, const std::string& /*title*/,
                                     const std::string& /*initial_folder*/, std::string* /*chosen*/) {
  return false;
}

QAction* ConsoleUiServices::PopupMenu(QWidget* /*owner*/, QMenu* /*menu*/, const QPoint& /*position*/) {
  return nullptr;
}

}  // namespace pullwire
