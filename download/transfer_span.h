// The transfer in progress: from the component's GetFile until the copy is checked and put in
// place. Only within it may the failure event and the run's error ending remove a local copy,
// and what they remove is the new copy, never the earlier file under the final name.
#pragma once

#include <cstdint>
#include <optional>

#include "component/ftp_component.h"
#include "download/local_copy.h"
#include "module/module_state.h"

namespace pullwire {

class TransferSpan {
 public:
  explicit TransferSpan(ModuleState& state) : state_(state) {}
  TransferSpan(const TransferSpan&) = delete;
  TransferSpan& operator=(const TransferSpan&) = delete;
  ~TransferSpan() { End(); }

  // Starts the span for `copy` of an entry listed with `listed_size` bytes (nullopt when the
  // size text is not a number).
  void Begin(LocalCopy copy, std::optional<std::int64_t> listed_size);
  // Ends the span; a copy not put in place by then is discarded.
  void End() noexcept;
  bool active() const { return copy_.has_value(); }
  LocalCopy& copy() { return *copy_; }
  std::optional<std::int64_t> listed_size() const { return listed_size_; }
  // True when the failure event removed the copy during this span.
  bool discarded_by_event() const { return discarded_by_event_; }

  // The component's failure event: within the span, a copy shorter than the listed size is
  // removed; ErrorFlag is set in every case. Never fails.
  void OnFailureEvent() noexcept;
  // The error ending's clean-up: a transfer interrupted within the span never reaches the final
  // name, so its copy is removed whatever its length, and the span ends. Never fails.
  void CleanUpAfterFailure() noexcept;

 private:
  ModuleState& state_;
  std::optional<LocalCopy> copy_;
  std::optional<std::int64_t> listed_size_;
  bool discarded_by_event_ = false;
};

// Binds the component's failure event to `span` for the life of the binding; afterwards (and
// whenever no run is going on) the event only sets ErrorFlag.
class FailureEventBinding {
 public:
  FailureEventBinding(FtpComponent& ftp, TransferSpan& span, ModuleState& state);
  ~FailureEventBinding();
  FailureEventBinding(const FailureEventBinding&) = delete;
  FailureEventBinding& operator=(const FailureEventBinding&) = delete;

 private:
  FtpComponent& ftp_;
  ModuleState& state_;
};

// The handler outside a run: a failure event only sets ErrorFlag.
void InstallIdleFailureHandler(FtpComponent& ftp, ModuleState& state);

}  // namespace pullwire
