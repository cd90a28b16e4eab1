// Rules for turning a remote name into a local file name without leaving the local folder.
#pragma once

#include <string>
#include <string_view>

namespace pullwire::ftp {

// The listing parser's safety rules: not empty, not "." or "..", no "/", no NUL, CR, LF or other
// control character. Such a name can only ever name an entry inside the folder it is joined to.
bool IsSafeLocalName(std::string_view name);

// The last part of a remote path ("/pub/a.txt" -> "a.txt", "a.txt" -> "a.txt"); empty when the
// path ends in "/".
std::string_view RemoteBaseName(std::string_view remote_path);

}  // namespace pullwire::ftp
