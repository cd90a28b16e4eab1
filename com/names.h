// Automation names: how members and ProgIDs compare, and which ProgIDs are acceptable.
#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

namespace pullwire::com {

// Members and ProgIDs match without regard to ASCII letter case.
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// Letters, digits, '.', '_' and '-', not starting with '.', at most 200 bytes: a ProgID that is
// also a safe file name for its local-server socket.
inline bool IsPlainProgId(std::string_view prog_id) {
  return !prog_id.empty() && prog_id.front() != '.' && prog_id.size() <= 200 &&
         prog_id.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") ==
             std::string_view::npos;
}

}  // namespace pullwire::com
