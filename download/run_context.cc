// Progress messages of the run.
#include "download/run_context.h"

namespace pullwire {

void Inform(RunContext& run, const std::string& text) {
  if (run.state.AutoLog) run.messages.SendHostMessage(text, kInformationMessage);
}

}  // namespace pullwire
