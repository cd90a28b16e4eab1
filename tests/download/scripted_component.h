// A scripted FTP component for exact message and call sequences: a remote folder held in
// memory, every member call logged with its arguments, and hooks that fail a member or change the
// connection state at the moment a test needs.
#pragma once

#include <cstdint>
#include <filesystem>
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
  std::int32_t ListingStyle() const override;
  std::string UnparsedLines() const override;
  std::size_t EntryCount() const override;
  ListEntry EntryAt(std::size_t index) const override { return entries.at(index); }
  std::vector<std::string> Warnings() const override { return warnings; }

  std::int32_t style = kListingStyleUnix;
  std::string unparsed;
  std::vector<ListEntry> entries;
  std::vector<std::string> warnings;
  // EntryCount() throws on its Nth call (1-based); a build asks once to make room, then once per
  // pass, so a build can fail before or in either pass.
  int fail_entries_call = 0;
  mutable int entries_calls = 0;
};

// How the GetFile of one remote name goes wrong.
struct GetFault {
  std::int64_t bytes_written = 0;  // of the content, written before the fault
  std::optional<FtpError> error;   // thrown then; none: GetFile returns (a short copy)
};

class ScriptedComponent final : public FtpComponent {
 public:
  void OperationTimeout(std::int32_t milliseconds) override;
  void TransferType(std::int32_t type) override;
  void PassiveMode(bool passive) override;
  void ProxyKind(std::int32_t kind) override;
  void ProxyServer(const std::string& host) override;
  void ProxyLoginName(const std::string& name) override;
  void ProxyLoginPassword(const std::string& password) override;
  void ProxyServerPort(std::int32_t port) override;
  std::int32_t ConnectionState() const override;
  void Login(const std::string& host, const std::string& user, const std::string& password,
             const std::string& account, std::int32_t port) override;
  void Logout() override;
  void WorkingDirectory(const std::string& remote_path) override;
  std::string CurrentDirectory() override;
  void ListDirectory() override;
  const ComponentListing& Listing() const override;
  void GetFile(const std::string& remote_file, const std::string& local_destination,
               std::optional<std::int64_t> restart_offset) override;
  std::int64_t LastTransferBytes() const override { return last_transfer_bytes_; }
  void GetMatching(const std::string& remote_wildcard, const std::string& local_folder) override;
  void ContinuePartialCopies(bool continue_copies) override;
  void SetMatchedItemHandler(MatchedItemHandler handler) override { matched_ = std::move(handler); }
  void DeleteFile(const std::string& remote_path) override;
  void RemoveDirectory(const std::string& remote_path) override;

  // Adds a file to the remote folder and a matching listing entry.
  void AddFile(const std::string& name, const std::string& content);
  void AddFolder(const std::string& name);

  // Every member call in order, as "Name(arg,arg)"; ConnectionState calls are left out unless
  // log_connection_state is set.
  std::vector<std::string> calls;
  bool log_connection_state = false;
  // Called with the member's name before it does anything: throw to fail it.
  std::function<void(const std::string& member)> before;
  // ConnectionState answers: nullopt follows Login/Logout; a value overrides.
  std::optional<std::int32_t> forced_state;
  std::set<std::string> unenterable;  // WorkingDirectory paths that fail with 11101
  std::map<std::string, std::string> files;  // remote name -> content, what GetFile serves
  std::map<std::string, GetFault> get_faults;
  std::vector<std::string> destinations;  // the local destination of every GetFile
  ScriptedListing listing;
  // What ListDirectory lists in a working directory named here (else `listing` stays).
  std::map<std::string, std::vector<ListEntry>> folder_listings;
  // A logged call ("RemoveDirectory(/pub/a)") that throws this instead of doing anything.
  std::map<std::string, FtpError> failing_calls;
  // What GetMatching reports complete, by wildcard, before it throws a failing_calls error.
  std::map<std::string, std::vector<MatchedItem>> matched_items;
  std::int32_t transfer_type = 0;
  std::string working_directory;

 private:
  void Log(const std::string& call);
  std::int32_t state_ = 0;
  std::int64_t last_transfer_bytes_ = 0;
  MatchedItemHandler matched_;
};

}  // namespace pullwire::testing
