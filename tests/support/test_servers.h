// Real FTP servers and proxies on loopback for tests and benchmarks, as RAII fixtures.
//
// How to use
// ----------
// Link `pullwire_test_support`, include "tests/support/test_servers.h". A fixture starts its
// server in the constructor (on failure it throws std::runtime_error quoting the server's own
// error output) and stops it in the destructor: SIGTERM to the server's process group, SIGKILL
// after a bound, then reaped, so no process outlives the test, even a failing one. Each instance
// has a free loopback port, its own folders and, for vsftpd, its own passive port block: tests
// run in parallel (ctest -j2). Servers also die with the test process (parent-death signal) and
// end by themselves after their lifetime.
//
//   using namespace pullwire::testing;
//   PyFtpd server;                                        // serves server.root() on 127.0.0.1
//   WriteFile(server.root() / "a.txt", "hello");
//   ...log in to server.host():server.port() as server.user() / server.password()...
//   EXPECT_THAT(server.CommandLog(), ::testing::Contains("RETR a.txt"));
//
//   PyFtpdOptions options;                                // faults compose
//   options.retr_fault = RetrFault::kAbort426;           // each RETR stops halfway with 426
//   options.stalls = {{"PWD", 5.0}};                      // PWD is answered after 5 s
//   PyFtpd faulty(options);
//
//   std::string why;
//   if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;   // needs root and the ftptest account
//   Vsftpd vsftpd;                                        // user() is kSystemUser
//   VsftpdOptions tls_options;                            // TLS with a fresh CA: clients
//   tls_options.tls = VsftpdTls::kExplicit;               // trust it with SSL_CERT_FILE set
//   Vsftpd secured(tls_options);                          // to secured.CaFile()
//
//   Dante socks(SocksAuth::kUsername);                    // SOCKS4/5; Microsocks for SOCKS5 only
//   FtpProxy gateway(server.port());                      // USER gateway.GatewayUser("u") ...
//   ScriptedFtp scripted(R"([{"reply": ["220 hi"]}, {"expect": "USER *", ...}])");
//   ...run the client...; EXPECT_TRUE(scripted.WaitFinished()) << scripted.Failure();
//   EXPECT_THAT(scripted.Transcript(), ElementsAre("USER puser", "PASS ppass", ...));
//
// Notes
// - Files under root() are served live: add them any time before the client asks. Vsftpd
//   serves as the ftptest account, which owns the tree from the start; a folder added later is
//   root's (its files cannot be deleted over FTP until GrantTree()), and a root-owned folder of
//   mode 0700 is one the account cannot enter.
// - Clients for checks: RunCommand({"curl", ...}) with a bound.
// - Inside `namespace pullwire { ... }` this namespace hides GoogleTest's: write ::testing::.
// - Servers get SIGTERM when the thread that started them ends (parent-death signal): start
//   them from the test's own thread.
// - Processes outside the test (bench scripts, the demo) start the same servers with
//   tests/support/servers/serve.py, which prints "PORT n" and "PID n" and stays in the
//   foreground until terminated; tests/support/prepare-machine.sh creates the ftptest account.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/server_process.h"
#include "tests/support/test_files.h"

namespace pullwire::testing {

using namespace std::chrono_literals;

inline constexpr char kLoopback[] = "127.0.0.1";
// The system account tests/support/prepare-machine.sh creates for vsftpd and dante's username
// method; a throwaway login that exists only on test machines.
inline constexpr char kSystemUser[] = "ftptest";
inline constexpr char kSystemPassword[] = "pullwire-ftptest-1";

// ---------------------------------------------------------------------------------------------
// pyftpdlib (tests/support/servers/pyftpd.py): the scriptable FTP server with faults.

enum class ListingFormat {
  kUnix,  // "-rw-r--r--   1 root root 6 Dec 05 19:27 a.txt"
  kDos,   // "12-05-26  07:27PM                    6 a.txt", and SYST answers "215 Windows_NT"
};

// How a failing RETR ends once `fault_after` bytes are sent.
enum class RetrFault {
  kNone,
  kAbort426,   // data connection closed, "426 Connection closed; transfer aborted."
  kSilent226,  // data connection closed, "226 Transfer complete." anyway: a short copy
  kReset,      // data connection reset (SO_LINGER 0; unsent bytes are lost), then 426
  kHang,       // data connection left open, nothing more sent, no reply (until the client
               // closes the data connection: then 426)
  kNoReply,    // data connection closed, no reply ever
};

// Holds back the reply to `command` (upper case; "CONNECT" is the greeting) for `seconds`;
// commands received meanwhile wait behind it. nth > 0: only the Nth such command stalls.
struct Stall {
  std::string command;
  double seconds = 0;
  int nth = 0;
};

// Answers `command` with `reply` instead of running it, when its argument matches the glob
// `argument` (as sent, or its last path component); an empty glob matches every argument.
struct Refusal {
  std::string command;
  std::string argument;
  std::string reply = "550 Permission denied.";
};

struct PyFtpdOptions {
  std::filesystem::path root;  // served as "/"; empty: the fixture's own fresh folder
  std::string user = "pullwire";
  std::string password = "pullwire-pw";
  bool ipv6 = false;           // also listen on ::1, same port
  // FEAT offers MLST/MLSD, as pyftpdlib does; false hides them, so that clients list with LIST.
  // A kDos `listing` and `list_inject` imply false: they shape LIST only.
  bool mlsd = true;
  ListingFormat listing = ListingFormat::kUnix;
  // Raw lines mixed into every LIST, one before each real line and the rest at the end
  // (garbage, "a/b", "..", control characters, duplicates); bytes are sent as given, each
  // followed by CRLF. No LF inside.
  std::vector<std::string> list_inject;
  RetrFault retr_fault = RetrFault::kNone;
  std::int64_t fault_after = -1;  // bytes sent before the fault; -1: half the file
  int fault_nth = 0;              // 0: every RETR fails; N: only the Nth over the server's life
  std::string fault_name;         // glob: only RETRs of matching file names count and fail
  std::vector<Stall> stalls;
  std::vector<Refusal> refusals;
  std::int64_t throttle = 0;      // bytes a second per data connection; 0: unlimited
  int max_sessions = 0;           // control connections at once; more get "421 Too many
                                  // connections" as their greeting. 0: unlimited
  std::string masquerade;         // address announced in PASV replies instead of 127.0.0.1
  bool low_port = false;          // listen on a free port from 10000 to 19999, which a command
                                  // record's 16-bit signed Port can hold
  std::chrono::seconds lifetime = 300s;
};

class PyFtpd {
 public:
  explicit PyFtpd(PyFtpdOptions options = {});
  ~PyFtpd();

  const std::string& host() const { return host_; }
  int port() const { return process_->port(); }
  const std::filesystem::path& root() const { return root_; }
  const std::string& user() const { return options_.user; }
  const std::string& password() const { return options_.password; }
  // Every command line received so far, in order, as sent ("PASS ****" for passwords).
  std::vector<std::string> CommandLog() const;
  ServerProcess& process() { return *process_; }
  void Stop() { process_->Stop(); }

 private:
  PyFtpdOptions options_;
  std::string host_ = kLoopback;
  TempDir work_;
  std::filesystem::path root_;
  std::unique_ptr<ServerProcess> process_;
};

// ---------------------------------------------------------------------------------------------
// vsftpd with the local account kSystemUser, chrooted to root().

enum class VsftpdTls {
  kNone,
  kExplicit,  // AUTH TLS on the port
  kImplicit,  // TLS from the first byte
};

struct VsftpdOptions {
  std::filesystem::path root;  // empty: the fixture's own fresh folder
  bool low_port = false;       // as PyFtpdOptions::low_port
  std::chrono::seconds lifetime = 300s;
  // TLS required for logins and data (force_local_logins_ssl, force_local_data_ssl), data
  // connections resuming the control connection's session (require_ssl_reuse), TLS 1.2 at
  // least; the certificate, for `certificate_names` (subjectAltName syntax), comes from a CA
  // made at start with the openssl command (CaFile()).
  VsftpdTls tls = VsftpdTls::kNone;
  std::string certificate_names = "IP:127.0.0.1,DNS:localhost";
};

class Vsftpd {
 public:
  // False, with the reason, when vsftpd cannot run here: not root, no vsftpd, or no ftptest
  // account (tests/support/prepare-machine.sh creates it). Tests GTEST_SKIP with the reason.
  static bool Available(std::string* reason = nullptr);

  explicit Vsftpd(VsftpdOptions options = {});
  ~Vsftpd();

  const std::string& host() const { return host_; }
  int port() const { return process_->port(); }
  const std::filesystem::path& root() const { return root_; }
  std::string user() const { return kSystemUser; }
  std::string password() const { return kSystemPassword; }
  // The passive port block this instance owns, as "low-high".
  std::string PassivePorts() const { return process_->Info("PASSIVE"); }
  // Hands everything under root() to the FTP account (so DELE and RMD work everywhere) and
  // makes folders traversable; the start does it once, call it again after adding folders.
  void GrantTree() const;
  // vsftpd's protocol log (log_ftp_protocol=YES).
  std::string Log() const;
  // With VsftpdOptions::tls: the PEM file of the CA that signed the server's certificate, and
  // the certificate's SHA-256 fingerprint ("AB:CD:...").
  std::string CaFile() const { return process_->Info("CAFILE"); }
  std::string CertificateFingerprint() const { return process_->Info("FINGERPRINT"); }
  ServerProcess& process() { return *process_; }

 private:
  std::string host_ = kLoopback;
  TempDir work_;
  std::filesystem::path root_;
  std::unique_ptr<ServerProcess> process_;
};

// ---------------------------------------------------------------------------------------------
// SOCKS proxies and the FTP gateway.

enum class SocksAuth {
  kNone,      // SOCKS4 and SOCKS5 without authentication
  kUsername,  // SOCKS5 user/password (RFC 1929) checked against the system account; no SOCKS4
};

// dante (danted): SOCKS4 and SOCKS5 CONNECT to 127.0.0.0/8.
class Dante {
 public:
  static bool Available(SocksAuth auth, std::string* reason = nullptr);
  explicit Dante(SocksAuth auth = SocksAuth::kNone, std::chrono::seconds lifetime = 300s);
  ~Dante();

  int port() const { return process_->port(); }
  std::string user() const { return kSystemUser; }
  std::string password() const { return kSystemPassword; }
  std::string Log() const;
  ServerProcess& process() { return *process_; }

 private:
  TempDir work_;
  std::unique_ptr<ServerProcess> process_;
};

// microsocks: SOCKS5 only, with a user/password of its own when `user` is not empty.
class Microsocks {
 public:
  static bool Available(std::string* reason = nullptr);
  explicit Microsocks(std::string user = {}, std::string password = {},
                      std::chrono::seconds lifetime = 300s);
  ~Microsocks();

  int port() const { return process_->port(); }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  ServerProcess& process() { return *process_; }

 private:
  std::string user_;
  std::string password_;
  TempDir work_;
  std::unique_ptr<ServerProcess> process_;
};

// ftp-proxy as a gateway without proxy logon: "USER user@127.0.0.1:<target_port>", then PASS.
// An unreachable target ends the connection without a reply after USER.
class FtpProxy {
 public:
  static bool Available(std::string* reason = nullptr);
  explicit FtpProxy(int target_port, std::chrono::seconds lifetime = 300s);
  ~FtpProxy();

  int port() const { return process_->port(); }
  int target_port() const { return target_port_; }
  // The USER argument that reaches `user` on the target: "user@127.0.0.1:<target_port>".
  std::string GatewayUser(std::string_view user) const;
  std::string Log() const;
  ServerProcess& process() { return *process_; }

 private:
  int target_port_;
  TempDir work_;
  std::unique_ptr<ServerProcess> process_;
};

// ---------------------------------------------------------------------------------------------
// A scripted FTP server (tests/support/servers/scripted_ftp.py) for exact transcripts.
//
// The script is JSON: a list of steps (or {"steps": [...]}), run in order over one control
// connection at a time. Each step may have:
//   "expect": "USER *"      glob for the next line received (without CRLF); "re:..." for a full
//                           regular expression match; "<EOF>" waits for the client to close.
//                           No "expect": the step runs without reading (greeting, unsolicited
//                           421). A line that does not match ends the script as failed.
//   "optional": true        when the line does not match, skip this step and try the next one.
//   "delay": 1.5            seconds to wait before replying.
//   "passive": true         open a passive listener first; "{pasv}" in replies becomes
//                           "127,0,0,1,p1,p2" and "{port}" its port.
//   "reply": ["230-a", "230 b"]  lines sent, each followed by CRLF ("{pasv}", "{port}" filled).
//   "send": "raw"           UTF-8 text sent as is (no CRLF added); "send_base64" for any bytes.
//   "data": "text"          sent on the data connection after the reply (passive listener, or
//                           the client's last PORT/EPRT address); "data_base64" for any bytes.
//   "data_end": "close"     how the data connection ends: "close", "reset" or "hang" (left
//                           open until the control connection ends).
//   "data_from": "127.0.0.2"  active mode: the data comes from this address (a stranger's).
//   "trickle": 0.5          the data goes one byte at a time, this many seconds apart, until
//                           sent or the client closes the data connection.
//   "repeat": 1000000       the data goes this many times over, or until the client closes the
//                           data connection (an endless listing).
//   "after": ["226 Done"]   lines sent once the data went out.
//   "action": "close" | "reset" | "stall" | "accept"
//                           close or reset the control connection after the replies; "stall"
//                           waits "seconds" without reading; "accept" takes the next control
//                           connection (after the current one closed).
// The script ends after its last step (the connection is closed); the process then exits 0.
// A mismatch, a client that closes early, or the lifetime running out exits non-zero, and
// Failure() says why. Every line received is in Transcript().

struct ScriptedFtpOptions {
  bool ipv6 = false;  // listen on ::1 instead of 127.0.0.1
  std::chrono::seconds lifetime = 60s;
  bool tls = false;  // "tls" steps secure the connections (a self-signed certificate)
};

class ScriptedFtp {
 public:
  explicit ScriptedFtp(std::string_view script_json, ScriptedFtpOptions options = {});
  ~ScriptedFtp();

  const std::string& host() const { return host_; }
  int port() const { return process_->port(); }
  // Every line received so far, in order, without its CRLF (invalid UTF-8 as \x escapes).
  std::vector<std::string> Transcript() const;
  // Waits up to `bound` for the script to end; true when it ran every step as written.
  bool WaitFinished(std::chrono::milliseconds bound = 5s);
  // Why the script did not end as written (the server's report); empty when it did.
  std::string Failure() const;
  ServerProcess& process() { return *process_; }

 private:
  std::string host_;
  TempDir work_;
  std::unique_ptr<ServerProcess> process_;
};

}  // namespace pullwire::testing
