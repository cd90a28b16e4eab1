// CRLF to LF conversion for ASCII transfers; a bare CR is kept as data.
#include "ftp/ascii_filter.h"

#include <cstring>

namespace pullwire::ftp {

void CrLfToLf::Convert(std::string_view in, std::string& out) {
  if (in.empty()) return;
  if (pending_cr_) {
    pending_cr_ = false;
    if (in.front() != '\n') out += '\r';
  }
  std::size_t pos = 0;
  while (pos < in.size()) {
    const void* found = std::memchr(in.data() + pos, '\r', in.size() - pos);
    if (found == nullptr) {
      out.append(in.data() + pos, in.size() - pos);
      return;
    }
    const auto cr = static_cast<std::size_t>(static_cast<const char*>(found) - in.data());
    out.append(in.data() + pos, cr - pos);
    if (cr + 1 == in.size()) {
      pending_cr_ = true;
      return;
    }
    if (in[cr + 1] != '\n') out += '\r';
    pos = cr + 1;
  }
}

void CrLfToLf::Finish(std::string& out) {
  if (pending_cr_) out += '\r';
  pending_cr_ = false;
}

}  // namespace pullwire::ftp
