// Wildcard paths of GetMatching: "/pub/*.txt", quoted "\"/pub/My Files/*\"", "*".
#pragma once

#include <string>
#include <string_view>

namespace pullwire::ftp {

struct WildcardPath {
  std::string folder;   // remote folder to start in; empty: the working folder
  std::string pattern;  // the name pattern, "*" when the wildcard ends in "/"
};

// Splits a wildcard path at its last "/". Blanks around it and one pair of enclosing double
// quotation marks are removed. Throws FtpError kInvalidValue for an empty path or wildcards
// outside the last part.
WildcardPath ParseWildcardPath(std::string_view wildcard);

// "*" matches any run of characters (none included), "?" exactly one, everything else itself,
// letter case counting. Linear in practice: one backtrack point.
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace pullwire::ftp
