// The FTP client component as the run and the remote routines use it: settings, login, folders,
// listings, transfers and deletes. One implementation adapts our engine
// (engine_component.h); tests script their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/errors.h"

namespace pullwire {

// Every member fails by throwing the engine's FtpError: a number the callers may test
// (ErrorCode::kInvalidValue, kNoSuchFile, ...) and a text a person understands, quoting the
// server's reply where there is one. A scripted component throws it too.
using ftp::ErrorCode;
using ftp::FtpError;

// The host asked the run to stop. No routine reports this as a failure of its own item and goes
// on: it ends the run through the run's error ending.
inline bool IsCancellation(const std::exception& error) {
  const auto* failure = dynamic_cast<const FtpError*>(&error);
  return failure != nullptr && failure->code() == ErrorCode::kCancelled;
}

inline constexpr std::int32_t kConnectionStateConnected = 2;

// One parsed line of a listing.
struct ListEntry {
  std::string Name;
  std::string TypeLetter;  // "D" folder, "L" link, "F" or anything else: file
  std::int64_t Size = 0;   // bytes
  std::int32_t ExtraNumber = 0;
  std::string ExtraText;

  friend bool operator==(const ListEntry&, const ListEntry&) = default;
};

inline constexpr std::int32_t kListingStyleUnix = 0;
inline constexpr std::int32_t kListingStyleDos = 1;
// Some lines were in neither UNIX nor DOS format; they are in UnparsedLines.
inline constexpr std::int32_t kListingStyleMixed = 2;

class ComponentListing;

// The entries of a listing as a range, each made when it is reached, so that a listing of
// millions of entries is never copied into as many ListEntry objects:
//   for (const ListEntry& entry : listing.Entries()) ...
class ListEntries {
 public:
  class Iterator {
   public:
    using value_type = ListEntry;
    using difference_type = std::ptrdiff_t;
    Iterator(const ComponentListing* listing, std::size_t index)
        : listing_(listing), index_(index) {}
    ListEntry operator*() const;
    Iterator& operator++() {
      ++index_;
      return *this;
    }
    bool operator==(const Iterator& other) const { return index_ == other.index_; }

   private:
    const ComponentListing* listing_;
    std::size_t index_;
  };

  explicit ListEntries(const ComponentListing& listing) : listing_(listing) {}
  std::size_t size() const;
  ListEntry operator[](std::size_t index) const;
  Iterator begin() const { return Iterator(&listing_, 0); }
  Iterator end() const { return Iterator(&listing_, size()); }

 private:
  const ComponentListing& listing_;
};

// The listing object of the last ListDirectory. Accessors may throw FtpError.
class ComponentListing {
 public:
  virtual ~ComponentListing() = default;
  virtual std::int32_t ListingStyle() const = 0;
  virtual std::string UnparsedLines() const = 0;
  virtual std::size_t EntryCount() const = 0;
  virtual ListEntry EntryAt(std::size_t index) const = 0;
  ListEntries Entries() const { return ListEntries(*this); }
  // Warnings about entries left out of the listing (a name that cannot be a local file name),
  // one line each, for the host.
  virtual std::vector<std::string> Warnings() const { return {}; }
};

inline ListEntry ListEntries::Iterator::operator*() const { return listing_->EntryAt(index_); }
inline std::size_t ListEntries::size() const { return listing_.EntryCount(); }
inline ListEntry ListEntries::operator[](std::size_t index) const {
  return listing_.EntryAt(index);
}

// One download's progress, as the progress event tells it.
struct ComponentProgress {
  std::string_view name;              // the remote file as GetFile or GetMatching fetches it
  std::int64_t bytes = 0;             // of the file so far
  std::optional<std::int64_t> total;  // its size, when the component knows it
  std::int64_t start = 0;             // where this transfer began (> 0 when continuing a copy)
  std::int64_t elapsed_ms = 0;        // since this transfer's data began
  bool finished = false;              // the last event of this file
};
using ProgressEventHandler = std::function<void(const ComponentProgress&)>;

// One item GetMatching has copied completely: a file whose local copy is whole, or a folder it
// entered and mirrored with a local folder.
struct MatchedItem {
  std::string RelativePath;  // names below the wildcard's folder joined by "/"; "" for that folder
  std::string LocalPath;
  std::int64_t Size = 0;     // bytes of the local copy; 0 for a folder
  bool IsFolder = false;
};
using MatchedItemHandler = std::function<void(const MatchedItem& item)>;

class FtpComponent {
 public:
  virtual ~FtpComponent() = default;

  // Settings (put-only properties of the component).
  virtual void OperationTimeout(std::int32_t milliseconds) = 0;
  virtual void TransferType(std::int32_t type) = 0;  // 0 ASCII, 1 IMAGE, 2 EBCDIC, 3 ZIP
  virtual void PassiveMode(bool passive) = 0;
  virtual void ProxyKind(std::int32_t kind) = 0;  // 0 none .. 7 pipe, the proxy dialog's list
  virtual void ProxyServer(const std::string& host) = 0;
  virtual void ProxyLoginName(const std::string& name) = 0;
  virtual void ProxyLoginPassword(const std::string& password) = 0;
  virtual void ProxyServerPort(std::int32_t port) = 0;

  virtual std::int32_t ConnectionState() const = 0;  // kConnectionStateConnected when logged in

  virtual void Login(const std::string& host, const std::string& user, const std::string& password,
                     const std::string& account, std::int32_t port) = 0;
  virtual void Logout() = 0;
  // Warnings about the session the last Login opened, one line each, for the host (a server
  // certificate accepted by its pinned fingerprint instead of being verified).
  virtual std::vector<std::string> LoginWarnings() const { return {}; }

  // Changes the session's working folder; throws when the folder cannot be entered.
  virtual void WorkingDirectory(const std::string& remote_path) = 0;
  // The session's working folder as the server names it (PWD), or else as the session entered
  // it: an absolute path to come back to.
  virtual std::string CurrentDirectory() = 0;

  // Fetches and parses the working folder's listing; Listing() returns it until the next call.
  virtual void ListDirectory() = 0;
  virtual const ComponentListing& Listing() const = 0;

  // Downloads one file to `local_destination`: a file path, or an existing folder into which the
  // file goes under its remote name. The file is written in place, from its first byte or, with
  // `restart_offset` > 0, continuing a local copy from that byte; putting a complete copy in place
  // atomically is the caller's business (the flat run writes to a temporary file of its own).
  // Returns when the transfer has ended; throws when it failed.
  virtual void GetFile(const std::string& remote_file, const std::string& local_destination,
                       std::optional<std::int64_t> restart_offset = std::nullopt) = 0;
  // Bytes the last GetFile received on the data connection, before any ASCII line-ending
  // conversion: what the run compares with the listed size, since a TYPE A copy written with
  // LF endings is legitimately shorter on disk than the server's CRLF bytes.
  virtual std::int64_t LastTransferBytes() const = 0;

  // Downloads every file matching a wildcard path ("/pub/*", or quoted: "\"/pub/My Files/*\"")
  // into `local_folder`, descending into subfolders. Files are written in place; nothing local
  // is written through a symbolic link (one standing where a folder or file lands is an error
  // for that entry). A failing file or subfolder does not stop the others; the first failure is
  // raised at the end.
  virtual void GetMatching(const std::string& remote_wildcard, const std::string& local_folder) = 0;
  // How GetMatching treats the local copies it finds (binary transfers): false (at first) fetches
  // every file whole; true continues a shorter copy from its length, takes one of the remote
  // length as complete without a transfer, and refuses a longer one (an error for that file,
  // which stays untouched).
  virtual void ContinuePartialCopies(bool continue_copies) = 0;
  // Called on the calling thread, during GetMatching, for every item as it is complete.
  virtual void SetMatchedItemHandler(MatchedItemHandler handler) = 0;

  virtual void DeleteFile(const std::string& remote_path) = 0;
  virtual void RemoveDirectory(const std::string& remote_path) = 0;

  // Called on the calling thread a few times a second while a download of GetFile or
  // GetMatching runs long, and once with `finished` after it. Optional: a component that cannot
  // tell keeps this one, which never calls.
  virtual void SetProgressEventHandler(ProgressEventHandler handler) { (void)handler; }
  // A descriptor of the host's that becomes readable when the run is to stop (-1: none): every
  // member then ends its waits at once and throws ErrorCode::kCancelled, except Logout, which
  // still says goodbye within a few seconds. A component that cannot wait on it ignores it.
  virtual void SetCancelDescriptor(int fd) { (void)fd; }
};

}  // namespace pullwire
