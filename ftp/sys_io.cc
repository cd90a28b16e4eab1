// The real system calls behind the SysIo seam.
#include "ftp/sys_io.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

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

}  // namespace pullwire::ftp
