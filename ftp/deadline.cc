// Deadline arithmetic and time-out wording.
#include "ftp/deadline.h"

#include <fmt/format.h>

namespace pullwire::ftp {

Milliseconds Deadline::Left() const {
  const auto left = at - Clock::now();
  if (left <= Clock::duration::zero()) return Milliseconds(0);
  return std::chrono::ceil<Milliseconds>(left);
}

std::string FormatSpan(Milliseconds span) {
  const auto ms = span.count();
  if (ms < 1000) return fmt::format("{} ms", ms);
  if (ms % 1000 == 0) return fmt::format("{} s", ms / 1000);
  return fmt::format("{:.1f} s", static_cast<double>(ms) / 1000.0);
}

std::string TimeoutText(const std::string& what, const Deadline& deadline) {
  return what + " within " + FormatSpan(deadline.span);
}

}  // namespace pullwire::ftp
