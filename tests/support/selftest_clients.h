// Client command lines for the fixture self-tests: curl and the ftplib probe against a server.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <fmt/core.h>

#include "tests/support/test_servers.h"

namespace pullwire::testing {

// curl with a bound and quiet output, logged in as user:password.
inline std::vector<std::string> CurlArgs(std::string_view user, std::string_view password,
                                         std::vector<std::string> rest) {
  std::vector<std::string> argv = {"curl", "-sS", "--max-time", "10",
                                   "-u", fmt::format("{}:{}", user, password)};
  argv.insert(argv.end(), rest.begin(), rest.end());
  return argv;
}

inline std::string FtpUrl(int port, std::string_view path, std::string_view host = kLoopback) {
  return fmt::format("ftp://{}:{}/{}", host, port, path);
}

// tests/support/servers/ftp_probe.py: one ftplib session running `steps` in order.
inline std::vector<std::string> ProbeArgs(int port, std::string_view user,
                                          std::string_view password,
                                          std::vector<std::string> steps,
                                          std::vector<std::string> options = {}) {
  std::vector<std::string> argv = {"/usr/bin/python3", (ServersDir() / "ftp_probe.py").string(),
                                   "--port", std::to_string(port), "--user", std::string(user),
                                   "--password", std::string(password)};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), steps.begin(), steps.end());
  return argv;
}

}  // namespace pullwire::testing
