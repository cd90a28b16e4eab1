// 128-bit class and interface identifiers, written "{8-4-4-4-12}" like COM's.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "com/export.h"

namespace pullwire::com {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  friend constexpr bool operator==(const Guid&, const Guid&) = default;
};

// "{01234567-89AB-CDEF-0123-456789ABCDEF}", upper-case hex.
PULLWIRE_COM_API std::string ToString(const Guid& guid);
// Accepts the braced form and the bare form, any letter case; nullopt for anything else.
PULLWIRE_COM_API std::optional<Guid> ParseGuid(std::string_view text);

}  // namespace pullwire::com
