// How automation names compare: members and ProgIDs match without regard to ASCII letter case.
#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

namespace pullwire::com {

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace pullwire::com
