// SOCKS client handshakes on a socket already connected to the proxy: SOCKS4 CONNECT with a
// user id, SOCKS5 CONNECT (RFC 1928) with user/password authentication (RFC 1929).
#pragma once

#include <cstdint>
#include <string>

#include "ftp/deadline.h"
#include "ftp/net_io.h"

namespace pullwire::ftp {

struct SocksTarget {
  int version = 5;       // 4 or 5
  std::string host;      // literal or name; SOCKS4 resolves names here, SOCKS5 lets the proxy
  std::uint16_t port = 0;
  std::string user;      // SOCKS4 user id; SOCKS5 user name (authentication when not empty)
  std::string password;  // SOCKS5 only; never put into an error text
};

// Asks the proxy to connect to the target; returns when the proxy reports success. Throws
// FtpError kProxyFailed (the proxy's refusal in words), kTimedOut or kConnectionLost.
void SocksConnect(NetIo& net, Tcp::socket& socket, const SocksTarget& target,
                  const Deadline& deadline);

}  // namespace pullwire::ftp
