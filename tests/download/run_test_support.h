// What the run's tests share: a channel that records messages, a clock that tells the times a
// test gives it, and command records built from named slots.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "com/variant.h"
#include "module/clock.h"
#include "module/message_channel.h"

namespace pullwire::testing {

struct SentMessage {
  std::string text;
  std::int16_t mtype = 0;

  friend bool operator==(const SentMessage&, const SentMessage&) = default;
  friend std::ostream& operator<<(std::ostream& out, const SentMessage& m) {
    return out << "{" << m.mtype << ", \"" << m.text << "\"}";
  }
};

class RecordingChannel final : public MessageChannel {
 public:
  void SendHostMessage(const std::string& message, std::int16_t mtype) override {
    sent.push_back({message, mtype});
  }
  std::vector<SentMessage> sent;
};

// Answers with the queued times first, then with the last one (or a fixed time) for ever.
class ScriptedClock final : public Clock {
 public:
  std::chrono::system_clock::time_point Now() override {
    if (!times.empty()) {
      last = times.front();
      times.pop_front();
    }
    return last;
  }
  std::deque<std::chrono::system_clock::time_point> times;
  std::chrono::system_clock::time_point last = std::chrono::system_clock::time_point(std::chrono::hours(500000));
};

// Record slot names in order, slot 1 first.
inline const char* const kSlotNames[24] = {
    "Host", "Username", "Password", "Port", "TransferMode", "Timeout", "Passive", "RemoteDir",
    "LocalDir", "AutoDelete", "ProcessAll", "Overwrite", "ProxyType", "ProxyHost", "ProxyPort",
    "ProxyUsername", "ProxyPassword", "SaveFilename", "VarScope", "VarNumber", "CopySpecific",
    "SpecificFilename", "Filter", "IncludeSubdir"};

// A flat "all files" record in IMAGE mode, overwrite on, no proxy, no variable; `slots` replaces
// fields by name. The array's lower bound is 1, as hosts pass it.
inline com::StringArray MakeRecord(const std::map<std::string, std::string>& slots) {
  std::map<std::string, std::string> values = {
      {"Host", "ftp.example.net"}, {"Username", "reader"}, {"Password", "s3cret"}, {"Port", "21"},
      {"TransferMode", "1"}, {"Timeout", "30"}, {"Passive", "1"}, {"RemoteDir", "/pub"},
      {"LocalDir", "/nonexistent"}, {"AutoDelete", "0"}, {"ProcessAll", "1"}, {"Overwrite", "1"},
      {"ProxyType", "0"}, {"ProxyHost", ""}, {"ProxyPort", "0"}, {"ProxyUsername", ""},
      {"ProxyPassword", ""}, {"SaveFilename", "0"}, {"VarScope", "LOCAL"}, {"VarNumber", "1"},
      {"CopySpecific", "0"}, {"SpecificFilename", ""}, {"Filter", "*"}, {"IncludeSubdir", "0"}};
  for (const auto& [name, text] : slots) values.at(name) = text;
  std::vector<std::string> items;
  for (const char* name : kSlotNames) items.push_back(values.at(name));
  return com::StringArray(std::move(items), 1);
}

// The slots that point a flat run at `server`'s /pub and at the local folder `local`; `slots`
// names the fields that differ.
template <typename Server>
std::map<std::string, std::string> ServerSlots(const Server& server, const std::filesystem::path& local,
                                               std::map<std::string, std::string> slots) {
  slots.emplace("Host", server.host());
  slots.emplace("Port", std::to_string(server.port()));
  slots.emplace("Username", server.user());
  slots.emplace("Password", server.password());
  slots.emplace("RemoteDir", "/pub");
  slots.emplace("LocalDir", local.string());
  return slots;
}

inline SentMessage Info(const std::string& text) { return {text, 0}; }
inline SentMessage Warning(const std::string& text) { return {text, 1}; }
inline SentMessage Failure(const std::string& text) { return {text, 2}; }

// Names in a folder, sorted, so a leftover temporary file shows up in a comparison.
inline std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    names.push_back(item.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The messages every run that logs in to `host` sends first.
inline std::vector<SentMessage> OpeningFor(const std::string& host) {
  return {Info("Setup FTP connection ..."), Info("Connecting with [" + host + "] ..."), Info("Connected!"),
          Info("Retrieving filelist ...")};
}

// The message before the transfer of `name` into the local folder `local`.
inline std::string DownloadingText(const std::filesystem::path& local, const std::string& name, std::size_t size) {
  return "Downloading [" + name + "] to [" + local.string() + "/" + name + "] (" + std::to_string(size) +
         " Bytes) ...";
}

// `first` followed by `more`.
inline std::vector<SentMessage> Then(std::vector<SentMessage> first, const std::vector<SentMessage>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

}  // namespace pullwire::testing
