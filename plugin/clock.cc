// The message timestamp format.
#include "plugin/clock.h"

#include <ctime>

#include <fmt/format.h>

namespace pullwire {
namespace {

// Fixed English names: the daemon's log reads the same whatever the host's locale.
constexpr const char* kMonthAbbreviations[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string FormatMessageTimestamp(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return {};
  const int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
  return fmt::format("{:02}-{}-{:04} {:02}:{:02}.{:02}", local.tm_mday, kMonthAbbreviations[month],
                     local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

}  // namespace pullwire
