// Hands the component's progress events of one run to the host's progress sink, completing the
// size from the run's listing where the server announced none.
#pragma once

#include <cstdint>
#include <string>

#include "component/ftp_component.h"
#include "module/module_state.h"
#include "pullwire/toolbox.h"

namespace pullwire {

// While alive, `ftp` reports to `sink`; without a sink it changes nothing and costs nothing.
class ProgressRelay {
 public:
  ProgressRelay(FtpComponent& ftp, const ModuleState& state, ITransferProgressSink* sink);
  ~ProgressRelay();
  ProgressRelay(const ProgressRelay&) = delete;
  ProgressRelay& operator=(const ProgressRelay&) = delete;

 private:
  void Relay(const ComponentProgress& progress);
  // The listed size of the EntryList file named like the last part of `name`; -1 when none.
  std::int64_t ListedSize(std::string_view name);

  FtpComponent& ftp_;
  const ModuleState& state_;
  ITransferProgressSink* sink_;
  std::string listed_name_;  // the last name looked up, so a file costs one search
  std::int64_t listed_size_ = -1;
};

}  // namespace pullwire
