// A scripted FTP component for exact message and call sequences: a remote folder held in
// memory, every member call logged with its arguments, and hooks that fail a member or change the
// connection state at the moment a test needs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "component/ftp_component.h"

namespace pullwire::testing {

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
  std::vector<std::string> Warnings() const override { return warnings; }

  std::int32_t style = kListingStyleUnix;
  std::string unparsed;
  std::vector<ListEntry> entries;
  std::vector<std::string> warnings;
  int fail_entries_call = 0;
  mutable int entries_calls = 0;
};

// How the GetFile of one remote name goes wrong: `bytes_written` of the content arrive, then
// `error` is thrown (none: GetFile returns, leaving a short copy).
struct GetFault {
  std::size_t bytes_written = 0;
  std::optional<FtpError> error;
};

class ScriptedComponent final : public FtpComponent {
 public:
  void OperationTimeout(std::int32_t ms) override { Call("OperationTimeout", std::to_string(ms)); }
  void TransferType(std::int32_t type) override {
    Call("TransferType", std::to_string(type));
    transfer_type_ = type;
  }
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
    if (unenterable.contains(path)) throw NoSuchFile(path);
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
  // Writes the file's content (cut short by its fault) with TYPE A's CRLF to LF on disk.
  void GetFile(const std::string& remote_file, const std::string& local_destination,
               std::optional<std::int64_t> offset) override {
    std::filesystem::path target(local_destination);
    destinations.push_back(local_destination + (std::filesystem::is_directory(target) ? "/" : ""));
    Call("GetFile", remote_file + (offset ? "," + std::to_string(*offset) : ""));
    const auto found = files.find(remote_file);
    if (found == files.end()) throw NoSuchFile(remote_file);
    if (std::filesystem::is_directory(target)) target /= remote_file;
    std::string content = found->second;
    const auto fault = get_faults.find(remote_file);
    if (fault != get_faults.end()) content.resize(fault->second.bytes_written);
    last_transfer_bytes_ = static_cast<std::int64_t>(content.size());
    for (std::size_t i = 0; transfer_type_ == 0 && i < content.size(); ++i) {
      if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') content.erase(i, 1);
    }
    std::ofstream(target, std::ios::binary | std::ios::trunc) << content;
    if (fault != get_faults.end() && fault->second.error) throw *fault->second.error;
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

  // A file in the remote folder and its listing entry; a folder's entry.
  void AddFile(const std::string& name, const std::string& content) {
    files[name] = content;
    listing.entries.push_back({name, "F", static_cast<std::int64_t>(content.size()), 0, ""});
  }
  void AddFolder(const std::string& name) { listing.entries.push_back({name, "D", 0, 0, ""}); }

  std::vector<std::string> calls;  // "Name(arg,arg)" in order; ConnectionState left out
  // Called with the member's name after it is logged: throw to fail it.
  std::function<void(const std::string& member)> before;
  std::optional<std::int32_t> forced_state;  // overrides what Login and Logout leave
  std::set<std::string> unenterable;         // WorkingDirectory paths that fail with 550
  std::map<std::string, std::string> files;  // remote name -> content, what GetFile serves
  std::map<std::string, GetFault> get_faults;
  std::vector<std::string> destinations;  // every GetFile's local destination, a folder's with "/"
  ScriptedListing listing;
  // What ListDirectory lists in a working directory named here (else `listing` stays).
  std::map<std::string, std::vector<ListEntry>> folder_listings;
  std::map<std::string, FtpError> failing_calls;  // a logged call that throws this
  // What GetMatching reports complete, by wildcard, before it throws a failing_calls error.
  std::map<std::string, std::vector<MatchedItem>> matched_items;
  std::string working_directory;

 private:
  static FtpError NoSuchFile(const std::string& path) {
    return FtpError(ErrorCode::kNoSuchFile, "550 " + path + ": No such file or directory.");
  }
  void Call(const std::string& member, std::optional<std::string> args = std::nullopt) {
    calls.push_back(args ? member + "(" + *args + ")" : member);
    const auto failing = failing_calls.find(calls.back());
    if (failing != failing_calls.end()) throw failing->second;
    if (before) before(member);
  }
  std::int32_t state_ = 0;
  std::int32_t transfer_type_ = 0;
  std::int64_t last_transfer_bytes_ = 0;
  MatchedItemHandler matched_;
};

}  // namespace pullwire::testing
