// Local name safety checks.
#include "ftp/local_name.h"

#include <algorithm>

namespace pullwire::ftp {

bool IsSafeLocalName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return c == '/' || byte < 0x20 || byte == 0x7f;
  });
}

std::string_view RemoteBaseName(std::string_view remote_path) {
  const std::size_t slash = remote_path.rfind('/');
  return slash == std::string_view::npos ? remote_path : remote_path.substr(slash + 1);
}

}  // namespace pullwire::ftp
