// The server a Host text names, and whether it asks for TLS: "ftpes://name" (explicit, AUTH TLS
// on the port), "ftps://name" (implicit, TLS from the first byte), "name" or "ftp://name" (plain).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace pullwire::ftp {

enum class TlsMode {
  kNone,
  kExplicit,  // AUTH TLS after the greeting
  kImplicit,  // TLS from the first byte
};

using Sha256 = std::array<unsigned char, 32>;

struct ServerName {
  std::string name;  // a host name or an address literal, as the network sees it
  TlsMode tls = TlsMode::kNone;
  // "ftpes://name#sha256=AB:CD:..." accepts exactly the certificate of this SHA-256 fingerprint
  // instead of verifying it against the trust store and the name: for a server whose
  // certificate nobody has signed.
  std::optional<Sha256> pinned;
  // Any certificate is accepted (kTlsInsecureVariable=1): for a test server, never the default.
  bool unverified = false;
};

// The environment variable that, set to 1, turns certificate verification off for every TLS
// session; the run then warns that the server is not verified.
inline constexpr char kTlsInsecureVariable[] = "PULLWIRE_TLS_INSECURE";
bool TlsInsecureRequested();

// Reads a Host text; the scheme is matched in any letter case and one trailing "/" is dropped.
// Throws FtpError kInvalidValue for another scheme ("sftp://"), a pin on a plain host and a pin
// that is not 32 bytes in hex (colons between the bytes allowed).
ServerName ParseServerName(std::string_view host);

// "AB:CD:..." as `openssl x509 -fingerprint -sha256` prints it.
std::string FingerprintText(const Sha256& digest);

}  // namespace pullwire::ftp
