// One execution of the PULLWIRE command: decode the record, configure and log in the FTP
// component, enter and list the remote folder, download the selected files (flat mode) or hand
// every entry to the folder mode, log out. Every failure ends in one error ending.
#pragma once

#include "com/variant.h"
#include "component/run_context.h"

namespace pullwire {

// Runs the command `record` (the host's 24 text slots). Never throws: the outcome is in the
// messages sent, run.state.ErrorFlag, the local files and the variable slots. A record whose
// slot 24 is not exactly "0" takes the folder mode: every listed entry goes to Retrieve
// (remote/folder_download.h), then, when slot 10 is exactly "1", DeleteAfterCopy
// (remote/delete_pass.h); the journal of copies they share starts empty in every run.
//
// The error ending sends "ERROR_PULL-WIRE [" + description + "]" (type 2; the description is
// empty when a step had already reported its own error), sets ErrorFlag, removes the copy of a
// transfer it interrupted, and logs out when the component is still connected.
void DownloadRun(RunContext& run, const com::StringArray& record);

}  // namespace pullwire
