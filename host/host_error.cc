// Failure texts of the pullwire host.
#include "host/host_error.h"

#include <fmt/format.h>

#include "com/error_info.h"

namespace pullwire::host {

std::string FailureText(std::string_view what, com::HRESULT hr) {
  const auto record = com::GetErrorInfo();
  const auto code = static_cast<std::uint32_t>(hr);
  if (!record || record->description.empty()) return fmt::format("{} (0x{:08X})", what, code);
  if (record->number != 0 && record->number != hr) {
    return fmt::format("{}: {} (error {}, 0x{:08X})", what, record->description, record->number, code);
  }
  return fmt::format("{}: {} (0x{:08X})", what, record->description, code);
}

void Check(com::HRESULT hr, std::string_view what) {
  if (com::Failed(hr)) throw HostError(FailureText(what, hr));
}

}  // namespace pullwire::host
