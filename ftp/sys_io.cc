// The real system calls behind the SysIo seam.
#include "ftp/sys_io.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace pullwire::ftp {

ssize_t SysIo::Read(int fd, void* data, std::size_t size) { return ::read(fd, data, size); }

ssize_t SysIo::Write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

ssize_t SysIo::Send(int fd, const void* data, std::size_t size) {
  return ::send(fd, data, size, MSG_NOSIGNAL);
}

ssize_t SysIo::Splice(int fd_in, int fd_out, std::size_t size, unsigned int flags) {
  return ::splice(fd_in, nullptr, fd_out, nullptr, size, flags);
}

int SysIo::Poll(pollfd* fds, nfds_t count, int timeout_ms) {
  return ::poll(fds, count, timeout_ms);
}

SysIo& DefaultSysIo() {
  static SysIo sys_io;
  return sys_io;
}

int PollUntil(SysIo& sys, pollfd* fds, nfds_t count, const Deadline& deadline) {
  while (true) {
    const auto left = std::min<Milliseconds::rep>(deadline.Left().count(), INT_MAX);
    const int ready = sys.Poll(fds, count, static_cast<int>(left));
    if (ready > 0 || (ready < 0 && errno != EINTR)) return ready;
    if (deadline.Passed()) return 0;
  }
}

}  // namespace pullwire::ftp
