// What the run may do with local names and files: which remote names can become local names,
// and the length of a local copy, looked at without following a symbolic link.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pullwire {

// True when `name` may become a file name inside the local folder: not empty, not "." or "..",
// without "/", NUL or any other control character. Names come from the listing parser, which
// already refuses the others; the run checks again before it writes.
bool IsSafeLocalName(const std::string& name);

// The length of the regular file at `path`; nullopt when nothing stands there or something else
// does (a folder, a device, a symbolic link, which is not followed). Throws std::runtime_error
// ("cannot look at /x/y: Permission denied") when the path cannot be looked at.
std::optional<std::int64_t> RegularFileLength(const std::string& path);

}  // namespace pullwire
