// ProgressMeter: when to report, and what.
#include "ftp/transfer_progress.h"

#include "ftp/reply_meaning.h"

namespace pullwire::ftp {

ProgressMeter::ProgressMeter(const ProgressHandler& handler, std::string_view name,
                             std::int64_t start, std::optional<std::int64_t> known_size)
    : handler_(handler), began_(Clock::now()), next_(began_ + kProgressInterval) {
  progress_.name = name;
  progress_.start = start;
  progress_.total = known_size;
}

ProgressMeter::~ProgressMeter() {
  if (!reported_) return;
  progress_.finished = true;
  progress_.bytes = progress_.start + received_;
  progress_.elapsed = std::chrono::duration_cast<Milliseconds>(Clock::now() - began_);
  try {
    handler_(progress_);
  } catch (...) {
    // A report is a courtesy; it never turns a transfer's outcome.
  }
}

void ProgressMeter::Report(Clock::time_point now, const std::optional<Reply>& preliminary) {
  if (!progress_.total && preliminary) progress_.total = ParseAnnouncedSize(*preliminary);
  progress_.bytes = progress_.start + received_;
  progress_.elapsed = std::chrono::duration_cast<Milliseconds>(now - began_);
  next_ = now + kProgressInterval;
  reported_ = true;
  handler_(progress_);
}

}  // namespace pullwire::ftp
