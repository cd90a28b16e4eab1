// The scripted component: a folder in memory and a log of every call.
#include "tests/download/scripted_component.h"

#include <fstream>
#include <stdexcept>

namespace pullwire::testing {

std::int32_t ScriptedListing::ListingStyle() const { return style; }
std::string ScriptedListing::UnparsedLines() const { return unparsed; }
std::size_t ScriptedListing::EntryCount() const {
  ++entries_calls;
  if (entries_calls == fail_entries_call) throw FtpError(ErrorCode{50}, "listing entry unreadable");
  return entries.size();
}

void ScriptedComponent::Log(const std::string& call) {
  calls.push_back(call);
  const auto failing = failing_calls.find(call);
  if (failing != failing_calls.end() && !call.starts_with("GetMatching")) throw failing->second;
}

void ScriptedComponent::OperationTimeout(std::int32_t milliseconds) {
  if (before) before("OperationTimeout");
  Log("OperationTimeout(" + std::to_string(milliseconds) + ")");
}
void ScriptedComponent::TransferType(std::int32_t type) {
  if (before) before("TransferType");
  Log("TransferType(" + std::to_string(type) + ")");
  transfer_type = type;
}
void ScriptedComponent::PassiveMode(bool passive) {
  if (before) before("PassiveMode");
  Log(std::string("PassiveMode(") + (passive ? "true" : "false") + ")");
}
void ScriptedComponent::ProxyKind(std::int32_t kind) {
  if (before) before("ProxyKind");
  Log("ProxyKind(" + std::to_string(kind) + ")");
}
void ScriptedComponent::ProxyServer(const std::string& host) {
  if (before) before("ProxyServer");
  Log("ProxyServer(" + host + ")");
}
void ScriptedComponent::ProxyLoginName(const std::string& name) {
  if (before) before("ProxyLoginName");
  Log("ProxyLoginName(" + name + ")");
}
void ScriptedComponent::ProxyLoginPassword(const std::string& password) {
  if (before) before("ProxyLoginPassword");
  Log("ProxyLoginPassword(" + password + ")");
}
void ScriptedComponent::ProxyServerPort(std::int32_t port) {
  if (before) before("ProxyServerPort");
  Log("ProxyServerPort(" + std::to_string(port) + ")");
}

std::int32_t ScriptedComponent::ConnectionState() const {
  if (log_connection_state) const_cast<ScriptedComponent*>(this)->Log("ConnectionState");
  return forced_state ? *forced_state : state_;
}

void ScriptedComponent::Login(const std::string& host, const std::string& user, const std::string& password,
                              const std::string& account, std::int32_t port) {
  Log("Login(" + host + "," + user + "," + password + "," + account + "," + std::to_string(port) + ")");
  if (before) before("Login");
  state_ = kConnectionStateConnected;
}

void ScriptedComponent::Logout() {
  Log("Logout");
  if (before) before("Logout");
  state_ = 0;
}

void ScriptedComponent::WorkingDirectory(const std::string& remote_path) {
  Log("WorkingDirectory(" + remote_path + ")");
  if (before) before("WorkingDirectory");
  if (unenterable.count(remote_path) != 0) {
    throw FtpError(ErrorCode::kNoSuchFile, "550 " + remote_path + ": No such file or directory.");
  }
  working_directory = remote_path;
}

std::string ScriptedComponent::CurrentDirectory() {
  Log("CurrentDirectory");
  if (before) before("CurrentDirectory");
  return working_directory;
}

void ScriptedComponent::ListDirectory() {
  Log("ListDirectory");
  if (before) before("ListDirectory");
  const auto found = folder_listings.find(working_directory);
  if (found != folder_listings.end()) listing.entries = found->second;
}

const ComponentListing& ScriptedComponent::Listing() const { return listing; }

void ScriptedComponent::GetFile(const std::string& remote_file, const std::string& local_destination,
                                std::optional<std::int64_t> restart_offset) {
  Log("GetFile(" + remote_file + (restart_offset ? "," + std::to_string(*restart_offset) : "") + ")");
  destinations.push_back(local_destination);
  if (before) before("GetFile");
  const auto found = files.find(remote_file);
  if (found == files.end()) {
    throw FtpError(ErrorCode::kNoSuchFile, "550 " + remote_file + ": No such file or directory.");
  }
  std::filesystem::path target(local_destination);
  if (std::filesystem::is_directory(target)) target /= remote_file;
  std::string content = found->second;
  const auto fault = get_faults.find(remote_file);
  if (fault != get_faults.end()) content.resize(static_cast<std::size_t>(fault->second.bytes_written));
  last_transfer_bytes_ = static_cast<std::int64_t>(content.size());
  if (transfer_type == 0) {  // TYPE A: CRLF becomes LF on disk
    std::string converted;
    for (std::size_t i = 0; i < content.size(); ++i) {
      if (!(content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n')) converted += content[i];
    }
    content = converted;
  }
  std::ofstream(target, std::ios::binary | std::ios::trunc) << content;
  if (fault == get_faults.end()) return;
  if (fault->second.error) throw *fault->second.error;
}

void ScriptedComponent::GetMatching(const std::string& remote_wildcard, const std::string& local_folder) {
  const std::string call = "GetMatching(" + remote_wildcard + "," + local_folder + ")";
  Log(call);
  for (const MatchedItem& item : matched_items[remote_wildcard]) {
    if (matched_) matched_(item);
  }
  const auto failing = failing_calls.find(call);
  if (failing != failing_calls.end()) throw failing->second;
}

void ScriptedComponent::ContinuePartialCopies(bool continue_copies) {
  Log(std::string("ContinuePartialCopies(") + (continue_copies ? "true" : "false") + ")");
}

void ScriptedComponent::DeleteFile(const std::string& remote_path) {
  Log("DeleteFile(" + remote_path + ")");
  if (before) before("DeleteFile");
  files.erase(remote_path);
}

void ScriptedComponent::RemoveDirectory(const std::string& remote_path) {
  Log("RemoveDirectory(" + remote_path + ")");
  if (before) before("RemoveDirectory");
}

void ScriptedComponent::AddFile(const std::string& name, const std::string& content) {
  files[name] = content;
  listing.entries.push_back({name, "F", static_cast<std::int64_t>(content.size()), 0, ""});
}

void ScriptedComponent::AddFolder(const std::string& name) {
  listing.entries.push_back({name, "D", 0, 0, ""});
}

}  // namespace pullwire::testing
