// Opening a session: the control connection (directly, through SOCKS, or to an FTP gateway),
// TLS (implicit before the greeting, AUTH TLS after it), the greeting, the login sequence of each
// proxy kind, and PBSZ/PROT for encrypted data connections.
#pragma once

#include <vector>

#include "ftp/control_connection.h"
#include "ftp/net_io.h"
#include "ftp/server_name.h"
#include "ftp/session_options.h"
#include "ftp/socks.h"
#include "ftp/tls_client.h"

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

// Connects the control connection to `server` (what login.host names; messages quote login.host
// as written) and reads the greeting (220; a 120 first is waited out). With `tls` the connection
// is secured before anything of the login is sent: implicit TLS from the first byte, explicit
// with AUTH TLS after the greeting; TLS passes SOCKS and a transparent relay end to end, and is
// refused for the FTP gateways, which must read the commands. Throws FtpError (kInvalidValue for
// missing proxy settings, kHostNotFound, kConnectFailed, kProxyFailed, kTimedOut, kTlsFailed,
// kCertificateRejected ...).
DataRoute OpenControl(NetIo& net, ControlConnection& control, const LoginParams& login,
                      const ServerName& server, const ProxySettings& proxy, TlsClient* tls);

// Sends the login sequence of the proxy kind for the server named `name`. Passwords appear as
// "****" in traces and errors. Throws FtpError kLoginFailed (the server refused the user),
// kProxyFailed (the gateway refused).
void LogIn(ControlConnection& control, const LoginParams& login, const std::string& name,
           const ProxySettings& proxy);

// PBSZ 0 and PROT P after a login over TLS, so that data connections are encrypted too.
// Throws kTlsFailed when the server refuses either.
void ProtectData(ControlConnection& control);

// "host" or "host:port" (port other than 21; an IPv6 literal in brackets) for gateway commands.
std::string GatewayTarget(const std::string& host, std::uint16_t port);

}  // namespace pullwire::ftp
