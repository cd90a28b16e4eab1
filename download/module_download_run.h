// Execute's download run for a loaded library: DownloadRun over one FTP component that the
// library makes on first use and keeps, with the module's state, message channel and clock.
#pragma once

#include "module/plugin_module.h"

namespace pullwire {

// Installs the run as `module`'s download runner. The component (over Pullwire's engine) is
// created by the first Execute and shared by every later run until the module goes.
void InstallDownloadRun(PluginModule& module);

}  // namespace pullwire
