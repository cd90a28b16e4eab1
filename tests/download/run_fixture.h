// A run over the scripted component with a fresh local folder, recording what it sends.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/download_run.h"
#include "plugin/module_state.h"
#include "tests/download/run_test_support.h"
#include "tests/download/scripted_component.h"
#include "tests/support/test_files.h"

namespace pullwire::testing {

class RunFixture : public ::testing::Test {
 protected:
  RunFixture() { state.AutoLog = true; }

  // Runs a record whose LocalDir is the fixture's folder unless `slots` names another.
  void Run(std::map<std::string, std::string> slots = {}, FolderModeRoutines* folder_mode = nullptr) {
    slots.emplace("LocalDir", local.path().string());
    DownloadRun(run, MakeRecord(slots), folder_mode);
  }

  std::string LocalPath(const std::string& name) const { return local.path().string() + "/" + name; }
  std::string Downloading(const std::string& name, std::size_t size) const {
    return "Downloading [" + name + "] to [" + LocalPath(name) + "] (" + std::to_string(size) + " Bytes) ...";
  }

  // The messages every run that logs in sends first.
  static std::vector<SentMessage> Opening() {
    return {Info("Setup FTP connection ..."), Info("Connecting with [ftp.example.net] ..."), Info("Connected!"),
            Info("Retrieving filelist ...")};
  }

  ModuleState state;
  ScriptedComponent ftp;
  RecordingChannel channel;
  ScriptedClock clock;
  TempDir local{"run"};
  RunContext run{state, ftp, channel, clock};
};

}  // namespace pullwire::testing
