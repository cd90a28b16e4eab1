// The folder mode's download: each listed entry of the remote folder is fetched whole, a folder
// with its subfolders by one GetMatching, a file by GetFile, continuing a partial local copy
// unless Overwrite is on. Every copy completed is written into the run's journal, which the
// delete pass (delete_pass.h) consults. All transfers are binary (TYPE I): byte for byte, so
// that a copy can be continued with REST.
#pragma once

#include <string>

#include "component/run_context.h"

namespace pullwire {

// Removes the first "[" ... "]" part (when both brackets are there; everything from the first
// "[" to the first "]", overlapping when "]" comes first: "a]b[c" gives "a]bb[c"), trims blanks
// at both ends and appends "/" unless the result ends in one. Stores the result in `path` and
// returns it. Remote and local paths alike: local paths use "/" on Linux.
std::string ReturnPath(std::string& path);

// Fetches state.Selected (RemoteSelFiles) into `local_folder`: nothing when its Folder is empty,
// GetFolder for "FolderClose" and "FolderLink", RetrieveItem otherwise. `local_folder` is
// normalised in place by ReturnPath.
void Retrieve(RunContext& run, std::string& local_folder);

// Creates the local folder of the same name when nothing stands there, sends "Downloading
// folder [" + remote + "] to [" + local + "]..." and fetches the remote folder's content with
// GetMatching (the wildcard quoted when the path holds a blank). A failure sends
// "ERROR_GetFolder: " + description (type 2) and sets ErrorFlag; what was copied before it stays
// in the journal.
void GetFolder(RunContext& run, std::string& local_folder);

// Sends "Downloading file [" + remote + "] to [" + local + "] (" + size + " Bytes) ..." and
// fetches the file with GetFile from the length of the local copy (0 with Overwrite on). A
// failure sends "ERROR_RetrieveItem: " + description and sets ErrorFlag.
void RetrieveItem(RunContext& run, std::string& local_folder);

// state.Transfer.LocalSize := the length of the regular file LocalPath + LocalName, else 0. A
// path that cannot be looked at sends "ERROR_GetLocalFileSize: " + description and gives 0.
void GetLocalFileSize(RunContext& run);

// True when anything (a folder, a file, a link) stands at `path`.
bool FolderExists(const std::string& path);
// Creates the folder `path` (its last level only) unless a regular file stands there. Throws
// std::runtime_error naming the folder and the system's reason.
void CreateFolder(const std::string& path);

}  // namespace pullwire
