// What a download run works with: the module state, the FTP component, the host's message
// channel and the clock. Every routine of the run and of the folder mode receives it; nothing of
// the run is global.
#pragma once

#include <stdexcept>
#include <string>

#include "component/ftp_component.h"
#include "module/clock.h"
#include "module/message_channel.h"
#include "module/module_state.h"

namespace pullwire {

struct RunContext {
  ModuleState& state;
  FtpComponent& ftp;
  MessageChannel& messages;
  Clock& clock;
};

// Progress (type 0), sent only while AutoLog is on.
inline void Inform(RunContext& run, const std::string& text) {
  if (run.state.AutoLog) run.messages.SendHostMessage(text, kInformationMessage);
}

// A failure of the run's own steps (an unsafe name, a local file that cannot be written); the
// run's error ending reports its text like a component failure's.
class RunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace pullwire
