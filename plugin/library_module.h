// The module of the loaded libpullwire: created on first use, with the real services wired in,
// and destroyed when the library is unloaded.
#pragma once

#include "plugin/plugin_module.h"

namespace pullwire {

PluginModule& LibraryModule();

// Installs the services of a real host process: the daemon message channel now, the Qt desktop
// services, the command editor and the download run as their layers are linked in.
void WireLibraryServices(PluginModule& module);

}  // namespace pullwire
