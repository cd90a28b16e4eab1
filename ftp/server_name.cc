// Reading the scheme and the pinned fingerprint of a Host text.
#include "ftp/server_name.h"

#include <fmt/format.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ftp/errors.h"

namespace pullwire::ftp {
namespace {

constexpr std::string_view kPinMark = "#sha256=";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<Sha256> ParseFingerprint(std::string_view text) {
  std::string digits;
  for (const char c : text) {
    if (c != ':') digits += c;
  }
  Sha256 digest{};
  if (digits.size() != 2 * digest.size()) return std::nullopt;
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const int high = HexValue(digits[2 * i]);
    const int low = HexValue(digits[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return digest;
}

}  // namespace

ServerName ParseServerName(std::string_view host) {
  ServerName server;
  std::string_view rest = host;
  if (StartsWithNoCase(host, "ftpes://")) {
    server.tls = TlsMode::kExplicit;
    rest.remove_prefix(8);
  } else if (StartsWithNoCase(host, "ftps://")) {
    server.tls = TlsMode::kImplicit;
    rest.remove_prefix(7);
  } else if (StartsWithNoCase(host, "ftp://")) {
    rest.remove_prefix(6);
  } else if (const std::size_t scheme = host.find("://"); scheme != std::string_view::npos) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("the host \"{}\" names a protocol other than FTP: write the "
                               "server's name alone, or with ftpes:// or ftps:// for TLS",
                               PrintableText(host, 300)));
  }
  if (const std::size_t mark = rest.find(kPinMark); mark != std::string_view::npos) {
    const std::string_view pin = rest.substr(mark + kPinMark.size());
    rest = rest.substr(0, mark);
    if (server.tls == TlsMode::kNone) {
      throw FtpError(ErrorCode::kInvalidValue,
                     fmt::format("the host \"{}\" pins a certificate but asks for no TLS: write "
                                 "ftpes:// or ftps:// before the name",
                                 PrintableText(host, 300)));
    }
    server.pinned = ParseFingerprint(pin);
    if (!server.pinned) {
      throw FtpError(ErrorCode::kInvalidValue,
                     fmt::format("the certificate fingerprint \"{}\" is not a SHA-256 "
                                 "fingerprint (64 hexadecimal digits, colons allowed)",
                                 PrintableText(pin, 200)));
    }
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  server.name = std::string(rest);
  return server;
}

bool TlsInsecureRequested() {
  const char* value = std::getenv(kTlsInsecureVariable);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

std::string FingerprintText(const Sha256& digest) {
  std::string text;
  for (const unsigned char byte : digest) {
    if (!text.empty()) text += ':';
    text += fmt::format("{:02X}", byte);
  }
  return text;
}

}  // namespace pullwire::ftp
