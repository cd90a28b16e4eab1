// The transfer span, the failure event handler and the error ending's partial-file clean-up.
#include "download/transfer_span.h"

#include <utility>

namespace pullwire {

void TransferSpan::Begin(LocalCopy copy, std::optional<std::int64_t> listed_size) {
  End();
  copy_.emplace(std::move(copy));
  listed_size_ = listed_size;
  discarded_by_event_ = false;
  state_.InTransferSpan = true;
}

void TransferSpan::End() noexcept {
  copy_.reset();  // LocalCopy discards itself unless placed
  state_.InTransferSpan = false;
}

void TransferSpan::OnFailureEvent() noexcept {
  if (state_.InTransferSpan && copy_ && copy_->pending()) {
    const std::optional<std::int64_t> length = copy_->Length();
    if (length && listed_size_ && *length < *listed_size_) {
      copy_->Discard();
      discarded_by_event_ = true;
    }
  }
  state_.ErrorFlag = true;
}

void TransferSpan::CleanUpAfterFailure() noexcept {
  if (copy_) copy_->Discard();
  End();
}

FailureEventBinding::FailureEventBinding(FtpComponent& ftp, TransferSpan& span, ModuleState& state)
    : ftp_(ftp), state_(state) {
  ftp_.SetFailureEventHandler([&span](std::int32_t, const std::string&) { span.OnFailureEvent(); });
}

FailureEventBinding::~FailureEventBinding() {
  try {
    InstallIdleFailureHandler(ftp_, state_);
  } catch (...) {
    // Installing a handler only copies a function object; nothing to report from a destructor.
  }
}

void InstallIdleFailureHandler(FtpComponent& ftp, ModuleState& state) {
  ftp.SetFailureEventHandler([&state](std::int32_t, const std::string&) { state.ErrorFlag = true; });
}

}  // namespace pullwire
