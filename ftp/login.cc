// Control connection set-up and the USER/PASS sequences, proxy logons included.
#include "ftp/login.h"

#include <fmt/format.h>

#include "ftp/errors.h"

namespace pullwire::ftp {
namespace {

bool IsSocks(ProxyKind kind) { return kind == ProxyKind::kSocks4 || kind == ProxyKind::kSocks5; }

std::uint16_t ProxyPort(const ProxySettings& proxy) {
  if (proxy.port != 0) return proxy.port;
  return IsSocks(proxy.kind) ? kDefaultSocksPort : kDefaultFtpPort;
}

std::string ProxyName(ProxyKind kind) {
  switch (kind) {
    case ProxyKind::kSocks4: return "SOCKS4 proxy";
    case ProxyKind::kSocks5: return "SOCKS5 proxy";
    default: return "FTP proxy";
  }
}

// Connects to `name`; errors call it `shown` ("the SOCKS5 proxy 10.0.0.1 port 1080",
// "ftpes://ftp.example.org port 21").
void ConnectTo(NetIo& net, ControlConnection& control, const std::string& name,
               std::uint16_t port, const std::string& shown, const Deadline& deadline) {
  const std::vector<Tcp::endpoint> endpoints = net.Resolve(name, port, deadline);
  const asio::error_code error = net.Connect(control.socket(), endpoints, deadline);
  if (error == asio::error::timed_out) {
    throw FtpError(ErrorCode::kTimedOut,
                   TimeoutText(fmt::format("no connection to {}", shown), deadline));
  }
  if (error) {
    throw FtpError(ErrorCode::kConnectFailed,
                   fmt::format("cannot connect to {}: {}", shown, error.message()));
  }
  asio::error_code ignored;
  control.socket().set_option(Tcp::no_delay(true), ignored);
}

void ReadGreeting(ControlConnection& control, const std::string& from) {
  control.ExpectGreeting("greeting from " + from);
  Reply greeting = control.Read();
  // "120 Service ready in 5 minutes." comes before the real greeting.
  while (greeting.Preliminary()) greeting = control.Read();
  if (greeting.code != 220) {
    const std::string text = greeting.Quote();
    control.Close();
    throw FtpError(ErrorCode::kConnectFailed,
                   fmt::format("{} refused the session: {}", from, text));
  }
}

// Reads past preliminary replies to the one that ends the command.
Reply Completion(ControlConnection& control, Reply reply) {
  while (reply.Preliminary()) reply = control.Read();
  return reply;
}

// USER, then PASS when asked (a 230 after USER skips it), then ACCT when asked.
void UserPass(ControlConnection& control, const std::string& user, const std::string& password,
              const std::string& account, ErrorCode failure, const std::string& who) {
  const auto refused = [&](const Reply& reply) {
    return FtpError(failure, fmt::format("{} as {} refused: {}", who,
                                         PrintableText(user, 200), reply.Quote()));
  };
  Reply reply = Completion(control, control.Command("USER " + user));
  if (reply.code == 331) {
    reply = Completion(control, control.Command("PASS " + password, "PASS ****"));
  }
  if (reply.code == 332) {
    if (account.empty()) {
      throw FtpError(failure, fmt::format("{} as {} needs an account (332), and none was given",
                                          who, PrintableText(user, 200)));
    }
    reply = Completion(control, control.Command("ACCT " + account, "ACCT ****"));
  }
  if (reply.code != 230 && reply.code != 202) throw refused(reply);
}

// SITE host / OPEN host: any completion other than a positive one is the gateway's refusal.
void GatewayCommand(ControlConnection& control, const std::string& command) {
  const Reply reply = Completion(control, control.Command(command));
  if (!reply.Positive()) {
    throw FtpError(ErrorCode::kProxyFailed,
                   fmt::format("the FTP proxy refused {}: {}", PrintableText(command, 300),
                               reply.Quote()));
  }
}

void ProxyLogon(ControlConnection& control, const ProxySettings& proxy) {
  UserPass(control, proxy.user, proxy.password, "", ErrorCode::kProxyFailed, "proxy logon");
}

// AUTH TLS (RFC 4217); "234 Proceed with negotiation." and only that lets the login follow.
void StartExplicitTls(ControlConnection& control, TlsClient& tls, const std::string& peer) {
  const Reply reply = Completion(control, control.Command("AUTH TLS"));
  if (reply.code != 234) {
    const std::string text = reply.Quote();
    control.Close();
    throw FtpError(ErrorCode::kTlsFailed,
                   fmt::format("{} refused TLS: AUTH TLS was answered {}; neither user name nor "
                               "password was sent",
                               peer, text));
  }
  control.Secure(tls.ForControl(control.native_handle()), peer);
}

// A server that speaks plain FTP on the port fails the handshake with its greeting: the
// error says which prefix fits where.
void StartImplicitTls(ControlConnection& control, TlsClient& tls, const std::string& peer) {
  try {
    control.Secure(tls.ForControl(control.native_handle()), peer);
  } catch (const FtpError& error) {
    if (error.code() != ErrorCode::kTlsFailed) throw;
    throw FtpError(ErrorCode::kTlsFailed,
                   fmt::format("{} (ftps:// is TLS from the first byte, usually on port 990; "
                               "for AUTH TLS on the FTP port write ftpes://)",
                               error.what()));
  }
}

// The FTP gateways read and answer the commands; the pipe relays bytes unread.
bool IsGateway(ProxyKind kind) {
  return kind != ProxyKind::kNone && kind != ProxyKind::kPipe && !IsSocks(kind);
}

// A NUL would end the name early for the system calls ("127.0.0.1\0.evil" reaching 127.0.0.1),
// and no host name holds a control character.
void RequireHostName(const std::string& host, const std::string& what) {
  if (host.empty()) throw FtpError(ErrorCode::kInvalidValue, "the " + what + " is empty");
  if (HasControlCharacter(host)) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("the {} \"{}\" holds a control character", what,
                               EscapedText(host, 300)));
  }
}

}  // namespace

std::string GatewayTarget(const std::string& host, std::uint16_t port) {
  if (port == kDefaultFtpPort) return host;
  const auto address = ParseAddress(host);
  const bool bare_v6 = address && address->is_v6() && host.front() != '[';
  if (bare_v6) return fmt::format("[{}]:{}", host, port);
  return fmt::format("{}:{}", host, port);
}

DataRoute OpenControl(NetIo& net, ControlConnection& control, const LoginParams& login,
                      const ServerName& server, const ProxySettings& proxy, TlsClient* tls) {
  RequireHostName(login.host, "host name");
  if (server.name.empty()) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("the host \"{}\" has no server name", PrintableText(login.host)));
  }
  if (login.port == 0) throw FtpError(ErrorCode::kInvalidValue, "the port is 0");
  if (tls != nullptr && IsGateway(proxy.kind)) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("TLS ({}) cannot pass an FTP gateway (proxy type {}), which must "
                               "read the commands: use a SOCKS proxy, a transparent relay or none",
                               PrintableText(login.host, 300), static_cast<int>(proxy.kind)));
  }
  const std::string shown = HostPortText(login.host, login.port);
  const Deadline deadline = Deadline::After(control.timeout());
  DataRoute route;
  asio::error_code error;
  if (proxy.kind == ProxyKind::kNone) {
    ConnectTo(net, control, server.name, login.port, shown, deadline);
  } else {
    if (proxy.host.empty()) {
      throw FtpError(ErrorCode::kInvalidValue,
                     fmt::format("the {} has no host name (ProxyServer)", ProxyName(proxy.kind)));
    }
    RequireHostName(proxy.host, ProxyName(proxy.kind) + "'s host name");
    ConnectTo(net, control, proxy.host, ProxyPort(proxy),
              "the " + ProxyName(proxy.kind) + " " + HostPortText(proxy.host, ProxyPort(proxy)),
              deadline);
  }
  const Tcp::endpoint peer = control.socket().remote_endpoint(error);
  if (error) {
    control.Close();
    throw FtpError(ErrorCode::kConnectionLost,
                   fmt::format("the connection closed at once ({})", error.message()));
  }
  if (IsSocks(proxy.kind)) {
    route.through_socks = true;
    route.proxy_endpoints = {peer};
    route.socks = {proxy.kind == ProxyKind::kSocks4 ? 4 : 5, server.name, login.port, proxy.user,
                   proxy.password};
    SocksConnect(net, control.socket(), route.socks, deadline);
  } else {
    route.peer = peer.address();
  }
  const bool gateway = proxy.kind != ProxyKind::kNone && !IsSocks(proxy.kind);
  route.through_gateway = gateway;
  if (tls != nullptr && server.tls == TlsMode::kImplicit) StartImplicitTls(control, *tls, shown);
  ReadGreeting(control, gateway ? "the FTP proxy " + HostPortText(proxy.host, ProxyPort(proxy))
                                : shown);
  if (tls != nullptr && server.tls == TlsMode::kExplicit) StartExplicitTls(control, *tls, shown);
  return route;
}

void ProtectData(ControlConnection& control) {
  for (const std::string command : {"PBSZ 0", "PROT P"}) {
    const Reply reply = Completion(control, control.Command(command));
    if (!reply.Positive()) {
      throw FtpError(ErrorCode::kTlsFailed,
                     fmt::format("the server refused {}: {}; data connections would not be "
                                 "encrypted",
                                 command, reply.Quote()));
    }
  }
}

void LogIn(ControlConnection& control, const LoginParams& login, const std::string& name,
           const ProxySettings& proxy) {
  const std::string user = login.user.empty() ? "anonymous" : login.user;
  const bool logon = !proxy.user.empty();
  switch (proxy.kind) {
    case ProxyKind::kSite:
      if (logon) ProxyLogon(control, proxy);
      GatewayCommand(control, "SITE " + GatewayTarget(name, login.port));
      break;
    case ProxyKind::kOpen:
      if (logon) ProxyLogon(control, proxy);
      GatewayCommand(control, "OPEN " + GatewayTarget(name, login.port));
      break;
    case ProxyKind::kUserAfterLogon:
      if (!logon) {
        throw FtpError(ErrorCode::kInvalidValue,
                       "the FTP proxy logon needs a proxy user name (ProxyLoginName)");
      }
      ProxyLogon(control, proxy);
      [[fallthrough]];
    case ProxyKind::kUserWithoutLogon: {
      const std::string gateway_user = user + "@" + GatewayTarget(name, login.port);
      try {
        UserPass(control, gateway_user, login.password, login.account, ErrorCode::kLoginFailed,
                 "login");
      } catch (const FtpError& error) {
        if (error.code() != ErrorCode::kConnectionLost) throw;
        throw FtpError(ErrorCode::kProxyFailed,
                       fmt::format("the FTP proxy closed the connection after USER {}: it could "
                                   "not reach the server",
                                   PrintableText(gateway_user, 300)));
      }
      return;
    }
    default:
      break;
  }
  UserPass(control, user, login.password, login.account, ErrorCode::kLoginFailed, "login");
}

}  // namespace pullwire::ftp
