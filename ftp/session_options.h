// The settings of an FTP session: where to log in, through which proxy, and how to transfer.
#pragma once

#include <cstdint>
#include <string>

namespace pullwire::ftp {

// The proxy dialog's list, in its order.
enum class ProxyKind : std::int32_t {
  kNone = 0,
  kSocks4 = 1,            // SOCKS4 CONNECT, the proxy user name as user id
  kSocks5 = 2,            // SOCKS5, user/password authentication when a proxy user is set
  kSite = 3,              // [USER puser, PASS ppass], SITE host[:port], USER user, PASS pass
  kUserAfterLogon = 4,    // USER puser, PASS ppass, USER user@host[:port], PASS pass
  kUserWithoutLogon = 5,  // USER user@host[:port], PASS pass
  kOpen = 6,              // [USER puser, PASS ppass], OPEN host[:port], USER user, PASS pass
  kPipe = 7,              // a transparent relay: log in to the proxy as if it were the server
};

struct ProxySettings {
  ProxyKind kind = ProxyKind::kNone;
  std::string host;
  std::uint16_t port = 0;  // 0: 1080 for SOCKS, 21 for the FTP gateways
  std::string user;
  std::string password;
};

struct LoginParams {
  std::string host;        // name, IPv4 or IPv6 literal
  std::uint16_t port = 21;
  std::string user;        // empty: "anonymous"
  std::string password;
  std::string account;     // sent with ACCT only when the server asks (332)
};

enum class TransferType {
  kAscii,   // TYPE A; CRLF becomes LF in the local file
  kImage,   // TYPE I
  kEbcdic,  // TYPE E; written as received
};

inline constexpr std::uint16_t kDefaultFtpPort = 21;
inline constexpr std::uint16_t kDefaultSocksPort = 1080;

}  // namespace pullwire::ftp
