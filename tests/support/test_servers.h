// Real FTP servers and proxies on loopback for tests, as RAII fixtures: each runs servers/serve.py
// on a free port with folders of its own. A constructor throws std::runtime_error quoting the
// server's error output when it does not start; the server stops with the fixture, the thread
// that started it, or after 5 minutes. Some need root and the ftptest account (Available()).
#pragma once

#include "tests/support/server_process.h"
#include "tests/support/test_files.h"

namespace pullwire::testing {

inline constexpr char kLoopback[] = "127.0.0.1";
// The account tests/support/prepare-machine.sh makes for vsftpd and dante's username method.
inline constexpr char kSystemUser[] = "ftptest";
inline constexpr char kSystemPassword[] = "pullwire-ftptest-1";

// One serve.py run, stopped with all it started on destruction.
class Served {
 public:
  const std::string& host() const { return host_; }
  int port() const { return port_; }
  const std::string& user() const { return user_; }  // the account to log in with
  const std::string& password() const { return password_; }
  const std::filesystem::path& root() const { return root_; }  // what an FTP server serves

 protected:
  explicit Served(std::string_view kind, std::string user = kSystemUser,
                  std::string password = kSystemPassword);
  ~Served();
  void Serve(std::vector<std::string> args, bool low_port = false);  // KIND ARGS...
  std::string Fact(const std::string& key) const;  // a "KEY value" line it printed
  std::vector<std::string> Received() const;  // the command lines logged so far
  // Whether `program` can run here; `as_user`: also as root (to switch users) with kSystemUser.
  static bool CanRun(const char* program, bool as_user, std::string* reason);

  TempDir work_;
  pid_t pid_ = -1;
  int exit_code_ = -1;  // once reaped

 private:
  std::string host_ = kLoopback;
  std::string user_, password_;
  std::filesystem::path root_;
  int port_ = 0;
};

// How a failing RETR ends once `fault_after` bytes are sent.
enum class RetrFault {
  kNone,
  kAbort426,   // data connection closed, "426 Connection closed; transfer aborted."
  kSilent226,  // data connection closed, "226 Transfer complete." anyway: a short copy
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
  bool mlsd = true;   // false: FEAT offers no MLST/MLSD (so is it with list_inject)
  std::vector<std::string> list_inject;  // raw lines, one before each LIST line, the rest last
  RetrFault retr_fault = RetrFault::kNone;
  std::int64_t fault_after = -1;  // bytes sent before the fault; -1: half the file
  int fault_nth = 0;              // 0: every RETR fails; N: only the Nth over the server's life
  std::string fault_name;         // glob: only RETRs of matching file names count and fail
  std::vector<Stall> stalls;
  std::vector<Refusal> refusals;
  std::int64_t throttle = 0;      // bytes a second per data connection; 0: unlimited
  int max_sessions = 0;           // control connections at once (more are greeted with 421)
  std::string masquerade;         // the address PASV replies announce instead of 127.0.0.1
  bool low_port = false;          // 10000-19999, which a record's 16-bit signed Port holds
};

// pyftpdlib with faults.
class PyFtpd : public Served {
 public:
  explicit PyFtpd(PyFtpdOptions options = {});
  // Every command line received so far, in order ("PASS ****" for passwords).
  std::vector<std::string> CommandLog() const { return Received(); }
};

enum class VsftpdTls { kNone, kExplicit, kImplicit };  // kExplicit: AUTH TLS

struct VsftpdOptions {
  bool low_port = false;  // as PyFtpdOptions::low_port
  // TLS 1.2+ required for logins and data (data resuming the control's session), with a
  // certificate for `certificate_names` (subjectAltName syntax) signed by a CA made at start.
  VsftpdTls tls = VsftpdTls::kNone;
  std::string certificate_names = "IP:127.0.0.1,DNS:localhost";
};

// vsftpd, as kSystemUser chrooted to root().
class Vsftpd : public Served {
 public:
  // False, with the reason, when vsftpd cannot run here (not root, no vsftpd, no ftptest).
  static bool Available(std::string* why = {}) { return CanRun("/usr/sbin/vsftpd", true, why); }
  explicit Vsftpd(VsftpdOptions options = {});
  // Hands root()'s tree to the account, readable, folders traversable: call after adding some.
  void GrantTree() const;
  std::string Log() const;  // vsftpd's protocol log
  // With tls: the CA's PEM file (for SSL_CERT_FILE), the certificate's SHA-256 ("AB:CD:...").
  std::string CaFile() const { return Fact("CAFILE"); }
  std::string CertificateFingerprint() const { return Fact("FINGERPRINT"); }
};

enum class SocksAuth {
  kNone,      // SOCKS4 and SOCKS5 without authentication
  kUsername,  // SOCKS5 user/password checked against kSystemUser's; no SOCKS4
};

// dante (danted): SOCKS4 and SOCKS5 CONNECT to 127.0.0.0/8.
class Dante : public Served {
 public:
  static bool Available(SocksAuth auth, std::string* why = nullptr) {
    return CanRun("/usr/sbin/danted", auth == SocksAuth::kUsername, why);
  }
  explicit Dante(SocksAuth auth = SocksAuth::kNone) : Served("dante") {
    Serve({"dante", "--auth", auth == SocksAuth::kNone ? "none" : "username"});
  }
};

// microsocks: SOCKS5 without authentication.
class Microsocks : public Served {
 public:
  static bool Available(std::string* why = {}) { return CanRun("/usr/bin/microsocks", false, why); }
  Microsocks() : Served("microsocks") { Serve({"microsocks"}); }
};

// ftp-proxy as a gateway without proxy logon: "USER user@127.0.0.1:<target_port>", then PASS.
// An unreachable target ends the connection without a reply after USER.
class FtpProxy : public Served {
 public:
  static bool Available(std::string* why = {}) { return CanRun("/usr/sbin/ftp-proxy", false, why); }
  explicit FtpProxy(int target_port) : Served("ftp-proxy"), target_port_(target_port) {
    Serve({"ftp-proxy", "--target-port", std::to_string(target_port)});
  }
  int target_port() const { return target_port_; }
  std::string GatewayUser(std::string_view user) const {  // reaches `user` on the target
    return std::string(user) + "@" + kLoopback + ":" + std::to_string(target_port_);
  }

 private:
  int target_port_;
};

// A scripted FTP server for exact transcripts:
//   ScriptedFtp server(R"([{"reply": ["220 Hi"]}, {"expect": "USER *", "reply": ["230 In"]}])");
//   ...run the client...; EXPECT_TRUE(server.WaitFinished()) << server.Failure();
// Steps run in order on one control connection: "expect" a glob the next line must match (else
// a failure, or with "optional": true the step is skipped); wait "delay" seconds; "passive": true
// opens a listener ("{pasv}" and "{port}" in replies); send the "reply" lines; "tls": true secures
// the control connection and later data; send "send" as is; "data" on a data connection (passive,
// or to the last PORT from "data_from"), whole, a byte each "trickle" seconds, or "repeat" times
// ("{n}" counting), ending by "data_end": "close" (TLS close_notify), "cut" or "reset"; send the
// "after" lines; "action": "close" the connection or "stall" for "seconds". A client that closes
// early is a Failure() too.
struct ScriptedFtpOptions {
  bool tls = false;  // "tls" steps secure the connections (a certificate made at start)
};

class ScriptedFtp : public Served {
 public:
  explicit ScriptedFtp(std::string_view script_json, ScriptedFtpOptions options = {});
  // Every line received so far, without its CRLF (invalid UTF-8 as \x escapes).
  std::vector<std::string> Transcript() const { return Received(); }
  // Waits up to `bound` for the script to end; true when it ran every step as written.
  bool WaitFinished(std::chrono::milliseconds bound = 5s);
  std::string Failure() const;  // why not (the server's report); empty when it did
};

}  // namespace pullwire::testing
