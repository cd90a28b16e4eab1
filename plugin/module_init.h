// Init's part of the module-wide state: the message queue, the module table and the variables.
#pragma once

#include "plugin/module_state.h"

namespace pullwire {

// The one module this plug-in contributes, as Init stores it at ModuleTable index 1.
ModuleDescription PullwireModuleDescription();

// Rebuilds the message queue (indices 0..1, empty, count 0), the module table (indices 0..2, the
// description at 1, count 1) and variable slots 0..14. Leaves the flags, the daemon instance,
// the dialog position, the command settings and the edited record alone.
void InitModuleState(ModuleState& state);

}  // namespace pullwire
