// An FTP session: login (directly or through a proxy), folders, listings, downloads, deletes.
// One session at a time; every call blocks the caller's thread until it is done or has failed,
// and no wait lasts longer than the operation time-out. Failures throw FtpError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ftp/deadline.h"
#include "ftp/entry_table.h"
#include "ftp/listing_parser.h"
#include "ftp/session_options.h"
#include "ftp/sys_io.h"
#include "ftp/trace.h"
#include "ftp/transfer_progress.h"

namespace pullwire::ftp {

class DataSink;
struct SessionCore;

class Session {
 public:
  Session();
  // `sys` carries the data path's system calls (tests inject faults); it must outlive the session.
  explicit Session(SysIo& sys);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Settings; they apply from the next call on.
  void set_timeout(Milliseconds timeout);
  Milliseconds timeout() const;
  void set_passive(bool passive);
  bool passive() const;
  void set_transfer_type(TransferType type);
  TransferType transfer_type() const;
  void set_proxy(const ProxySettings& proxy);
  // Every command and reply line, passwords masked.
  void set_trace(TraceHandler trace);
  // Binary downloads move data socket -> pipe -> file with splice(2) (on by default); off, or
  // where the file system refuses, they go through one large buffer with read/write.
  void set_zero_copy(bool zero_copy);
  // Every download (Retrieve, so GetFile and GetMatching alike) reports its progress to
  // `handler` under the remote name it was asked for; an empty handler costs nothing.
  void set_progress_handler(ProgressHandler handler);
  // A descriptor of the host's that becomes readable when the run is to stop (-1: none): every
  // wait watches it and ends with kCancelled; Logout still says QUIT. The host keeps it open
  // and readable until the call returns.
  void set_cancel_fd(int fd);
  int cancel_fd() const;

  bool logged_in() const;
  // What the last Login was given, so that further sessions can log in the same way.
  const LoginParams& login_params() const;
  const ProxySettings& proxy() const;
  // Ends a session still open, then connects and logs in. `login.host` may ask for TLS
  // ("ftpes://name", "ftps://name": server_name.h); control and data connections are then
  // encrypted, and nothing of the login is sent before the server's certificate is accepted.
  void Login(const LoginParams& login);
  // How the open session's TLS accepted the server's certificate.
  enum class CertificateCheck { kNoTls, kVerified, kPinned, kUnverified };
  CertificateCheck certificate_check() const;
  // QUIT and close; nothing happens when no session is open. Never throws.
  void Logout() noexcept;

  // CWD; throws (11101 when the server says the folder is not there) when it cannot be entered.
  void ChangeDirectory(const std::string& path);
  // PWD: the working folder as the server names it, an absolute path to come back to. When the
  // server refuses PWD or its reply cannot be read ("257 /my folder is cwd"), the path the
  // session entered the folder by (an absolute CWD path, relative ones joined to it); throws
  // when that is not known either.
  std::string CurrentDirectory();
  // The working folder's listing, parsed as it arrives and packed for size (a listing of
  // millions of entries): from MLSD where the server's FEAT (asked once per session) offers it
  // with exact types and sizes, else from LIST, also for the rest of the session once the
  // server refuses MLSD as not implemented. A listing that keeps more than 64 MiB of text, or
  // sends more than 256 MiB, throws kListingTooLarge.
  EntryTable ListTable();
  // The working folder's unique id (RFC 3659 "unique" fact, by MLST) where the server's MLSD
  // gives folders one; nullopt otherwise. Two paths with the same id lead to one folder.
  std::optional<std::string> FolderId();

  struct Retrieved {
    std::int64_t offset = 0;  // where the data started (0 when the server refused REST)
    std::int64_t bytes = 0;   // received
  };
  // RETR `remote` into `sink`; with `offset` > 0 the server is asked to continue there (REST);
  // a server that does not answer 350 sends the file whole and `sink` starts over. A binary
  // transfer fails when the 150 reply announced a size and fewer or more bytes came; whether a
  // copy is whole against its listing is the caller's judgement. `known_size` (from a listing)
  // is the progress total where the server announces none. `another_follows`: the next call is
  // another Retrieve, whose passive-mode request may then be sent ahead.
  Retrieved Retrieve(const std::string& remote, DataSink& sink, std::int64_t offset = 0,
                     std::optional<std::int64_t> known_size = std::nullopt,
                     bool another_follows = false);
  // SIZE; nullopt when the server cannot tell (no SIZE command, not a plain file).
  std::optional<std::int64_t> Size(const std::string& path);

  void Delete(const std::string& path);           // DELE
  void RemoveDirectory(const std::string& path);  // RMD
  // TYPE, sent only when it differs from the type the server has.
  void ApplyTransferType();

  SysIo& sys();
  // The connections and protocol state, for the engine's own drivers (parallel fetches).
  SessionCore& core() { return *core_; }

 private:
  void RequireLogin() const;
  void SimpleCommand(const std::string& verb, const std::string& path, const std::string& action);
  // FEAT (once per session), and OPTS MLST when facts MLSD needs are offered but off.
  bool UseMlsd();
  void ReadListing(ListingStore& store, ListingNotes& notes, ListingSyntax syntax);

  std::unique_ptr<SessionCore> core_;
};

}  // namespace pullwire::ftp
