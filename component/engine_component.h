// The FTP component over Pullwire's own engine (ftp/): settings, login, folders, listings,
// transfers and deletes; the engine's errors pass through as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/ftp_component.h"
#include "ftp/extra_sessions.h"
#include "ftp/session.h"

namespace pullwire {

// The listing object of the last ListDirectory, kept packed (ftp::EntryTable): a ListEntry is
// made only when it is read.
class EngineListing : public ComponentListing {
 public:
  EngineListing() = default;
  // ListingStyle 2 when a line was in neither format (UnparsedLines then holds up to
  // kMaxUnparsedLines of them, control characters shown as "?"), else 1 when every entry came
  // from DOS lines, else 0 (UNIX or MLSD). ExtraText is the date as listed; ExtraNumber the UNIX
  // permission bits (0644 for "-rw-r--r--" or MLSD's "UNIX.mode=0644"), 0 for DOS lines. Each
  // entry left out for its name gives one warning naming it escaped, up to kMaxWarnings, then
  // one that counts the rest.
  explicit EngineListing(ftp::EntryTable table);

  std::int32_t ListingStyle() const override { return style_; }
  std::string UnparsedLines() const override { return unparsed_; }
  std::size_t EntryCount() const override { return table_.size(); }
  ListEntry EntryAt(std::size_t index) const override;
  std::vector<std::string> Warnings() const override { return warnings_; }

  static constexpr std::size_t kMaxUnparsedLines = 20;
  static constexpr std::size_t kMaxWarnings = 20;

 private:
  ftp::EntryTable table_;
  std::int32_t style_ = kListingStyleUnix;
  std::string unparsed_;
  std::vector<std::string> warnings_;
};

// Every member fails with the engine's FtpError (kInvalidValue for an invalid value, kNoSuchFile
// when the server says the file or folder does not exist, the others from the table in
// ftp/errors.cc). TransferType 3 (ZIP) transfers as TYPE I. GetMatching fetches a
// folder's files over up to SessionsWanted() sessions at once (passive mode, no proxy), the
// extra ones logged in on first need and kept until Logout.
class EngineComponent : public FtpComponent {
 public:
  EngineComponent() = default;
  EngineComponent(const EngineComponent&) = delete;
  EngineComponent& operator=(const EngineComponent&) = delete;

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
  std::vector<std::string> LoginWarnings() const override;

  void WorkingDirectory(const std::string& remote_path) override;
  std::string CurrentDirectory() override;
  void ListDirectory() override;
  const ComponentListing& Listing() const override { return listing_; }

  void GetFile(const std::string& remote_file, const std::string& local_destination,
               std::optional<std::int64_t> restart_offset = std::nullopt) override;
  std::int64_t LastTransferBytes() const override { return last_transfer_bytes_; }
  void GetMatching(const std::string& remote_wildcard, const std::string& local_folder) override;
  void ContinuePartialCopies(bool continue_copies) override { continue_copies_ = continue_copies; }
  void SetMatchedItemHandler(MatchedItemHandler handler) override {
    matched_handler_ = std::move(handler);
  }

  void DeleteFile(const std::string& remote_path) override;
  void RemoveDirectory(const std::string& remote_path) override;

  void SetProgressEventHandler(ProgressEventHandler handler) override;
  void SetCancelDescriptor(int fd) override { session_.set_cancel_fd(fd); }

  // The control connection's lines, passwords masked, for diagnostics.
  void SetTrace(ftp::TraceHandler trace) { session_.set_trace(std::move(trace)); }

 private:
  ftp::Session session_;
  ftp::ExtraSessions extra_sessions_;
  ftp::ProxySettings proxy_;
  EngineListing listing_;
  std::int64_t last_transfer_bytes_ = 0;
  bool continue_copies_ = false;
  MatchedItemHandler matched_handler_;
};

// The sessions GetMatching may use at once: $PULLWIRE_SESSIONS, a whole number from 1 to 16
// (larger numbers count as 16, smaller as 1), else 4.
int SessionsWanted();

}  // namespace pullwire
