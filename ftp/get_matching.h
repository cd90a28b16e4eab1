// Downloading every file that matches a wildcard path, descending into subfolders.
#pragma once

#include <cstdint>
#include <string>

#include "ftp/session.h"

namespace pullwire::ftp {

struct MatchingOptions {
  int max_depth = 32;  // subfolder levels below the wildcard's folder
};

struct MatchingResult {
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  std::int64_t folders = 0;  // subfolders entered
};

// Lists the wildcard's folder (ParseWildcardPath) and fetches, into `local_folder` (which must
// exist), every entry whose name matches the pattern, as a shell's "cp -r /pub/*.txt" would: a
// matching file is fetched, a matching folder is fetched whole with its subfolders, mirrored as
// local folders. A link is entered when the server lets it be entered as a folder, unless that
// folder (by its PWD path) was entered already, and fetched as a file otherwise. Names that could
// leave the local folder are never used (the listing parser drops them, and they are checked again
// here); a local subfolder that is a symbolic link is not written through. Each file replaces its
// local copy only when complete. A failure with one file or subfolder does not stop the others
// while the session lives; the first one is thrown at the end. The working folder is restored.
MatchingResult GetMatching(Session& session, const std::string& wildcard,
                           const std::string& local_folder, const MatchingOptions& options = {});

}  // namespace pullwire::ftp
