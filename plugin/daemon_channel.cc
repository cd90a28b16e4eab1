// Messages to the host's daemon through late binding.
#include "plugin/daemon_channel.h"

#include <array>

#include "com/activation.h"
#include "com/com_ptr.h"
#include "com/error_info.h"
#include "com/late_binding.h"

namespace pullwire {
namespace {

void Deliver(const std::string& prog_id, const std::string& message, std::int16_t mtype, Clock& clock) {
  com::ComPtr<com::IDispatch> daemon;
  if (com::Failed(com::CreateObject(prog_id, com::IID_IDispatch, daemon.ReceiveVoid())) || !daemon) return;
  std::array<com::Variant, 3> args{com::Variant(mtype), com::Variant(message),
                                   com::Variant(FormatMessageTimestamp(clock.Now()))};
  com::InvokeByName(*daemon, "SetMessage", com::InvokeKind::kMethod, args, nullptr);
}

}  // namespace

std::string DaemonProgId(const std::string& instance) { return "nrvd" + instance + ".IPCdaemon"; }

void DaemonChannel::SendHostMessage(const std::string& message, std::int16_t mtype) {
  try {
    Deliver(DaemonProgId(state_.DaemonInstance), message, mtype, clock_);
  } catch (...) {
  }
  // A lost message is not the caller's failure: leave no record a host could read as one.
  com::GetErrorInfo();
}

}  // namespace pullwire
