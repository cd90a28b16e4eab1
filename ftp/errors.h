// The engine's error numbers, their titles, and the exception every engine call throws.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pullwire::ftp {

// One table (errors.cc) holds every number with its title; descriptions are made where the
// failure happens and quote the server's reply when there is one.
enum class ErrorCode : std::int32_t {
  kInvalidValue = 380,          // an invalid argument or setting (empty path, port 0 ...)
  kNotConnected = 11001,        // a call that needs a session made without one
  kHostNotFound = 11002,        // name resolution failed
  kConnectFailed = 11003,       // TCP connect refused or unreachable
  kTimedOut = 11004,            // a wait ran past the operation time-out
  kConnectionLost = 11005,      // the server closed or reset the control connection
  kServiceClosing = 11006,      // a 421 reply: the server ends the session
  kProtocolError = 11007,       // a reply or listing we cannot read
  kLoginFailed = 11008,         // USER/PASS/ACCT refused
  kProxyFailed = 11009,         // the SOCKS proxy or FTP gateway refused
  kActiveThroughSocks = 11010,  // active mode asked for through a SOCKS proxy
  kCommandFailed = 11011,       // the server refused a command
  kDataConnectionFailed = 11012,
  kTransferFailed = 11013,      // aborted, dropped or reset while data flowed
  kTransferIncomplete = 11014,  // fewer or more bytes than the server announced
  kLocalFileError = 11015,      // local create, write, rename failed (full disk ...)
  kUnsafeName = 11016,          // a remote name that cannot become a local file name
  kTooDeep = 11017,             // a folder walk reached its depth bound
  kListingTooLarge = 11018,     // a listing over the cap on its text
  kTooManyEntries = 11019,      // a folder walk reached its bound on listed entries
  kCancelled = 11020,           // the host asked the run to stop (a signal to `pullwire run`)
  kTlsFailed = 11021,           // AUTH TLS, PBSZ or PROT refused, or a TLS handshake failed
  kCertificateRejected = 11022, // the server's certificate failed verification or its pin
  kNoSuchFile = 11101,          // the server reports the file or folder does not exist
};

// The title of a number from the table ("The file or folder does not exist").
std::string_view ErrorTitle(ErrorCode code);

class FtpError : public std::runtime_error {
 public:
  FtpError(ErrorCode code, const std::string& description, int reply_code = 0)
      : std::runtime_error(description), code_(code), reply_code_(reply_code) {}
  ErrorCode code() const { return code_; }
  std::int32_t number() const { return static_cast<std::int32_t>(code_); }
  // The server's reply that refused a command ("502 Command not implemented" gives 502); 0 when
  // the failure was no such refusal.
  int reply_code() const { return reply_code_; }

 private:
  ErrorCode code_;
  int reply_code_;
};

// The length of the control character at text[i]: 1 for a C0 byte or DEL, 2 for a C1 control
// (U+0080..U+009F, bytes C2 80..C2 9F), which terminals obey like ESC sequences; else 0.
std::size_t ControlCharacterAt(std::string_view text, std::size_t i);
bool HasControlCharacter(std::string_view text);

// Replaces control characters (hostile replies, names with NUL or ESC; C0 bytes, DEL and the C1
// controls U+0080..U+009F in UTF-8) by '?' and cuts the text at `max_bytes`, so that an error
// description is safe to show and log.
std::string PrintableText(std::string_view text, std::size_t max_bytes = 400);

// The same text with its control characters written as C escapes ("tab\there", "\x1b[2J",
// "\xc2\x9b"), a backslash doubled and a double quote escaped, cut at `max_bytes`: for naming
// an odd remote name exactly, between double quotes.
std::string EscapedText(std::string_view text, std::size_t max_bytes = 400);

}  // namespace pullwire::ftp
