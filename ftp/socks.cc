// SOCKS4 and SOCKS5 CONNECT requests and the proxy's answers.
#include "ftp/socks.h"

#include <fmt/format.h>

#include <array>

#include "ftp/errors.h"

namespace pullwire::ftp {
namespace {

using Bytes = std::string;

[[noreturn]] void Fail(const SocksTarget& target, const std::string& why) {
  throw FtpError(ErrorCode::kProxyFailed,
                 fmt::format("SOCKS{} proxy cannot connect to {}: {}", target.version,
                             HostPortText(target.host, target.port), why));
}

void Send(NetIo& net, Tcp::socket& socket, const Bytes& bytes, const SocksTarget& target,
          const Deadline& deadline) {
  const asio::error_code error = net.WriteAll(socket, bytes, deadline);
  if (error == asio::error::timed_out) {
    throw FtpError(ErrorCode::kTimedOut,
                   TimeoutText(fmt::format("no answer from the SOCKS{} proxy", target.version),
                               deadline));
  }
  if (error) Fail(target, "the proxy closed the connection (" + error.message() + ")");
}

Bytes ReadExact(NetIo& net, Tcp::socket& socket, std::size_t count, const SocksTarget& target,
                const Deadline& deadline) {
  Bytes bytes(count, '\0');
  std::size_t have = 0;
  while (have < count) {
    std::size_t read = 0;
    const asio::error_code error =
        net.ReadSome(socket, bytes.data() + have, count - have, deadline, read);
    if (error == asio::error::timed_out) {
      throw FtpError(ErrorCode::kTimedOut,
                     TimeoutText(fmt::format("no answer from the SOCKS{} proxy", target.version),
                                 deadline));
    }
    if (error) Fail(target, "the proxy closed the connection");
    have += read;
  }
  return bytes;
}

std::uint8_t Byte(const Bytes& bytes, std::size_t index) {
  return static_cast<std::uint8_t>(bytes[index]);
}

void AppendPort(Bytes& bytes, std::uint16_t port) {
  bytes += static_cast<char>(port >> 8);
  bytes += static_cast<char>(port & 0xff);
}

void Socks4(NetIo& net, Tcp::socket& socket, const SocksTarget& target, const Deadline& deadline) {
  asio::ip::address_v4 address;
  for (const Tcp::endpoint& endpoint : net.Resolve(target.host, target.port, deadline)) {
    if (endpoint.address().is_v4()) {
      address = endpoint.address().to_v4();
      break;
    }
    if (endpoint.address().is_v6() && endpoint.address().to_v6().is_v4_mapped()) {
      address = asio::ip::make_address_v4(asio::ip::v4_mapped, endpoint.address().to_v6());
      break;
    }
  }
  if (address.is_unspecified()) Fail(target, "SOCKS4 carries IPv4 addresses only");
  Bytes request{4, 1};
  AppendPort(request, target.port);
  for (const auto byte : address.to_bytes()) request += static_cast<char>(byte);
  request += target.user;
  request += '\0';
  Send(net, socket, request, target, deadline);
  const Bytes reply = ReadExact(net, socket, 8, target, deadline);
  switch (Byte(reply, 1)) {
    case 90:
      return;
    case 92:
    case 93:
      Fail(target,
           fmt::format("the proxy could not confirm the user id (code {})", Byte(reply, 1)));
    default:
      Fail(target, fmt::format("request rejected or failed (code {})", Byte(reply, 1)));
  }
}

std::string Socks5ReplyText(std::uint8_t code) {
  static constexpr std::array<const char*, 9> kTexts = {
      "succeeded",          "general SOCKS server failure",    "connection not allowed by ruleset",
      "network unreachable", "host unreachable",                 "connection refused",
      "TTL expired",        "command not supported",           "address type not supported"};
  if (code < kTexts.size()) return fmt::format("{} (code {})", kTexts[code], code);
  return fmt::format("unknown reply code {}", code);
}

void Socks5Authenticate(NetIo& net, Tcp::socket& socket, const SocksTarget& target,
                        const Deadline& deadline) {
  const bool with_password = !target.user.empty();
  if (target.user.size() > 255 || target.password.size() > 255) {
    throw FtpError(ErrorCode::kInvalidValue,
                   "SOCKS5 user names and passwords are limited to 255 bytes");
  }
  Send(net, socket, with_password ? Bytes{5, 2, 0, 2} : Bytes{5, 1, 0}, target, deadline);
  const Bytes choice = ReadExact(net, socket, 2, target, deadline);
  if (Byte(choice, 0) != 5) Fail(target, "the proxy does not speak SOCKS5");
  if (Byte(choice, 1) == 0) return;
  if (Byte(choice, 1) != 2 || !with_password) {
    Fail(target, with_password ? "no authentication method accepted"
                               : "the proxy requires a user name and password");
  }
  Bytes login{1};
  login += static_cast<char>(target.user.size());
  login += target.user;
  login += static_cast<char>(target.password.size());
  login += target.password;
  Send(net, socket, login, target, deadline);
  const Bytes status = ReadExact(net, socket, 2, target, deadline);
  if (Byte(status, 1) != 0) {
    Fail(target, fmt::format("user name or password refused for {}",
                             PrintableText(target.user, 100)));
  }
}

void Socks5(NetIo& net, Tcp::socket& socket, const SocksTarget& target, const Deadline& deadline) {
  Socks5Authenticate(net, socket, target, deadline);
  Bytes request{5, 1, 0};
  if (const auto address = ParseAddress(target.host)) {
    request += static_cast<char>(address->is_v4() ? 1 : 4);
    if (address->is_v4()) {
      for (const auto byte : address->to_v4().to_bytes()) request += static_cast<char>(byte);
    } else {
      for (const auto byte : address->to_v6().to_bytes()) request += static_cast<char>(byte);
    }
  } else {
    if (target.host.size() > 255) Fail(target, "host name longer than 255 bytes");
    request += static_cast<char>(3);
    request += static_cast<char>(target.host.size());
    request += target.host;
  }
  AppendPort(request, target.port);
  Send(net, socket, request, target, deadline);
  const Bytes head = ReadExact(net, socket, 4, target, deadline);
  if (Byte(head, 0) != 5) Fail(target, "the proxy does not speak SOCKS5");
  if (Byte(head, 1) != 0) Fail(target, Socks5ReplyText(Byte(head, 1)));
  std::size_t rest = 0;
  switch (Byte(head, 3)) {
    case 1: rest = 4 + 2; break;
    case 4: rest = 16 + 2; break;
    case 3: rest = Byte(ReadExact(net, socket, 1, target, deadline), 0) + 2u; break;
    default: Fail(target, "unreadable SOCKS5 reply");
  }
  ReadExact(net, socket, rest, target, deadline);
}

}  // namespace

void SocksConnect(NetIo& net, Tcp::socket& socket, const SocksTarget& target,
                  const Deadline& deadline) {
  if (target.version == 4) {
    Socks4(net, socket, target, deadline);
  } else {
    Socks5(net, socket, target, deadline);
  }
}

}  // namespace pullwire::ftp
