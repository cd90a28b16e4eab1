// Downloading every file that matches a wildcard path, descending into subfolders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ftp/extra_sessions.h"
#include "ftp/session.h"

namespace pullwire::ftp {

// One item a walk has copied completely.
struct CopiedItem {
  // The names below the wildcard's folder joined by "/" ("sub/a.txt"); "" for that folder.
  std::string relative_path;
  std::string local_path;
  std::int64_t size = 0;  // bytes of the local copy; 0 for a folder
  bool is_folder = false;  // a folder entered and mirrored by a local folder
};

struct MatchingOptions {
  int max_depth = 32;                   // subfolder levels below the wildcard's folder
  std::int64_t max_entries = 10'000'000;  // listed entries over the whole walk
  // Off: every file is fetched whole. On: a local file shorter than the remote one is continued
  // from its length (REST), one of equal length is complete as it stands, a longer one is an
  // error for that file and stays untouched. Binary transfers only; ASCII ones come whole.
  bool continue_partial = false;
  // Called as each file is complete on disk and as each folder is entered and mirrored.
  std::function<void(const CopiedItem&)> on_copied;
  // Sessions beside the walking one that fetch a folder's files with it (parallel_fetch.h).
  ExtraSessions* extra_sessions = nullptr;
};

struct MatchingResult {
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  std::int64_t folders = 0;  // subfolders entered
};

// Lists the wildcard's folder (ParseWildcardPath) and fetches, into `local_folder`, every entry
// whose name matches the pattern, as a shell's "cp -r /pub/*.txt" would: a matching file is
// fetched, a matching folder is fetched whole with its subfolders, mirrored as local folders. A
// link is entered when the server lets it be entered as a folder, unless that folder (by its PWD
// path, its link target or, where MLSD gives one, its unique id) was entered already, and
// fetched as a file otherwise; a folder whose unique id was entered already is not entered. Names
// that could leave the local folder are never used (the listing parser drops them, and they are
// checked again here). Locally nothing is followed: `local_folder` itself and everything below it
// are opened without following symbolic links, so a link standing where a folder or file lands is
// an error for that entry. Files are written in place, so that a later walk can continue them. A
// failure with one file or subfolder does not stop the others while the session lives; the first
// one is thrown at the end. The working folder is restored.
MatchingResult GetMatching(Session& session, const std::string& wildcard,
                           const std::string& local_folder, const MatchingOptions& options = {});

}  // namespace pullwire::ftp
