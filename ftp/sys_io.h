// The system calls of the data path and of local files, behind one seam so that tests can
// inject EINTR, short writes, a full disk or a refused splice.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>

#include "ftp/deadline.h"

namespace pullwire::ftp {

// Each call behaves like the system call of its name: -1 with errno set on failure.
class SysIo {
 public:
  virtual ~SysIo() = default;
  virtual ssize_t Read(int fd, void* data, std::size_t size);
  virtual ssize_t Write(int fd, const void* data, std::size_t size);
  // send(2) with MSG_NOSIGNAL: a peer that went away is an error, not a SIGPIPE.
  virtual ssize_t Send(int fd, const void* data, std::size_t size);
  // splice(2) without offsets.
  virtual ssize_t Splice(int fd_in, int fd_out, std::size_t size, unsigned int flags);
  virtual int Poll(pollfd* fds, nfds_t count, int timeout_ms);
};

SysIo& DefaultSysIo();

// Polls until one of `fds` is ready or `deadline` passes, EINTR retried: > 0 ready, 0 when the
// deadline passed, -1 (errno set) for another failure.
int PollUntil(SysIo& sys, pollfd* fds, nfds_t count, const Deadline& deadline);

}  // namespace pullwire::ftp
