// One execution of the PULLWIRE command: decode the record, configure and log in the FTP
// component, enter and list the remote folder, download the selected files (flat mode) or hand
// every entry to the folder mode, log out. Every failure ends in one error ending.
#pragma once

#include <string>

#include "com/variant.h"
#include "download/run_context.h"

namespace pullwire {

// The folder mode's routines (the record's slot 24 is not exactly "0"). Both report their own
// failures and let the run go on.
class FolderModeRoutines {
 public:
  virtual ~FolderModeRoutines() = default;
  // Downloads state.Selected (set by RemoteSelFiles) into `local_folder`, with its subfolders.
  virtual void Retrieve(RunContext& run, const std::string& local_folder) = 0;
  // Deletes on the server what the folder mode copied completely.
  virtual void DeleteAfterCopy(RunContext& run) = 0;
};

// Runs the command `record` (the host's 24 text slots). Never throws: the outcome is in the
// messages sent, run.state.ErrorFlag, the local files and the variable slots. Without
// `folder_mode`, a folder-mode record ends through the error ending with a message that says so.
//
// The error ending sends "ERROR_PULL-WIRE [" + description + "]" (type 2; the description is
// empty when a step had already reported its own error), sets ErrorFlag, removes the copy of a
// transfer it interrupted, and logs out when the component is still connected.
void DownloadRun(RunContext& run, const com::StringArray& record, FolderModeRoutines* folder_mode = nullptr);

}  // namespace pullwire
