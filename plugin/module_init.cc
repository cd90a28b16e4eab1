// Init's reset of the module-wide state.
#include "plugin/module_init.h"

#include "plugin/variable_slots.h"

namespace pullwire {

ModuleDescription PullwireModuleDescription() {
  return ModuleDescription{
      .Name = "Pullwire",
      .IconLarge = "il_pullwire.ico",
      .IconSmall = "is_pullwire.ico",
      .Cat = "Network",
      .CatIconLarge = "icl_network.ico",
      .CatIconSmall = "ics_network.ico",
  };
}

void InitModuleState(ModuleState& state) {
  state.MessageQueueCount = 0;
  state.MessageQueue = std::vector<QueuedMessage>(2);
  state.ModuleTable = std::vector<ModuleDescription>(3);
  state.ModuleTable[1] = PullwireModuleDescription();
  state.ModuleCount = 1;
  ResetVariableSlots(state);
}

}  // namespace pullwire
