// DownloadRun with the engine's component against a real server on loopback.
#pragma once

#include <map>
#include <string>

#include "download/engine_component.h"
#include "tests/download/run_fixture.h"

namespace pullwire::testing {

class ServerRunFixture : public ::testing::Test {
 protected:
  ServerRunFixture() { state.AutoLog = true; }

  // A record for `host`:`port` with the given login; `slots` overrides any field.
  void Run(const std::string& host, int port, const std::string& user, const std::string& password,
           std::map<std::string, std::string> slots = {}) {
    slots.emplace("Host", host);
    slots.emplace("Port", std::to_string(port));
    slots.emplace("Username", user);
    slots.emplace("Password", password);
    slots.emplace("LocalDir", local.string());
    slots.emplace("Timeout", "10");
    DownloadRun(run, MakeRecord(slots));
  }

  std::string LocalPath(const std::string& name) const { return local.string() + "/" + name; }
  std::string Downloading(const std::string& name, std::size_t size) const {
    return "Downloading [" + name + "] to [" + LocalPath(name) + "] (" + std::to_string(size) + " Bytes) ...";
  }
  std::vector<SentMessage> Opening(const std::string& host) const {
    return {Info("Setup FTP connection ..."), Info("Connecting with [" + host + "] ..."), Info("Connected!"),
            Info("Retrieving filelist ...")};
  }

  ModuleState state;
  EngineComponent ftp;
  RecordingChannel channel;
  SystemClock clock;
  TempDir parent{"server-run"};  // holds `local` and nothing else, so a write beside it shows
  std::filesystem::path local = parent / "local";
  RunContext run{state, ftp, channel, clock};

  void SetUp() override { std::filesystem::create_directory(local); }
};

}  // namespace pullwire::testing
