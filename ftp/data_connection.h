// Opening the data connection of one transfer: passive (EPSV, falling back to PASV for the rest
// of the session; always to the control connection's peer or through SOCKS) or active
// (PORT/EPRT with a listener on the control connection's local address).
#pragma once

#include <optional>

#include "ftp/control_connection.h"
#include "ftp/login.h"
#include "ftp/net_io.h"

namespace pullwire::ftp {

class DataConnector {
 public:
  DataConnector(NetIo& net, ControlConnection& control) : net_(net), control_(control) {}

  // A new session: EPSV is tried again.
  void Reset(const DataRoute& route);

  // Before the transfer command: passive mode asks for a port and connects `data`; active mode
  // listens and announces the listener with PORT (IPv4) or EPRT (IPv6).
  void Prepare(bool passive, Tcp::socket& data);
  // After the transfer command's preliminary reply: active mode accepts the server's connection.
  void Complete(Tcp::socket& data);
  // Drops a listener left from a failed transfer.
  void Cancel();
  // Passive mode: asks for the next transfer's port while the current one's final reply is
  // still on its way, so that the server answers both without waiting for the client between.
  void AskAhead();

  bool epsv_refused() const { return epsv_refused_; }

 private:
  std::uint16_t PassivePort();
  // The reply to `command`, sent now or already sent ahead.
  Reply Ask(const std::string& command);
  void ConnectPassive(Tcp::socket& data, std::uint16_t port);
  void Listen();

  NetIo& net_;
  ControlConnection& control_;
  DataRoute route_;
  bool epsv_refused_ = false;
  std::optional<Tcp::acceptor> acceptor_;
};

}  // namespace pullwire::ftp
