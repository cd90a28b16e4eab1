// The message channel to the host's message daemon: one new daemon object per message, reached
// by its ProgID "nrvd" + DaemonInstance + ".IPCdaemon" and called late-bound.
#pragma once

#include <string>

#include "plugin/clock.h"
#include "plugin/message_channel.h"
#include "plugin/module_state.h"

namespace pullwire {

// "nrvd" + instance + ".IPCdaemon": "" gives nrvd.IPCdaemon, "2" gives nrvd2.IPCdaemon.
std::string DaemonProgId(const std::string& instance);

class DaemonChannel final : public MessageChannel {
 public:
  // Reads the daemon instance from `state` at every message; both must outlive the channel.
  DaemonChannel(const ModuleState& state, Clock& clock) : state_(state), clock_(clock) {}

  // Creates the daemon, calls SetMessage(mtype, message, timestamp) and releases it. Any failure
  // (no daemon, a refused or unanswered connection within the runtime's bound, no SetMessage,
  // SetMessage failing) drops the message and leaves no error record behind.
  void SendHostMessage(const std::string& message, std::int16_t mtype) override;

 private:
  const ModuleState& state_;
  Clock& clock_;
};

}  // namespace pullwire
