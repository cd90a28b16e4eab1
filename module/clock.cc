// The message timestamp format.
#include "module/clock.h"

#include <ctime>

#include <fmt/format.h>

#include "module/host_locale.h"

namespace pullwire {

std::string FormatMessageTimestamp(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return {};
  const HostLocale host(LocaleCategory::kTime);
  return fmt::format("{:02}-{}-{:04} {:02}{}{:02}.{:02}", local.tm_mday,
                     host.MonthAbbreviation(local.tm_mon), local.tm_year + 1900, local.tm_hour,
                     host.TimeSeparator(), local.tm_min, local.tm_sec);
}

}  // namespace pullwire
