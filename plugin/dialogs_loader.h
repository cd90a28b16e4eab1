// Loads the dialogs module beside libpullwire.so on first use and plugs it into the module's
// seams; until then, and when it cannot be loaded, nothing of Qt is in the process.
#pragma once

#include "module/plugin_module.h"

namespace pullwire {

// Installs a UI factory and a command editor that load libpullwire_dialogs.so when Setup first
// needs them. A missing or broken module leaves the console services and an editor that says
// why it cannot open.
void InstallLazyDialogs(PluginModule& module);

}  // namespace pullwire
