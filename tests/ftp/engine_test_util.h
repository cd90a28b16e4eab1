// Helpers shared by the engine's tests: catching errors, logging in to a fixture, writing a
// server's files, a traced session, and system calls that fail on purpose.
#pragma once

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "ftp/errors.h"
#include "ftp/session.h"
#include "ftp/sys_io.h"
#include "tests/support/test_files.h"

namespace pullwire::ftp::test {

using namespace std::chrono_literals;

// Runs `body` and returns the FtpError it threw; a body that does not throw fails the test.
template <typename Body>
FtpError CatchFtpError(Body body) {
  try {
    body();
  } catch (const FtpError& error) {
    return error;
  }
  ADD_FAILURE() << "nothing was thrown";
  return FtpError({}, "<none>");
}

// Runs `body`, expecting an FtpError with `code` whose text is `text` (a string: exactly that).
template <typename Body>
void ExpectFtpError(Body body, ErrorCode code, const ::testing::Matcher<std::string>& text) {
  const FtpError error = CatchFtpError(body);
  EXPECT_EQ(error.code(), code) << error.what();
  EXPECT_THAT(std::string(error.what()), text);
}

inline LoginParams LoginAt(std::string host, int port, std::string user = {},
                           std::string password = {}) {
  return {std::move(host), static_cast<std::uint16_t>(port), std::move(user),
          std::move(password), {}};
}

template <typename Server>
LoginParams LoginFor(const Server& server) {
  return LoginAt(server.host(), server.port(), server.user(), server.password());
}

// A session whose trace is kept, with a short time-out so that failing tests end quickly.
struct TracedSession {
  explicit TracedSession(Milliseconds timeout = 5s, SysIo& sys = DefaultSysIo()) : session(sys) {
    session.set_timeout(timeout);
    session.set_trace([this](std::string_view line) { trace.emplace_back(line); });
  }
  std::vector<std::string> Commands() const {  // the commands sent, without the "> " mark
    std::vector<std::string> commands;
    for (const std::string& line : trace) {
      if (line.rfind("> ", 0) == 0) commands.push_back(line.substr(2));
    }
    return commands;
  }
  Session session;
  std::vector<std::string> trace;
};

// System calls that fail on purpose: EINTR, short writes, a full disk, splice refused.
class FaultySysIo : public SysIo {
 public:
  int interrupted_reads = 0, interrupted_writes = 0;
  std::size_t max_write = SIZE_MAX;
  std::int64_t disk_room = -1;     // bytes written before ENOSPC; -1: no limit
  int splice_into_file_error = 0;  // errno for splices whose source is our pipe

  ssize_t Read(int fd, void* data, std::size_t size) override {
    return Interrupted(interrupted_reads) ? -1 : SysIo::Read(fd, data, size);
  }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    if (Interrupted(interrupted_writes) || !Fits(size)) return -1;
    return Used(SysIo::Write(fd, data, std::min(size, max_write)));
  }
  ssize_t Splice(int fd_in, int fd_out, std::size_t size, unsigned int flags) override {
    if ((flags & SPLICE_F_NONBLOCK) != 0) return SysIo::Splice(fd_in, fd_out, size, flags);
    errno = splice_into_file_error;
    return errno != 0 || !Fits(size) ? -1 : Used(SysIo::Splice(fd_in, fd_out, size, flags));
  }

 private:
  static bool Interrupted(int& count) {
    errno = EINTR;
    return count > 0 && count-- > 0;
  }
  bool Fits(std::size_t& size) {  // cuts `size` to the room left; false (ENOSPC) when none
    if (disk_room < 0) return true;
    errno = ENOSPC;
    size = std::min<std::size_t>(size, static_cast<std::size_t>(disk_room));
    return disk_room > 0;
  }
  ssize_t Used(ssize_t done) {
    if (disk_room >= 0 && done > 0) disk_room -= done;
    return done;
  }
};

}  // namespace pullwire::ftp::test
