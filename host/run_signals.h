// How `pullwire run` stops a run on SIGINT, SIGTERM and SIGHUP: the three are blocked and arrive
// on a signalfd that the plug-in watches beside its sockets (IToolboxCancel), so the run ends
// through its error ending (partial file removed, QUIT sent) instead of dying mid-file. SIGPIPE
// and SIGXFSZ are ignored for the rest of the process: a closed output loses messages, not files,
// and a file-size limit is a write error with a message, like a full disk.
#pragma once

#include <signal.h>

#include "pullwire/toolbox.h"

namespace pullwire::host {

class RunSignals {
 public:
  // Blocks the three signals: construct it before any thread starts, so that every thread
  // inherits the mask and none dies of them.
  RunSignals();
  // Restores the signal mask and closes the descriptor.
  ~RunSignals();
  RunSignals(const RunSignals&) = delete;
  RunSignals& operator=(const RunSignals&) = delete;

  // Hands the descriptor to `box`. A plug-in that cannot take it (no IToolboxCancel) leaves the
  // signals to end the process as they always did: they are unblocked again.
  void Attach(_Toolbox& box);
  void Detach(_Toolbox& box);
  // The signal that asked the run to stop (taken from the descriptor), or 0.
  int Received();

 private:
  sigset_t stopping_;
  sigset_t previous_mask_;
  int fd_ = -1;
  int received_ = 0;
};

}  // namespace pullwire::host
