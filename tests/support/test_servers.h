// Real FTP servers and proxies on loopback for tests, as RAII fixtures.
//
//   using namespace pullwire::testing;  // inside namespace pullwire, write ::testing:: for gtest
//   PyFtpd server;                                  // serves server.root(), live, on 127.0.0.1
//   WriteFile(server.root() / "a.txt", "hello");
//   ...log in to server.host():server.port() as server.user() / server.password()...
//   EXPECT_THAT(server.CommandLog(), ::testing::Contains("RETR a.txt"));
//   if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;  // root and the ftptest account
//
// Each fixture runs tests/support/servers/serve.py (as bench and demo scripts do) on a free port
// with folders of its own, so tests run in parallel. The constructor throws std::runtime_error
// quoting the server's error output when it does not start, the destructor stops it; it also
// stops with the thread that started it (start it on the test's own) and after 5 minutes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/server_process.h"
#include "tests/support/test_files.h"

namespace pullwire::testing {

inline constexpr char kLoopback[] = "127.0.0.1";
// The account tests/support/prepare-machine.sh makes for vsftpd and dante's username method.
inline constexpr char kSystemUser[] = "ftptest";
inline constexpr char kSystemPassword[] = "pullwire-ftptest-1";

// One serve.py run: `serve.py KIND ARGS...`, stopped (with all it started) on destruction.
class Served {
 public:
  const std::string& host() const { return host_; }
  int port() const { return port_; }

 protected:
  explicit Served(std::string_view kind) : work_(kind) {}
  ~Served();
  void Serve(std::vector<std::string> args);
  // A "KEY value" line serve.py printed before READY ("CAFILE", ...); empty if none.
  std::string Fact(const std::string& key) const;
  // The command lines serve.py logged (--log), so far.
  std::vector<std::string> Received() const;

  TempDir work_;
  pid_t pid_ = -1;
  int exit_code_ = -1;  // once reaped

 private:
  std::string host_ = kLoopback;
  int port_ = 0;
  std::map<std::string, std::string> facts_;
};

// --- pyftpdlib with faults ------------------------------------------------------------------

enum class ListingFormat {
  kUnix,  // "-rw-r--r--   1 root root 6 Dec 05 19:27 a.txt"
  kDos,   // "12-05-26  07:27PM                    6 a.txt", and SYST answers "215 Windows_NT"
};

// How a failing RETR ends once `fault_after` bytes are sent.
enum class RetrFault {
  kNone,
  kAbort426,   // data connection closed, "426 Connection closed; transfer aborted."
  kSilent226,  // data connection closed, "226 Transfer complete." anyway: a short copy
  kReset,      // data connection reset (unsent bytes are lost), then 426
  kHang,       // data connection left open, no reply (until the client closes it: then 426)
  kNoReply,    // data connection closed, no reply ever
};

// Holds back the reply to `command` ("CONNECT": the greeting) for `seconds`; commands received
// meanwhile wait behind it. nth > 0: only the Nth such command (over the server's life) stalls.
struct Stall {
  std::string command;
  double seconds = 0;
  int nth = 0;
};

// Answers `command` with `reply` instead of running it when its argument (as sent, or its last
// path component) matches the glob `argument`; an empty glob matches every argument.
struct Refusal {
  std::string command;
  std::string argument;
  std::string reply = "550 Permission denied.";
};

struct PyFtpdOptions {
  bool ipv6 = false;  // also listen on ::1, same port
  // FEAT offers MLST/MLSD; false hides them, so that clients list with LIST. A kDos `listing`
  // and `list_inject` imply false: they shape LIST only.
  bool mlsd = true;
  ListingFormat listing = ListingFormat::kUnix;
  // Raw lines (no LF inside) mixed into every LIST, one before each real line and the rest at
  // the end, each followed by CRLF.
  std::vector<std::string> list_inject;
  RetrFault retr_fault = RetrFault::kNone;
  std::int64_t fault_after = -1;  // bytes sent before the fault; -1: half the file
  int fault_nth = 0;              // 0: every RETR fails; N: only the Nth over the server's life
  std::string fault_name;         // glob: only RETRs of matching file names count and fail
  std::vector<Stall> stalls;
  std::vector<Refusal> refusals;
  std::int64_t throttle = 0;      // bytes a second per data connection; 0: unlimited
  int max_sessions = 0;           // control connections at once (more are greeted with 421)
  std::string masquerade;         // the address PASV replies announce instead of 127.0.0.1
  bool low_port = false;          // a port from 10000 to 19999, which a command record's
                                  // 16-bit signed Port holds
};

class PyFtpd : public Served {
 public:
  explicit PyFtpd(PyFtpdOptions options = {});

  const std::filesystem::path& root() const { return root_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  // Every command line received so far, in order, as sent ("PASS ****" for passwords).
  std::vector<std::string> CommandLog() const { return Received(); }

 private:
  std::filesystem::path root_;
  std::string user_ = "pullwire";
  std::string password_ = "pullwire-pw";
};

// --- vsftpd, as kSystemUser chrooted to root() ----------------------------------------------

enum class VsftpdTls {
  kNone,
  kExplicit,  // AUTH TLS on the port
  kImplicit,  // TLS from the first byte
};

struct VsftpdOptions {
  bool low_port = false;  // as PyFtpdOptions::low_port
  // TLS (1.2 at least) required for logins and data, data connections resuming the control
  // connection's session; the certificate for `certificate_names` (subjectAltName syntax) is
  // signed by a CA made at start (CaFile()).
  VsftpdTls tls = VsftpdTls::kNone;
  std::string certificate_names = "IP:127.0.0.1,DNS:localhost";
};

class Vsftpd : public Served {
 public:
  // False, with the reason, when vsftpd cannot run here: not root, no vsftpd, or no ftptest
  // account (tests/support/prepare-machine.sh makes it).
  static bool Available(std::string* reason = nullptr);
  explicit Vsftpd(VsftpdOptions options = {});

  const std::filesystem::path& root() const { return root_; }
  std::string user() const { return kSystemUser; }
  std::string password() const { return kSystemPassword; }
  // Hands everything under root() to the FTP account (so DELE and RMD work) and makes folders
  // traversable; the start does it once: call it after adding folders (a root-owned folder of
  // mode 0700 is one the account cannot enter).
  void GrantTree() const;
  // vsftpd's protocol log.
  std::string Log() const;
  // With tls: the PEM file of the CA that signed the certificate (clients trust it through
  // SSL_CERT_FILE), and the certificate's SHA-256 fingerprint ("AB:CD:...").
  std::string CaFile() const { return Fact("CAFILE"); }
  std::string CertificateFingerprint() const { return Fact("FINGERPRINT"); }

 private:
  std::filesystem::path root_;
};

// --- SOCKS proxies and the FTP gateway ------------------------------------------------------

enum class SocksAuth {
  kNone,      // SOCKS4 and SOCKS5 without authentication
  kUsername,  // SOCKS5 user/password checked against kSystemUser's; no SOCKS4
};

// dante (danted): SOCKS4 and SOCKS5 CONNECT to 127.0.0.0/8.
class Dante : public Served {
 public:
  static bool Available(SocksAuth auth, std::string* reason = nullptr);
  explicit Dante(SocksAuth auth = SocksAuth::kNone);

  std::string user() const { return kSystemUser; }
  std::string password() const { return kSystemPassword; }
};

// microsocks: SOCKS5 without authentication.
class Microsocks : public Served {
 public:
  static bool Available(std::string* reason = nullptr);
  Microsocks() : Served("microsocks") { Serve({"microsocks"}); }
};

// ftp-proxy as a gateway without proxy logon: "USER user@127.0.0.1:<target_port>", then PASS.
// An unreachable target ends the connection without a reply after USER.
class FtpProxy : public Served {
 public:
  static bool Available(std::string* reason = nullptr);
  explicit FtpProxy(int target_port);

  int target_port() const { return target_port_; }
  // The USER argument that reaches `user` on the target.
  std::string GatewayUser(std::string_view user) const;

 private:
  int target_port_;
};

// --- a scripted FTP server for exact transcripts --------------------------------------------
//
//   ScriptedFtp server(R"([{"reply": ["220 Hi"]}, {"expect": "USER *", "reply": ["230 In"]}])");
//   ...run the client...; EXPECT_TRUE(server.WaitFinished()) << server.Failure();
//
// The script: JSON steps run in order over one control connection, each with any of
//   "expect": "USER *"     a glob the next line received (without CRLF) must match, or the
//                          script fails; a step without it reads nothing (a greeting)
//   "optional": true       a line that does not match skips this step for the next
//   "delay": 1.5           seconds to wait before replying
//   "passive": true        a passive listener first: "{pasv}" in replies becomes
//                          "127,0,0,1,p1,p2", "{port}" its port
//   "reply": ["230-a", "230 b"]  lines sent, each with CRLF
//   "tls": true            (ScriptedFtpOptions::tls) TLS on the control connection after the
//                          replies, and on every data connection from then on
//   "send": "raw"          text sent as is, no CRLF added
//   "data": "text"         sent after the reply on a data connection (the passive listener's,
//                          or to the client's last PORT address)
//   "data_end": "close"    "close" (over TLS with close_notify), "cut" (without) or "reset"
//   "data_from": "127.0.0.2"  active mode: the data comes from this address (a stranger)
//   "trickle": 0.5         the data byte by byte, this many seconds apart
//   "repeat": 1000000      the data this many times over, "{n}" in it counting 0, 1, ... (a
//                          client that closes the data connection ends a trickle or a repeat)
//   "after": ["226 Done"]  lines sent once the data went out
//   "action": "close"      close the control connection after the replies; "stall": wait
//                          "seconds" without reading
// The connection closes after the last step. A mismatch or a client that closes early is a
// Failure().

struct ScriptedFtpOptions {
  bool tls = false;  // "tls" steps secure the connections (a certificate made at start)
};

class ScriptedFtp : public Served {
 public:
  explicit ScriptedFtp(std::string_view script_json, ScriptedFtpOptions options = {});

  // Every line received so far, in order, without its CRLF (invalid UTF-8 as \x escapes).
  std::vector<std::string> Transcript() const { return Received(); }
  // Waits up to `bound` for the script to end; true when it ran every step as written.
  bool WaitFinished(std::chrono::milliseconds bound = 5s);
  // Why the script did not end as written (the server's report); empty when it did.
  std::string Failure() const;
};

}  // namespace pullwire::testing
