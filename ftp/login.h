// Opening a session: the control connection (directly, through SOCKS, or to an FTP gateway),
// the greeting, and the login sequence of each proxy kind.
#pragma once

#include <vector>

#include "ftp/control_connection.h"
#include "ftp/net_io.h"
#include "ftp/session_options.h"
#include "ftp/socks.h"

namespace pullwire::ftp {

// How data connections reach the server once the control connection stands: directly to the
// control connection's peer, or through the SOCKS proxy with one CONNECT each.
struct DataRoute {
  bool through_socks = false;
  // An FTP gateway (proxy kinds 3 to 7) holds the control connection: it answers some commands
  // itself (ftp-proxy answers PASV before relaying the server's 226), so nothing is sent ahead.
  bool through_gateway = false;
  asio::ip::address peer;                      // direct: the control connection's peer
  std::vector<Tcp::endpoint> proxy_endpoints;  // SOCKS: the proxy
  SocksTarget socks;                           // SOCKS: the server; port set per connection
};

// Connects the control connection and reads the greeting (220; a 120 first is waited out).
// Throws FtpError (kInvalidValue for missing proxy settings, kHostNotFound, kConnectFailed,
// kProxyFailed, kTimedOut ...).
DataRoute OpenControl(NetIo& net, ControlConnection& control, const LoginParams& login,
                      const ProxySettings& proxy);

// Sends the login sequence of the proxy kind. Passwords appear as "****" in traces and errors.
// Throws FtpError kLoginFailed (the server refused the user), kProxyFailed (the gateway refused).
void LogIn(ControlConnection& control, const LoginParams& login, const ProxySettings& proxy);

// "host" or "host:port" (port other than 21; an IPv6 literal in brackets) for gateway commands.
std::string GatewayTarget(const LoginParams& login);

}  // namespace pullwire::ftp
