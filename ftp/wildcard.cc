// Spec parsing and wildcard matching for GetMatching.
#include "ftp/wildcard.h"

#include <fmt/format.h>

#include "ftp/errors.h"

namespace pullwire::ftp {

MatchSpec ParseMatchSpec(std::string_view spec) {
  while (!spec.empty() && spec.front() == ' ') spec.remove_prefix(1);
  while (!spec.empty() && spec.back() == ' ') spec.remove_suffix(1);
  if (spec.size() >= 2 && spec.front() == '"' && spec.back() == '"') {
    spec = spec.substr(1, spec.size() - 2);
  }
  if (spec.empty()) throw FtpError(ErrorCode::kInvalidValue, "the remote file spec is empty");
  MatchSpec result;
  const std::size_t slash = spec.rfind('/');
  if (slash == std::string_view::npos) {
    result.pattern = std::string(spec);
  } else {
    result.folder = std::string(slash == 0 ? spec.substr(0, 1) : spec.substr(0, slash));
    result.pattern = std::string(spec.substr(slash + 1));
  }
  if (result.pattern.empty()) result.pattern.push_back('*');
  if (result.folder.find_first_of("*?") != std::string::npos) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("wildcards are allowed in the last part of the path only: {}",
                               PrintableText(spec)));
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
