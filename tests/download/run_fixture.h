// What the run's tests share: a channel that records messages, a clock that tells the times a
// test gives it, command records built from named slots, and a run over any component.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "com/variant.h"
#include "download/download_run.h"
#include "module/clock.h"
#include "module/message_channel.h"
#include "module/module_state.h"
#include "tests/support/test_files.h"

namespace pullwire::testing {

struct SentMessage {
  std::string text;
  std::int16_t mtype = 0;

  friend bool operator==(const SentMessage&, const SentMessage&) = default;
  friend std::ostream& operator<<(std::ostream& out, const SentMessage& m) {
    return out << "{" << m.mtype << ", \"" << m.text << "\"}";
  }
};
inline SentMessage Info(const std::string& text) { return {text, 0}; }
inline SentMessage Warning(const std::string& text) { return {text, 1}; }
inline SentMessage Failure(const std::string& text) { return {text, 2}; }

class RecordingChannel final : public MessageChannel {
 public:
  void SendHostMessage(const std::string& text, std::int16_t mtype) override {
    sent.push_back({text, mtype});
  }
  std::vector<SentMessage> sent;
};

// Answers with the queued times first, then with the last one for ever.
class ScriptedClock final : public Clock {
 public:
  std::chrono::system_clock::time_point Now() override {
    if (!times.empty()) last = times.front(), times.pop_front();
    return last;
  }
  std::deque<std::chrono::system_clock::time_point> times;
  std::chrono::system_clock::time_point last{std::chrono::hours(500000)};
};

// A flat "all files" record in IMAGE mode, overwrite on, no proxy, no variable; `slots` replaces
// fields by name. The array's lower bound is 1, as hosts pass it.
inline com::StringArray MakeRecord(const std::map<std::string, std::string>& slots) {
  std::vector<std::pair<std::string, std::string>> fields = {
      {"Host", "ftp.example.net"}, {"Username", "reader"}, {"Password", "s3cret"}, {"Port", "21"},
      {"TransferMode", "1"}, {"Timeout", "30"}, {"Passive", "1"}, {"RemoteDir", "/pub"},
      {"LocalDir", "/nonexistent"}, {"AutoDelete", "0"}, {"ProcessAll", "1"}, {"Overwrite", "1"},
      {"ProxyType", "0"}, {"ProxyHost", ""}, {"ProxyPort", "0"}, {"ProxyUsername", ""},
      {"ProxyPassword", ""}, {"SaveFilename", "0"}, {"VarScope", "LOCAL"}, {"VarNumber", "1"},
      {"CopySpecific", "0"}, {"SpecificFilename", ""}, {"Filter", "*"}, {"IncludeSubdir", "0"}};
  std::vector<std::string> items;
  for (const auto& [name, text] : fields) {
    items.push_back(slots.contains(name) ? slots.at(name) : text);
  }
  if (std::erase_if(fields, [&](const auto& f) { return slots.contains(f.first); }) != slots.size()) {
    throw std::invalid_argument("a slot name that is not the record's");
  }
  return com::StringArray(std::move(items), 1);
}

// Everything below `root` by relative path: a file's content, "-> target" for a link, "/" for a
// folder.
inline std::map<std::string, std::string> Contents(const std::filesystem::path& root) {
  std::map<std::string, std::string> found;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
    std::string& value = found[item.path().lexically_relative(root).string()];
    if (item.is_symlink()) {
      value = "-> " + std::filesystem::read_symlink(item.path()).string();
    } else {
      value = item.is_directory() ? "/" : ReadFile(item.path());
    }
  }
  return found;
}

// The messages every run that logs in to `host` sends first, followed by `more`; and last.
inline std::vector<SentMessage> Opening(std::vector<SentMessage> more = {},
                                        const std::string& host = "ftp.example.net") {
  more.insert(more.begin(), {Info("Setup FTP connection ..."), Info("Connecting with [" + host +
                             "] ..."), Info("Connected!"), Info("Retrieving filelist ...")});
  return more;
}
inline SentMessage Closing(const std::string& host = "ftp.example.net") {
  return Info("Disconnecting from [" + host + "] ...");
}

// A run over `Component` with `RunClock` into `local`, which stands alone in `parent` so that a
// write beside it shows.
template <typename Component, typename RunClock>
class RunFixture : public ::testing::Test {
 protected:
  RunFixture() {
    state.AutoLog = true;
    std::filesystem::create_directory(local);
  }
  // Runs a record whose LocalDir is `local` unless `slots` names another.
  void Run(std::map<std::string, std::string> slots = {}) {
    slots.emplace("LocalDir", local.string());
    DownloadRun(run, MakeRecord(slots));
  }
  // Runs against `server`'s /pub.
  template <typename Server>
  void Run(const Server& server, std::map<std::string, std::string> slots) {
    slots.emplace("Host", server.host());
    slots.emplace("Port", std::to_string(server.port()));
    slots.emplace("Username", server.user());
    slots.emplace("Password", server.password());
    slots.emplace("Timeout", "10");
    Run(std::move(slots));
  }
  std::string LocalPath(const std::string& name) const { return (local / name).string(); }

  ModuleState state;
  Component ftp;
  RecordingChannel channel;
  RunClock clock;
  TempDir parent{"run"};
  std::filesystem::path local = parent / "local";
  RunContext run{state, ftp, channel, clock};
};

}  // namespace pullwire::testing
