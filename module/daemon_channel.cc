// Messages to the host's daemon through late binding, one daemon object for each run.
#include "module/daemon_channel.h"

#include <array>

#include "com/activation.h"
#include "com/error_info.h"
#include "module/message_text.h"

namespace pullwire {

std::string DaemonProgId(const std::string& instance) { return "nrvd" + instance + ".IPCdaemon"; }

void DaemonChannel::SendHostMessage(const std::string& message, std::int16_t mtype) {
  try {
    const std::string prog_id = DaemonProgId(state_.DaemonInstance);
    if (prog_id != prog_id_) {
      EndRun();
      prog_id_ = prog_id;
      Connect();
    }
    if (daemon_) Deliver(message, mtype);
  } catch (...) {
    one_way_.Reset();
    daemon_.Reset();
  }
  // A lost message is not the caller's failure: leave no record a host could read as one.
  com::GetErrorInfo();
}

void DaemonChannel::EndRun() {
  try {
    if (one_way_) one_way_->Flush();
  } catch (...) {
  }
  one_way_.Reset();
  daemon_.Reset();
  prog_id_.clear();
  com::GetErrorInfo();
}

// A daemon that cannot be created, or lacks SetMessage, is not tried again in this run: a
// missing daemon then costs a run one attempt, not one for every message.
void DaemonChannel::Connect() {
  com::ComPtr<com::IDispatch> daemon;
  if (com::Failed(com::CreateObject(prog_id_, com::IID_IDispatch, daemon.ReceiveVoid())) || !daemon) return;
  if (com::Failed(daemon->GetIDsOfNames("SetMessage", &set_message_))) return;
  // Not offered by a daemon in this process, which carries out each call as it is made anyway.
  one_way_ = daemon.As<com::IOneWayDispatch>(com::IID_IOneWayDispatch);
  daemon_ = std::move(daemon);
}

void DaemonChannel::Deliver(const std::string& message, std::int16_t mtype) {
  // A text too long for one frame arrives cut in the middle rather than not at all.
  std::array<com::Variant, 3> args{com::Variant(mtype), com::Variant(FittedMessageText(message)),
                                   com::Variant(FormatMessageTimestamp(clock_.Now()))};
  if (!one_way_) {
    daemon_->Invoke(set_message_, com::InvokeKind::kMethod, args, nullptr);
    return;
  }
  // A post fails only when the connection is gone, and the run's later messages with it.
  const com::HRESULT hr = one_way_->Post(set_message_, args);
  if (hr == com::RPC_E_DISCONNECTED || hr == com::RPC_E_TIMEOUT) {
    one_way_.Reset();
    daemon_.Reset();
  }
}

}  // namespace pullwire
