// The host's request to stop a run: a descriptor of the host's (an eventfd, a pipe's read end, a
// signalfd) that becomes readable. Every wait of a session watches it beside its own sockets, so
// that a wait blocked for minutes ends at once with kCancelled; the wind-down after a failure
// (ABOR and its drain, QUIT) is not cancelled, being bounded by a few seconds of its own.
#pragma once

#include <poll.h>

#include "ftp/deadline.h"
#include "ftp/sys_io.h"

namespace pullwire::ftp {

class CancelWatch {
 public:
  // -1: nothing to watch. The descriptor stays the host's: it is never read nor closed here.
  void set_fd(int fd) { fd_ = fd; }
  int configured_fd() const { return fd_; }
  // The descriptor a wait adds to its poll set; -1 when there is none or while suspended.
  int fd() const { return suspended_ > 0 ? -1 : fd_; }

  // Throws kCancelled when the descriptor is readable now (no waiting).
  void Check(SysIo& sys) const;
  [[noreturn]] static void Throw();

  // Lets a wind-down step wait without being cancelled, for its lifetime.
  class Suspended {
   public:
    explicit Suspended(CancelWatch& watch) : watch_(watch) { ++watch_.suspended_; }
    ~Suspended() { --watch_.suspended_; }
    Suspended(const Suspended&) = delete;
    Suspended& operator=(const Suspended&) = delete;

   private:
    CancelWatch& watch_;
  };

 private:
  int fd_ = -1;
  int suspended_ = 0;
};

// PollUntil (sys_io.h) that also watches `cancel`: throws kCancelled when the host asks to stop
// before one of `fds` is ready or the deadline passes.
int PollUntil(SysIo& sys, pollfd* fds, nfds_t count, const Deadline& deadline,
              const CancelWatch& cancel);

}  // namespace pullwire::ftp
