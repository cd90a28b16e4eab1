// Opening the data connection of one transfer: passive (EPSV, falling back to PASV for the rest
// of the session; always to the control connection's peer or through SOCKS) or active
// (PORT/EPRT with a listener on the control connection's local address). A direct passive
// connection is only started before the transfer command and finished after it, so that the
// server reads the command while the connection is being made. Over TLS every data connection
// shakes hands as the client (RFC 4217, also in active mode) and resumes the control
// connection's TLS session.
#pragma once

#include <memory>
#include <optional>

#include "ftp/control_connection.h"
#include "ftp/login.h"
#include "ftp/net_io.h"
#include "ftp/sys_io.h"
#include "ftp/tls_client.h"

namespace pullwire::ftp {

class DataConnector {
 public:
  DataConnector(NetIo& net, SysIo& sys, ControlConnection& control)
      : net_(net), sys_(sys), control_(control) {}

  // A new session: EPSV is tried again. `tls` (null for plain FTP) must outlive the session.
  void Reset(const DataRoute& route, TlsClient* tls);

  // Before the transfer command: passive mode asks for a port and starts connecting `data`
  // (through SOCKS: connects); active mode listens and announces the listener with PORT (IPv4)
  // or EPRT (IPv6).
  void Prepare(bool passive, Tcp::socket& data);
  // After the transfer command (active mode: after its preliminary reply): waits for the passive
  // connection to stand, or accepts the server's connection. `data` is then non-blocking. Over
  // TLS, returns the data connection's stream after its handshake; else nullptr.
  std::unique_ptr<TlsStream> Complete(Tcp::socket& data);
  // Drops a listener left from a failed transfer.
  void Cancel();
  // Passive mode: asks for the next transfer's port while the current one's final reply is
  // still on its way, so that the server answers both without waiting for the client between.
  // Not through an FTP gateway, whose own answers may overtake the server's.
  void AskAhead();

  bool epsv_refused() const { return epsv_refused_; }
  // Passive mode has failed with EPSV: PASV from now on.
  void RefuseEpsv() { epsv_refused_ = true; }
  const DataRoute& route() const { return route_; }
  TlsClient* tls() const { return tls_; }
  // Starts a non-blocking connect of `data` to the server's passive `port` (direct routes only);
  // it has completed when the socket becomes writable, and SO_ERROR tells how.
  void StartConnect(Tcp::socket& data, std::uint16_t port);

 private:
  std::uint16_t PassivePort();
  // The reply to `command`, sent now or already sent ahead.
  Reply Ask(const std::string& command);
  void ConnectPassive(Tcp::socket& data, std::uint16_t port);
  void FinishConnect(Tcp::socket& data);
  void Listen();
  std::unique_ptr<TlsStream> Secure(Tcp::socket& data);

  NetIo& net_;
  SysIo& sys_;
  ControlConnection& control_;
  DataRoute route_;
  TlsClient* tls_ = nullptr;
  bool epsv_refused_ = false;
  std::optional<Tcp::acceptor> acceptor_;
  std::string connecting_to_;  // a passive connection started and not yet finished
};

}  // namespace pullwire::ftp
