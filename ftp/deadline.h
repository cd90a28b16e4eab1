// Deadlines for blocking steps, and the words an expired one is reported with ("30 s").
#pragma once

#include <chrono>
#include <string>

namespace pullwire::ftp {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

struct Deadline {
  Clock::time_point at;
  Milliseconds span{0};  // the time-out it was made from, for the error text

  static Deadline After(Milliseconds span) { return {Clock::now() + span, span}; }
  bool Passed() const { return Clock::now() >= at; }
  // Time left, never negative, rounded up so that a poll never spins on 0 ms.
  Milliseconds Left() const;
};

// "30 s", "1.5 s", "250 ms".
std::string FormatSpan(Milliseconds span);

// The text of an expired wait: what + " within " + span ("no reply to RETR within 30 s").
std::string TimeoutText(const std::string& what, const Deadline& deadline);

}  // namespace pullwire::ftp
