// The wall clock the plug-in reads for message timestamps and transfer rates; tests fix it.
#pragma once

#include <chrono>
#include <string>

namespace pullwire {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::system_clock::time_point Now() = 0;
};

class SystemClock final : public Clock {
 public:
  std::chrono::system_clock::time_point Now() override { return std::chrono::system_clock::now(); }
};

// "dd-mmm-yyyy hh:nn.ss" in local time, with the abbreviated month name and the time separator
// (between hours and minutes) of the host's LC_TIME: "04-Mar-2026 09:05.07" under C or English,
// "04-Mär-2026 09:05.07" under German. The dashes and the "." before the seconds are literal.
std::string FormatMessageTimestamp(std::chrono::system_clock::time_point time);

}  // namespace pullwire
