// Passive and active data connection set-up.
#include "ftp/data_connection.h"

#include <fmt/format.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "ftp/errors.h"
#include "ftp/reply_meaning.h"

namespace pullwire::ftp {
namespace {

// "::ffff:127.0.0.1" as "127.0.0.1", so that both forms of one peer compare equal.
asio::ip::address Unmapped(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  return address;
}

}  // namespace

void DataConnector::Reset(const DataRoute& route, TlsClient* tls) {
  route_ = route;
  tls_ = tls;
  epsv_refused_ = false;
  Cancel();
}

void DataConnector::Cancel() {
  if (!acceptor_) return;
  asio::error_code ignored;
  acceptor_->close(ignored);
  acceptor_.reset();
}

void DataConnector::AskAhead() {
  if (route_.through_gateway) return;
  control_.SendAhead(epsv_refused_ ? "PASV" : "EPSV");
}

Reply DataConnector::Ask(const std::string& command) {
  if (control_.ahead() == command) return control_.TakeAhead();
  return control_.Command(command);
}

std::uint16_t DataConnector::PassivePort() {
  if (!epsv_refused_) {
    const Reply reply = Ask("EPSV");
    if (reply.code == 229) {
      if (const auto port = ParseEpsvPort(reply)) return *port;
      throw FtpError(ErrorCode::kProtocolError,
                     fmt::format("unreadable reply to EPSV: {}", reply.Quote()));
    }
    // "500 EPSV not understood" and kin: PASV from now on, without asking again.
    epsv_refused_ = true;
  }
  const Reply reply = Ask("PASV");
  if (reply.code != 227) {
    throw FtpError(ErrorCode::kDataConnectionFailed,
                   fmt::format("the server refused passive mode: {}", reply.Quote()));
  }
  // "227 Entering Passive Mode (127,0,0,1,4,51)": only the port is used.
  if (const auto port = ParsePasvPort(reply)) return *port;
  throw FtpError(ErrorCode::kProtocolError,
                 fmt::format("unreadable reply to PASV: {}", reply.Quote()));
}

void DataConnector::StartConnect(Tcp::socket& data, std::uint16_t port) {
  const Tcp::endpoint endpoint(route_.peer, port);
  connecting_to_ = HostPortText(route_.peer.to_string(), port);
  asio::error_code error;
  data.open(endpoint.protocol(), error);
  if (!error) data.non_blocking(true, error);
  if (!error && ::connect(data.native_handle(), endpoint.data(),
                          static_cast<socklen_t>(endpoint.size())) != 0 &&
      errno != EINPROGRESS) {
    error = asio::error_code(errno, asio::system_category());
  }
  if (error) {
    connecting_to_.clear();
    throw FtpError(ErrorCode::kDataConnectionFailed,
                   fmt::format("cannot open the data connection to {}: {}",
                               HostPortText(route_.peer.to_string(), port), error.message()));
  }
}

void DataConnector::FinishConnect(Tcp::socket& data) {
  const std::string target = std::exchange(connecting_to_, {});
  const Deadline deadline = Deadline::After(control_.timeout());
  pollfd fd{data.native_handle(), POLLOUT, 0};
  if (PollUntil(sys_, &fd, 1, deadline, net_.cancel()) == 0) {
    throw FtpError(ErrorCode::kTimedOut, TimeoutText("no data connection to " + target, deadline));
  }
  int error = 0;
  socklen_t size = sizeof(error);
  if (::getsockopt(data.native_handle(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  if (error != 0) {
    throw FtpError(ErrorCode::kDataConnectionFailed,
                   fmt::format("cannot open the data connection to {}: {}", target,
                               std::strerror(error)));
  }
}

void DataConnector::ConnectPassive(Tcp::socket& data, std::uint16_t port) {
  if (!route_.through_socks) {
    StartConnect(data, port);
    return;
  }
  // Through SOCKS: to the proxy, then one CONNECT to the server's data port.
  const Deadline deadline = Deadline::After(control_.timeout());
  const Tcp::endpoint& proxy = route_.proxy_endpoints.front();
  const std::string target =
      "the SOCKS proxy " + HostPortText(proxy.address().to_string(), proxy.port());
  const asio::error_code error = net_.Connect(data, route_.proxy_endpoints, deadline);
  if (error == asio::error::timed_out) {
    throw FtpError(ErrorCode::kTimedOut, TimeoutText("no data connection to " + target, deadline));
  }
  if (error) {
    throw FtpError(ErrorCode::kDataConnectionFailed,
                   fmt::format("cannot open the data connection to {}: {}", target,
                               error.message()));
  }
  SocksTarget socks = route_.socks;
  socks.port = port;
  SocksConnect(net_, data, socks, deadline);
}

void DataConnector::Listen() {
  if (route_.through_socks) {
    throw FtpError(ErrorCode::kActiveThroughSocks,
                   "active mode does not work through a SOCKS proxy: the server would have to "
                   "connect to this machine directly; use passive mode");
  }
  asio::error_code error;
  const Tcp::endpoint local(control_.socket().local_endpoint(error).address(), 0);
  acceptor_.emplace(net_.context());
  if (!error) acceptor_->open(local.protocol(), error);
  if (!error) acceptor_->bind(local, error);
  if (!error) acceptor_->listen(1, error);
  if (error) {
    Cancel();
    throw FtpError(ErrorCode::kDataConnectionFailed,
                   fmt::format("cannot listen for the data connection on {}: {}",
                               local.address().to_string(), error.message()));
  }
}

void DataConnector::Prepare(bool passive, Tcp::socket& data) {
  Cancel();
  connecting_to_.clear();
  if (passive) {
    ConnectPassive(data, PassivePort());
    return;
  }
  Listen();
  asio::error_code error;
  const Tcp::endpoint local = acceptor_->local_endpoint(error);
  std::string command;
  if (local.address().is_v4()) {
    const auto bytes = local.address().to_v4().to_bytes();
    command = fmt::format("PORT {},{},{},{},{},{}", bytes[0], bytes[1], bytes[2], bytes[3],
                          local.port() >> 8, local.port() & 0xff);
  } else {
    command = fmt::format("EPRT |2|{}|{}|", local.address().to_string(), local.port());
  }
  const Reply reply = control_.Command(command);
  if (!reply.Positive()) {
    Cancel();
    throw FtpError(ErrorCode::kDataConnectionFailed,
                   fmt::format("the server refused active mode ({}): {}",
                               command.substr(0, 4), reply.Quote()));
  }
}

std::unique_ptr<TlsStream> DataConnector::Secure(Tcp::socket& data) {
  if (tls_ == nullptr) return nullptr;
  asio::error_code ignored;
  data.non_blocking(true, ignored);
  std::unique_ptr<TlsStream> stream = tls_->ForData(data.native_handle());
  stream->Handshake(sys_, Deadline::After(control_.timeout()), "the data connection");
  control_.Trace('!', "data connection TLS: " + stream->Describe());
  return stream;
}

std::unique_ptr<TlsStream> DataConnector::Complete(Tcp::socket& data) {
  if (!connecting_to_.empty()) {
    FinishConnect(data);
    return Secure(data);
  }
  if (!acceptor_) return Secure(data);
  const Deadline deadline = Deadline::After(control_.timeout());
  std::string refused;
  asio::error_code error;
  // Only the server (or the gateway that holds the control connection) may deliver the data:
  // anyone else who reaches the listener first is turned away, and the wait goes on.
  while (!(error = net_.Accept(*acceptor_, data, deadline))) {
    asio::error_code ignored;
    const asio::ip::address from = data.remote_endpoint(ignored).address();
    if (Unmapped(from) == Unmapped(route_.peer)) break;
    refused = from.to_string();
    control_.Trace('!', "refused a data connection from " + refused);
    data.close(ignored);
  }
  Cancel();
  if (error == asio::error::timed_out) {
    const std::string what = refused.empty()
                                 ? "the server opened no data connection"
                                 : "the server opened no data connection (one from " + refused +
                                       " was refused: only " + route_.peer.to_string() +
                                       " may connect)";
    throw FtpError(ErrorCode::kTimedOut, TimeoutText(what, deadline));
  }
  if (error) {
    throw FtpError(ErrorCode::kDataConnectionFailed,
                   fmt::format("cannot accept the data connection: {}", error.message()));
  }
  return Secure(data);
}

}  // namespace pullwire::ftp
