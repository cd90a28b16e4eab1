// Fetching the files of one folder over several sessions at once, on the calling thread: one
// transfer at a time per session (EPSV or PASV, data connect, REST when continuing, RETR, data
// to its end and the final reply, in either order), all sessions' sockets multiplexed with
// poll(). The next file's EPSV goes out as soon as the data of the current one has ended.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ftp/errors.h"
#include "ftp/extra_sessions.h"
#include "ftp/local_folder.h"
#include "ftp/session.h"

namespace pullwire::ftp {

// One file of the folder.
struct FolderFile {
  std::string name;                        // its name in the folder, and locally
  std::filesystem::path local;             // its local path, for messages
  std::int64_t offset = 0;                 // continue the local copy from this byte
  std::optional<std::int64_t> known_size;  // the remote size (listing, SIZE): whole at this length
};

struct FileOutcome {
  std::optional<FtpError> error;  // none: the local copy is complete
  std::int64_t bytes = 0;         // received
  std::int64_t size = 0;          // the local copy's length
};

// Fetches `files` from the folder `here` (main's working folder, an absolute path; the extra
// sessions are sent there) into `local`, whose descriptor stays open meanwhile. Files are written
// in place from their offset (a server that refuses REST sends the whole file). Every wait keeps
// the operation time-out; a session that stalls is aborted (ABOR), one that is lost or left in an
// unclear state drops out and its files go to the others. Returns one outcome per file, in the
// order of `files`; never throws for a file's failure.
std::vector<FileOutcome> FetchFolderFiles(Session& main, const std::vector<ExtraSession*>& extras,
                                          const std::string& here, const LocalFolder& local,
                                          const std::vector<FolderFile>& files);

}  // namespace pullwire::ftp
