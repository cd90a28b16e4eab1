// engine_fetch: one download with the FTP engine alone, for whole-process comparisons with
// curl, wget and lftp (bench/run-bench.sh). Prints "bytes=N files=N seconds=S" on success.
//
//   engine_fetch --port 2121 --user u [--active] [--ascii] file /big.bin /out/big.bin
//   engine_fetch --port 2121 --user u matching "/tree/*" /out/tree
// The password comes from $PULLWIRE_BENCH_PASSWORD, so that it is not on the command line.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ftp/errors.h"
#include "ftp/get_file.h"
#include "ftp/get_matching.h"
#include "ftp/session.h"

int main(int argc, char** argv) {
  CLI::App app{"Downloads with the Pullwire FTP engine and reports the time taken"};
  std::string host = "127.0.0.1";
  int port = 21;
  std::string user;
  bool active = false;
  bool ascii = false;
  bool no_splice = false;
  std::string mode;
  std::string remote;
  std::string local;
  app.add_option("--host", host, "server host");
  app.add_option("--port", port, "server port")->check(CLI::Range(1, 65535));
  app.add_option("--user", user, "login name")->required();
  app.add_flag("--active", active, "active mode (PORT/EPRT) instead of passive");
  app.add_flag("--ascii", ascii, "TYPE A instead of TYPE I");
  app.add_flag("--no-splice", no_splice, "read/write through a buffer instead of splice(2)");
  app.add_option("mode", mode, "file | matching")
      ->required()
      ->check(CLI::IsMember({"file", "matching"}));
  app.add_option("remote", remote, "remote file, or wildcard path")->required();
  app.add_option("local", local, "local file or folder")->required();
  CLI11_PARSE(app, argc, argv);

  const char* password = std::getenv("PULLWIRE_BENCH_PASSWORD");
  pullwire::ftp::Session session;
  session.set_timeout(std::chrono::seconds(60));
  session.set_passive(!active);
  session.set_zero_copy(!no_splice);
  session.set_transfer_type(ascii ? pullwire::ftp::TransferType::kAscii
                                  : pullwire::ftp::TransferType::kImage);
  const auto start = std::chrono::steady_clock::now();
  try {
    pullwire::ftp::LoginParams login;
    login.host = host;
    login.port = static_cast<std::uint16_t>(port);
    login.user = user;
    login.password = password != nullptr ? password : "";
    session.Login(login);
    std::int64_t bytes = 0;
    std::int64_t files = 1;
    if (mode == "file") {
      bytes = pullwire::ftp::GetFile(session, remote, local).bytes;
    } else {
      const pullwire::ftp::MatchingResult result =
          pullwire::ftp::GetMatching(session, remote, local);
      bytes = result.bytes;
      files = result.files;
    }
    session.Logout();
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("bytes=%lld files=%lld seconds=%.3f\n", static_cast<long long>(bytes),
                static_cast<long long>(files), seconds.count());
    return 0;
  } catch (const pullwire::ftp::FtpError& error) {
    std::fprintf(stderr, "engine_fetch: error %d: %s\n", error.number(), error.what());
    return 1;
  }
}
