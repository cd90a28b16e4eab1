// Helpers shared by the engine's integration tests: logging in to a fixture, catching errors.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ftp/errors.h"
#include "ftp/session.h"

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
  ADD_FAILURE() << "no FtpError was thrown";
  return FtpError(ErrorCode::kInvalidValue, "<none>");
}

template <typename Server>
LoginParams LoginFor(const Server& server) {
  LoginParams login;
  login.host = server.host();
  login.port = static_cast<std::uint16_t>(server.port());
  login.user = server.user();
  login.password = server.password();
  return login;
}

// A session whose trace is kept, with a short time-out so that failing tests end quickly.
class TracedSession {
 public:
  explicit TracedSession(Milliseconds timeout = 5s) {
    session.set_timeout(timeout);
    session.set_trace([this](std::string_view line) { trace.emplace_back(line); });
  }
  // The commands sent, without the "> " mark.
  std::vector<std::string> Commands() const {
    std::vector<std::string> commands;
    for (const std::string& line : trace) {
      if (line.rfind("> ", 0) == 0) commands.push_back(line.substr(2));
    }
    return commands;
  }

  Session session;
  std::vector<std::string> trace;
};

}  // namespace pullwire::ftp::test
