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

void ConnectTo(NetIo& net, ControlConnection& control, const std::string& host,
               std::uint16_t port, const std::string& label, const Deadline& deadline) {
  const std::vector<Tcp::endpoint> endpoints = net.Resolve(host, port, deadline);
  const asio::error_code error = net.Connect(control.socket(), endpoints, deadline);
  if (error == asio::error::timed_out) {
    throw FtpError(ErrorCode::kTimedOut,
                   TimeoutText(fmt::format("no connection to {}{}", label,
                                           HostPortText(host, port)),
                               deadline));
  }
  if (error) {
    throw FtpError(ErrorCode::kConnectFailed,
                   fmt::format("cannot connect to {}{}: {}", label, HostPortText(host, port),
                               error.message()));
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

std::string GatewayTarget(const LoginParams& login) {
  if (login.port == kDefaultFtpPort) return login.host;
  const auto address = ParseAddress(login.host);
  const bool bare_v6 = address && address->is_v6() && login.host.front() != '[';
  if (bare_v6) return fmt::format("[{}]:{}", login.host, login.port);
  return fmt::format("{}:{}", login.host, login.port);
}

DataRoute OpenControl(NetIo& net, ControlConnection& control, const LoginParams& login,
                      const ProxySettings& proxy) {
  RequireHostName(login.host, "host name");
  if (login.port == 0) throw FtpError(ErrorCode::kInvalidValue, "the port is 0");
  const Deadline deadline = Deadline::After(control.timeout());
  DataRoute route;
  asio::error_code error;
  if (proxy.kind == ProxyKind::kNone) {
    ConnectTo(net, control, login.host, login.port, "", deadline);
  } else {
    if (proxy.host.empty()) {
      throw FtpError(ErrorCode::kInvalidValue,
                     fmt::format("the {} has no host name (ProxyServer)", ProxyName(proxy.kind)));
    }
    RequireHostName(proxy.host, ProxyName(proxy.kind) + "'s host name");
    const std::string label = "the " + ProxyName(proxy.kind) + " ";
    ConnectTo(net, control, proxy.host, ProxyPort(proxy), label, deadline);
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
    route.socks = {proxy.kind == ProxyKind::kSocks4 ? 4 : 5, login.host, login.port, proxy.user,
                   proxy.password};
    SocksConnect(net, control.socket(), route.socks, deadline);
  } else {
    route.peer = peer.address();
  }
  const bool gateway = proxy.kind != ProxyKind::kNone && !IsSocks(proxy.kind);
  route.through_gateway = gateway;
  ReadGreeting(control, gateway ? "the FTP proxy " + HostPortText(proxy.host, ProxyPort(proxy))
                                : HostPortText(login.host, login.port));
  return route;
}

void LogIn(ControlConnection& control, const LoginParams& login, const ProxySettings& proxy) {
  const std::string user = login.user.empty() ? "anonymous" : login.user;
  const bool logon = !proxy.user.empty();
  switch (proxy.kind) {
    case ProxyKind::kSite:
      if (logon) ProxyLogon(control, proxy);
      GatewayCommand(control, "SITE " + GatewayTarget(login));
      break;
    case ProxyKind::kOpen:
      if (logon) ProxyLogon(control, proxy);
      GatewayCommand(control, "OPEN " + GatewayTarget(login));
      break;
    case ProxyKind::kUserAfterLogon:
      if (!logon) {
        throw FtpError(ErrorCode::kInvalidValue,
                       "the FTP proxy logon needs a proxy user name (ProxyLoginName)");
      }
      ProxyLogon(control, proxy);
      [[fallthrough]];
    case ProxyKind::kUserWithoutLogon: {
      const std::string gateway_user = user + "@" + GatewayTarget(login);
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
