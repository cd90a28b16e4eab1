// Progress of a running download, reported to whoever asked for it: the receive loop hands its
// byte count and clock reading to a meter, which speaks up a few times a second.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "ftp/deadline.h"
#include "ftp/reply.h"

namespace pullwire::ftp {

struct TransferProgress {
  std::string_view name;              // the remote file as asked for ("a.txt", "/pub/a.txt")
  std::int64_t bytes = 0;             // of the file so far, a continued copy's first part included
  std::optional<std::int64_t> total;  // the file's size, as listed or as the server announced it
  std::int64_t start = 0;             // where this transfer began (> 0 when continuing a copy)
  Milliseconds elapsed{0};            // since this transfer's data began
  bool finished = false;              // the last report of this file
};

// Called on the session's thread; must not throw and should return quickly.
using ProgressHandler = std::function<void(const TransferProgress&)>;

inline constexpr Milliseconds kProgressInterval{250};

// One transfer's reports: from its first interval on at most one per interval, and a last one
// with `finished` when it ends (only if it reported at all, so short files cost no call).
class ProgressMeter {
 public:
  // `known_size`: the file's size from a listing, if the caller has one.
  ProgressMeter(const ProgressHandler& handler, std::string_view name, std::int64_t start,
                std::optional<std::int64_t> known_size);
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  // `received` bytes of this transfer by `now`; `preliminary` is the 1xx reply once it came,
  // whose announced size is used when no size was known.
  void Advance(std::int64_t received, Clock::time_point now,
               const std::optional<Reply>& preliminary) {
    received_ = received;
    if (now >= next_) Report(now, preliminary);
  }

 private:
  void Report(Clock::time_point now, const std::optional<Reply>& preliminary);

  const ProgressHandler& handler_;
  TransferProgress progress_;
  Clock::time_point began_;
  Clock::time_point next_;
  std::int64_t received_ = 0;
  bool reported_ = false;
};

}  // namespace pullwire::ftp
