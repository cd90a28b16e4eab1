// The one updating line on a terminal that shows a long download while `pullwire run` waits:
// name, bytes so far of the file's size, percent, rate and time left.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "com/ref_counted.h"
#include "pullwire/toolbox.h"

namespace pullwire::host {

// A transfer shows once it has run this long; shorter ones never draw.
inline constexpr std::int64_t kProgressShownAfterMs = 1000;

// "big.bin  312.5 MiB of 1.0 GiB  30%  104.2 MiB/s  0:07 left" (the size, percent and time left
// only when the size is known), cut to `width` columns by shortening the name's front.
std::string FormatProgress(const TransferProgress& progress, std::size_t width);

// The host's progress sink: draws FormatProgress on `terminal` with a carriage return, and wipes
// the line when the file ends. Reports come on the run's thread; Clear may come from another.
class ProgressLine final : public com::RefCounted<ITransferProgressSink> {
 public:
  explicit ProgressLine(std::FILE* terminal) : terminal_(terminal) {}

  com::HRESULT QueryInterface(const com::Guid& iid, void** object /*out*/) override;
  com::HRESULT OnTransferProgress(const TransferProgress& progress) override;

  // Wipes a line on show, so that other output starts at the left margin; the next report
  // draws it again.
  void Clear();

 private:
  ~ProgressLine() override = default;
  void ClearLocked();
  std::size_t TerminalColumns() const;

  std::mutex mutex_;
  std::FILE* terminal_;
  std::size_t shown_ = 0;  // columns of the line on show; 0 when none
};

// Hands `box` a ProgressLine on stderr when the plug-in offers IToolboxProgress; null when it
// does not (a plug-in from before progress reports). Detach with `box`'s putref(nullptr).
com::ComPtr<ProgressLine> AttachProgressLine(_Toolbox& box);
// Takes the sink back, so the plug-in no longer holds it.
void DetachProgressLine(_Toolbox& box);

}  // namespace pullwire::host
