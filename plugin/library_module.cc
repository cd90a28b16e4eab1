// The one module of the loaded library and its wiring.
#include "plugin/library_module.h"

#include <memory>

#include "download/module_download_run.h"
#include "plugin/daemon_channel.h"
#include "plugin/dialogs_loader.h"
#include "plugin/message_text.h"

namespace pullwire {

namespace {

struct WiredModule {
  WiredModule() { WireLibraryServices(module); }
  PluginModule module;
};

}  // namespace

PluginModule& LibraryModule() {
  // Made by the first call, destroyed at dlclose, so a reloaded library starts from the
  // load-time state again.
  static WiredModule wired;
  return wired.module;
}

void WireLibraryServices(PluginModule& module) {
  module.set_message_channel(std::make_unique<FittingChannel>(
      std::make_unique<DaemonChannel>(module.state(), module.clock())));
  InstallDownloadRun(module);
  // Setup's desktop: loaded only when Setup first needs it, so Execute never loads Qt.
  InstallLazyDialogs(module);
}

}  // namespace pullwire
