// Download runs with a fresh local folder, recording what they send: the shared fixture, and
// the one over the scripted component.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/download_run.h"
#include "module/module_state.h"
#include "tests/download/run_test_support.h"
#include "tests/download/scripted_component.h"
#include "tests/support/test_files.h"

namespace pullwire::testing {

// A run over `Component` with `RunClock` whose local folder is `local`.
template <typename Component, typename RunClock>
class RunFixtureOf : public ::testing::Test {
 protected:
  RunFixtureOf() {
    state.AutoLog = true;
    std::filesystem::create_directory(local);
  }

  std::string LocalPath(const std::string& name) const { return local.string() + "/" + name; }
  std::string Downloading(const std::string& name, std::size_t size) const {
    return DownloadingText(local, name, size);
  }

  ModuleState state;
  Component ftp;
  RecordingChannel channel;
  RunClock clock;
  TempDir parent{"run"};  // holds `local` and nothing else, so a write beside it shows
  std::filesystem::path local = parent / "local";
  RunContext run{state, ftp, channel, clock};
};

class RunFixture : public RunFixtureOf<ScriptedComponent, ScriptedClock> {
 protected:
  // Runs a record whose LocalDir is the fixture's folder unless `slots` names another.
  void Run(std::map<std::string, std::string> slots = {}) {
    slots.emplace("LocalDir", local.string());
    DownloadRun(run, MakeRecord(slots));
  }
  static std::vector<SentMessage> Opening() { return OpeningFor("ftp.example.net"); }
};

}  // namespace pullwire::testing
