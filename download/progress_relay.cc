// ProgressRelay: component progress events to the host's sink.
#include "download/progress_relay.h"

#include "download/download_entry.h"

namespace pullwire {

ProgressRelay::ProgressRelay(FtpComponent& ftp, const ModuleState& state,
                             ITransferProgressSink* sink)
    : ftp_(ftp), state_(state), sink_(sink) {
  if (sink_ != nullptr) {
    ftp_.SetProgressEventHandler([this](const ComponentProgress& p) { Relay(p); });
  }
}

ProgressRelay::~ProgressRelay() {
  // The component outlives the run; the sink may not.
  if (sink_ != nullptr) ftp_.SetProgressEventHandler({});
}

void ProgressRelay::Relay(const ComponentProgress& p) {
  const TransferProgress report{p.name,  p.bytes, p.total ? *p.total : ListedSize(p.name),
                                p.start, p.elapsed_ms, p.finished};
  sink_->OnTransferProgress(report);  // progress is a courtesy: its result changes nothing
}

std::int64_t ProgressRelay::ListedSize(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  const std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
  if (base == listed_name_) return listed_size_;
  listed_name_ = base;
  listed_size_ = -1;
  for (const RemoteEntry& entry : state_.EntryList) {
    if (entry.IsFolder || entry.Name != base) continue;
    listed_size_ = ParseListedSize(entry.Size).value_or(-1);
    break;
  }
  return listed_size_;
}

}  // namespace pullwire
