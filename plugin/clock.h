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

// "dd-mmm-yyyy hh:nn.ss" in local time with English month abbreviations, for example
// "04-Mar-2026 09:05.07": the seconds follow a literal ".", the minutes the time separator ":".
std::string FormatMessageTimestamp(std::chrono::system_clock::time_point time);

}  // namespace pullwire
