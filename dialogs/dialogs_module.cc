// libpullwire_dialogs.so: hands the plug-in its Qt editor and desktop services.
#include "dialogs/qt_command_editor.h"
#include "module/dialogs_entry.h"

namespace pullwire {
namespace {

std::unique_ptr<UiServices> MakeUiServices() noexcept {
  try {
    return MakeQtUiServices();
  } catch (...) {
    return nullptr;  // the plug-in falls back to its console services
  }
}

std::unique_ptr<CommandEditor> MakeCommandEditor() { return std::make_unique<QtCommandEditor>(); }

constexpr DialogsEntryPoints kEntryPoints{&MakeUiServices, &MakeCommandEditor};

}  // namespace
}  // namespace pullwire

extern "C" __attribute__((visibility("default"))) const pullwire::DialogsEntryPoints* PullwireDialogsEntryPoints() {
  return &pullwire::kEntryPoints;
}
