// The message channel to the host's message daemon "nrvd" + DaemonInstance + ".IPCdaemon",
// called late-bound: one daemon object for each run, its SetMessage calls sent without waiting
// where the daemon allows it, and everything confirmed when the run ends.
#pragma once

#include <string>

#include "com/com_ptr.h"
#include "com/unknown.h"
#include "module/clock.h"
#include "module/message_channel.h"
#include "module/module_state.h"

namespace pullwire {

// "nrvd" + instance + ".IPCdaemon": "" gives nrvd.IPCdaemon, "2" gives nrvd2.IPCdaemon.
std::string DaemonProgId(const std::string& instance);

class DaemonChannel final : public MessageChannel {
 public:
  // Reads the daemon instance from `state` at every message; both must outlive the channel.
  DaemonChannel(const ModuleState& state, Clock& clock) : state_(state), clock_(clock) {}

  // Calls SetMessage(mtype, message, timestamp) on the run's daemon object, created by the
  // run's first message (and again when the instance changes). A daemon in another process
  // gets the call without a wait for its answer. When the daemon cannot be created, or the call
  // cannot be sent within the runtime's bound, this and the run's later messages are dropped
  // without a further try; a SetMessage that fails drops its message. Nothing is reported and
  // no error record is left behind.
  void SendHostMessage(const std::string& message, std::int16_t mtype) override;

  // Waits, at most the runtime's bound, until the daemon has taken every message sent, then
  // releases it: the next run finds the daemon anew, as it may have been restarted meanwhile.
  void EndRun() override;

 private:
  void Connect();
  void Deliver(const std::string& message, std::int16_t mtype);

  const ModuleState& state_;
  Clock& clock_;
  std::string prog_id_;  // the daemon this run uses or failed to reach; empty between runs
  com::ComPtr<com::IDispatch> daemon_;           // null when it could not be reached or was lost
  com::ComPtr<com::IOneWayDispatch> one_way_;    // the same object, when it takes posted calls
  com::DispId set_message_ = com::kDispIdUnknown;
};

}  // namespace pullwire
