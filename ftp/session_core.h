// The inside of a Session: its connections, buffers and protocol state. Internal to ftp/.
#pragma once

#include <memory>
#include <optional>

#include "ftp/control_connection.h"
#include "ftp/data_connection.h"
#include "ftp/data_receiver.h"
#include "ftp/net_io.h"
#include "ftp/session_options.h"
#include "ftp/sys_io.h"
#include "ftp/tls_client.h"
#include "ftp/transfer_progress.h"

namespace pullwire::ftp {

struct SessionCore {
  explicit SessionCore(SysIo& sys_io)
      : sys(sys_io), control(net, sys_io), connector(net, sys_io, control) {}

  SysIo& sys;
  NetIo net;
  std::unique_ptr<TlsClient> tls;  // of the session open now, when it asked for TLS
  ControlConnection control;
  DataConnector connector;
  ReceiveBuffers buffers;

  bool passive = true;
  TransferType type = TransferType::kAscii;  // the FTP default
  ProxySettings proxy;
  LoginParams login;  // of the session open now
  bool logged_in = false;
  std::optional<char> server_type;  // the TYPE last accepted by the server ('A', 'I', 'E')
  bool size_unsupported = false;     // SIZE answered 500/502 once: not asked again
  ProgressHandler progress;          // downloads report to it while set
  std::optional<bool> mlsd;          // listings by MLSD; unknown until FEAT was asked
  bool mlsd_unique = false;          // and they carry the "unique" fact
  std::optional<std::string> entered;  // the working folder's path as CWD or PWD gave it
};

}  // namespace pullwire::ftp
