// The one module of the loaded library and its wiring.
#include "plugin/library_module.h"

#include <memory>

#include "dialogs/qt_application.h"
#include "dialogs/qt_command_editor.h"
#include "download/module_download_run.h"
#include "plugin/daemon_channel.h"

namespace pullwire {

namespace {

// The Qt application we may have made for a host without one must not outlive our code; it goes
// after the module, whose desktop services may still hold widgets.
struct QtApplicationRelease {
  ~QtApplicationRelease() { ReleaseQtApplication(); }
};

struct WiredModule {
  WiredModule() { WireLibraryServices(module); }
  QtApplicationRelease qt_release;
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
  module.set_message_channel(std::make_unique<DaemonChannel>(module.state(), module.clock()));
  InstallDownloadRun(module);
  // Setup's desktop: made only when Setup first needs it, so Execute never touches Qt.
  module.set_ui_factory(MakeQtUiServices);
  module.set_command_editor(std::make_unique<QtCommandEditor>());
}

}  // namespace pullwire
