// What the run's tests share: a recording channel, a scripted clock and FTP component (a remote
// folder in memory, every call logged), command records from named slots, a run over either.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "com/variant.h"
#include "component/ftp_component.h"
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

class ScriptedListing final : public ComponentListing {
 public:
  std::int32_t ListingStyle() const override { return style; }
  std::string UnparsedLines() const override { return unparsed; }
  // Throws on the Nth call (1-based): a build asks once to make room, then once per pass.
  std::size_t EntryCount() const override {
    if (++entries_calls == fail_entries_call) throw FtpError(ErrorCode{50}, "listing unreadable");
    return entries.size();
  }
  ListEntry EntryAt(std::size_t index) const override { return entries.at(index); }
  std::vector<std::string> Warnings() const override { return {}; }

  std::int32_t style = kListingStyleUnix;
  std::string unparsed;
  std::vector<ListEntry> entries;
  int fail_entries_call = 0;
  mutable int entries_calls = 0;
};

class ScriptedComponent final : public FtpComponent {
 public:
  void OperationTimeout(std::int32_t ms) override { Call("OperationTimeout", std::to_string(ms)); }
  void TransferType(std::int32_t type) override { Call("TransferType", std::to_string(type)); }
  void PassiveMode(bool passive) override { Call("PassiveMode", passive ? "true" : "false"); }
  void ProxyKind(std::int32_t kind) override { Call("ProxyKind", std::to_string(kind)); }
  void ProxyServer(const std::string& host) override { Call("ProxyServer", host); }
  void ProxyLoginName(const std::string& name) override { Call("ProxyLoginName", name); }
  void ProxyLoginPassword(const std::string& word) override { Call("ProxyLoginPassword", word); }
  void ProxyServerPort(std::int32_t port) override { Call("ProxyServerPort", std::to_string(port)); }
  std::int32_t ConnectionState() const override { return forced_state.value_or(state_); }
  void Login(const std::string& host, const std::string& user, const std::string& password,
             const std::string& account, std::int32_t port) override {
    Call("Login", host + "," + user + "," + password + "," + account + "," + std::to_string(port));
    state_ = kConnectionStateConnected;
  }
  void Logout() override {
    Call("Logout");
    state_ = 0;
  }
  void WorkingDirectory(const std::string& path) override {
    Call("WorkingDirectory", path);
    working_directory = path;
  }
  std::string CurrentDirectory() override {
    Call("CurrentDirectory");
    return working_directory;
  }
  void ListDirectory() override {
    Call("ListDirectory");
    const auto found = folder_listings.find(working_directory);
    if (found != folder_listings.end()) listing.entries = found->second;
  }
  const ComponentListing& Listing() const override { return listing; }
  // Writes the file's content, cut short by its fault.
  void GetFile(const std::string& remote_file, const std::string& local_destination,
               std::optional<std::int64_t> offset) override {
    std::filesystem::path target(local_destination);
    destinations.push_back(local_destination + (std::filesystem::is_directory(target) ? "/" : ""));
    Call("GetFile", remote_file + (offset ? "," + std::to_string(*offset) : ""));
    const auto found = files.find(remote_file);
    if (found == files.end()) throw FtpError(ErrorCode::kNoSuchFile, "550 " + remote_file);
    if (std::filesystem::is_directory(target)) target /= remote_file;
    std::string content = found->second;
    const auto fault = get_faults.find(remote_file);
    if (fault != get_faults.end()) content.resize(fault->second.first);
    last_transfer_bytes_ = static_cast<std::int64_t>(content.size());
    std::ofstream(target, std::ios::binary | std::ios::trunc) << content;
    if (fault != get_faults.end() && fault->second.second) throw *fault->second.second;
  }
  std::int64_t LastTransferBytes() const override { return last_transfer_bytes_; }
  // Reports the wildcard's matched_items complete, then fails as failing_calls says.
  void GetMatching(const std::string& wildcard, const std::string& local_folder) override {
    calls.push_back("GetMatching(" + wildcard + "," + local_folder + ")");
    for (const MatchedItem& item : matched_items[wildcard]) matched_(item);
    const auto failing = failing_calls.find(calls.back());
    if (failing != failing_calls.end()) throw failing->second;
  }
  void ContinuePartialCopies(bool on) override { Call("ContinuePartialCopies", on ? "true" : "false"); }
  void SetMatchedItemHandler(MatchedItemHandler handler) override { matched_ = std::move(handler); }
  void DeleteFile(const std::string& path) override {
    Call("DeleteFile", path);
    files.erase(path);
  }
  void RemoveDirectory(const std::string& path) override { Call("RemoveDirectory", path); }

  void AddFile(const std::string& name, const std::string& content) {
    files[name] = content;
    listing.entries.push_back({name, "F", static_cast<std::int64_t>(content.size()), 0, ""});
  }
  void AddFolder(const std::string& name) { listing.entries.push_back({name, "D", 0, 0, ""}); }
  void Fail(const std::string& call, std::int32_t code, const std::string& text) {
    failing_calls.emplace(call, FtpError(ErrorCode{code}, text));
  }

  std::vector<std::string> calls;  // "Name(arg,arg)" in order; ConnectionState left out
  // Called with the member's name after it is logged: throw to fail it.
  std::function<void(const std::string& member)> before;
  std::optional<std::int32_t> forced_state;  // overrides what Login and Logout leave
  std::string drop_at;  // the connection drops when this member is called
  std::map<std::string, std::string> files;  // remote name -> content, what GetFile serves
  // GetFile of a name here writes only the first bytes, then throws the error (if any).
  std::map<std::string, std::pair<std::size_t, std::optional<FtpError>>> get_faults;
  std::vector<std::string> destinations;  // every GetFile's local destination, a folder's with "/"
  ScriptedListing listing;
  // What ListDirectory lists in a working directory named here (else `listing` stays).
  std::map<std::string, std::vector<ListEntry>> folder_listings;
  std::map<std::string, FtpError> failing_calls;  // a logged call that throws this
  // What GetMatching reports complete, by wildcard, before it throws a failing_calls error.
  std::map<std::string, std::vector<MatchedItem>> matched_items;
  std::string working_directory;

 private:
  void Call(const std::string& member, std::optional<std::string> args = std::nullopt) {
    calls.push_back(args ? member + "(" + *args + ")" : member);
    const auto failing = failing_calls.find(calls.back());
    if (failing != failing_calls.end()) throw failing->second;
    if (member == drop_at) forced_state = 0;
    if (before) before(member);
  }
  std::int32_t state_ = 0;
  std::int64_t last_transfer_bytes_ = 0;
  MatchedItemHandler matched_;
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
    slots.insert({{"Host", server.host()}, {"Port", std::to_string(server.port())},
                  {"Username", server.user()}, {"Password", server.password()}, {"Timeout", "10"}});
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
