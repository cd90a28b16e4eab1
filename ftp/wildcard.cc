// Wildcard paths and wildcard matching for GetMatching.
#include "ftp/wildcard.h"

#include <fmt/format.h>

#include "ftp/errors.h"

namespace pullwire::ftp {

WildcardPath ParseWildcardPath(std::string_view wildcard) {
  while (!wildcard.empty() && wildcard.front() == ' ') wildcard.remove_prefix(1);
  while (!wildcard.empty() && wildcard.back() == ' ') wildcard.remove_suffix(1);
  if (wildcard.size() >= 2 && wildcard.front() == '"' && wildcard.back() == '"') {
    wildcard = wildcard.substr(1, wildcard.size() - 2);
  }
  if (wildcard.empty()) throw FtpError(ErrorCode::kInvalidValue, "the wildcard path is empty");
  WildcardPath result;
  const std::size_t slash = wildcard.rfind('/');
  if (slash == std::string_view::npos) {
    result.pattern = std::string(wildcard);
  } else {
    result.folder = std::string(slash == 0 ? wildcard.substr(0, 1) : wildcard.substr(0, slash));
    result.pattern = std::string(wildcard.substr(slash + 1));
  }
  if (result.pattern.empty()) result.pattern.push_back('*');
  if (result.folder.find_first_of("*?") != std::string::npos) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("wildcards are allowed in the last part of the path only: {}",
                               PrintableText(wildcard)));
  }
  return result;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace pullwire::ftp
