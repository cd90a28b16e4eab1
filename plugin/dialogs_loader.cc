// Lazy loading of the dialogs module.
#include "plugin/dialogs_loader.h"

#include <dlfcn.h>

#include <string>

#include <fmt/format.h>

#include "com/activation.h"
#include "module/dialogs_entry.h"

namespace pullwire {
namespace {

struct LoadedDialogs {
  const DialogsEntryPoints* entry_points = nullptr;
  std::string error;  // why it could not be loaded
};

LoadedDialogs& Dialogs() {
  static LoadedDialogs loaded;
  return loaded;
}

const DialogsEntryPoints* LoadDialogs() {
  LoadedDialogs& loaded = Dialogs();
  if (loaded.entry_points != nullptr || !loaded.error.empty()) return loaded.entry_points;
  const auto library =
      com::LibraryPathContaining(reinterpret_cast<const void*>(&LoadDialogs)).parent_path() / kDialogsLibraryName;
  // Never unloaded: Qt keeps process-wide registrations that must not point into unmapped code.
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* why = dlerror();
    loaded.error = fmt::format("The command editor cannot be loaded: {}", why != nullptr ? why : library.string());
    return nullptr;
  }
  const auto entry = reinterpret_cast<DialogsEntryPointFn>(dlsym(handle, kDialogsEntryPointName));
  if (entry == nullptr) {
    loaded.error = fmt::format("The command editor cannot be loaded: {} lacks {}", library.string(),
                               kDialogsEntryPointName);
    return nullptr;
  }
  loaded.entry_points = entry();
  return loaded.entry_points;
}

// Setup's editor: the dialogs module's, loaded by the first Setup.
class DialogsCommandEditor final : public CommandEditor {
 public:
  void Position(PluginModule& module) override {
    if (const DialogsEntryPoints* dialogs = LoadDialogs()) dialogs->position_editor(module);
  }
  void Edit(PluginModule& module) override {
    if (const DialogsEntryPoints* dialogs = LoadDialogs()) {
      dialogs->edit_command(module);
    } else {
      module.ui().ShowMessage(Dialogs().error, "Pullwire", MessageIcon::kExclamation);
    }
  }
};

}  // namespace

void InstallLazyDialogs(PluginModule& module) {
  module.set_ui_factory([]() -> std::unique_ptr<UiServices> {
    const DialogsEntryPoints* dialogs = LoadDialogs();
    return dialogs != nullptr ? dialogs->make_ui_services() : nullptr;
  });
  module.set_command_editor(std::make_unique<DialogsCommandEditor>());
}

}  // namespace pullwire
