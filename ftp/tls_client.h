// The TLS side of one FTP session: an OpenSSL client context that verifies the server's
// certificate against the system's trust store (SSL_CERT_FILE and SSL_CERT_DIR honoured) and the
// server's name or address, or accepts exactly a pinned certificate; TLS 1.2 at least. Every
// data connection resumes a TLS session of the control connection's (vsftpd's require_ssl_reuse,
// and what RFC 4217 servers expect): the newest the server issued on any connection of the FTP
// session, since a TLS 1.3 ticket of a server with a session cache resumes only once.
#pragma once

#include <openssl/ssl.h>

#include <memory>

#include "ftp/server_name.h"
#include "ftp/sys_io.h"
#include "ftp/tls_stream.h"

namespace pullwire::ftp {

class TlsClient {
 public:
  // Throws FtpError kTlsFailed when OpenSSL cannot set up a context. Sockets are read and
  // written through `sys`, which must outlive this.
  TlsClient(ServerName server, SysIo& sys);
  ~TlsClient();
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  const ServerName& server() const { return server_; }

  // A stream over the connected socket `fd` (non-blocking), not yet shaken hands. A data
  // connection resumes the kept session and reads with large buffers.
  std::unique_ptr<TlsStream> ForControl(int fd);
  std::unique_ptr<TlsStream> ForData(int fd);

  // OpenSSL's new-session callback: the session to resume next.
  void Keep(SSL_SESSION* session);

 private:
  std::unique_ptr<TlsStream> MakeStream(int fd, bool control);

  ServerName server_;
  SysIo& sys_;
  SSL_CTX* context_ = nullptr;
  SSL_SESSION* session_ = nullptr;
};

}  // namespace pullwire::ftp
