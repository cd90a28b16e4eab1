// Downloading one remote file to a local file path or into an existing local folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "ftp/session.h"

namespace pullwire::ftp {

struct FetchResult {
  std::filesystem::path local_path;
  std::int64_t bytes = 0;  // received in this call
};

// `local_destination` is a file path, or an existing folder into which the file goes under the
// remote path's last part (refused with kUnsafeName when that part could leave the folder).
// Without `restart_offset` the file is written beside the target and renamed over it when
// complete: a failure leaves an earlier file untouched. With it, the local file is written in
// place from that byte (0: from the start), so that a failed transfer can be continued later;
// an ASCII transfer is always fetched whole (REST counts server bytes, not converted ones).
// Before continuing a binary transfer the server is asked for the size (SIZE): a file of exactly
// `restart_offset` bytes is complete and nothing is transferred, a shorter one is refused
// (kInvalidValue) and the local copy left as it is. A server that refuses REST sends the file
// whole, and the local file is written from byte 0.
FetchResult GetFile(Session& session, const std::string& remote,
                    const std::string& local_destination,
                    std::optional<std::int64_t> restart_offset = std::nullopt);

// The local path GetFile writes to; throws kInvalidValue / kUnsafeName. Exposed for tests.
std::filesystem::path ResolveDestination(const std::string& remote,
                                         const std::string& local_destination);

}  // namespace pullwire::ftp
