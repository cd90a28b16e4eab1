// TLS on one non-blocking socket (RFC 4217: the client side, also on active-mode data
// connections): the handshake, and reads and writes that behave like read(2) and send(2) on a
// non-blocking socket, so that the engine's loops and poll() waits serve both kinds alike.
#pragma once

#include <openssl/ssl.h>
#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "ftp/deadline.h"
#include "ftp/server_name.h"
#include "ftp/sys_io.h"

namespace pullwire::ftp {

class TlsClient;

// What certificate verification saw, for the error text and the pin check. Filled by the
// verify callback of TlsClient.
struct CertificateNotes {
  const ServerName* server = nullptr;
  TlsClient* client = nullptr;   // keeps the sessions the server issues
  std::string names;             // the certificate's DNS names and addresses, or its CN
  std::optional<Sha256> digest;  // SHA-256 over the certificate
};

class TlsStream {
 public:
  // Takes ownership of `ssl`, already bound to the socket.
  TlsStream(SSL* ssl, CertificateNotes notes);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  enum class Progress { kDone, kWaiting };
  // One step of the client handshake; kWaiting: poll for WantedEvents() and call again. Throws
  // FtpError kCertificateRejected (with the reason: "certificate is for a, b, not c") or
  // kTlsFailed, naming `peer` ("ftpes://name port 21", "the data connection").
  Progress HandshakeStep(const std::string& peer);
  // The whole handshake within `deadline` (kTimedOut when it passes).
  void Handshake(SysIo& sys, const Deadline& deadline, const std::string& peer);

  // Like read(2): > 0 bytes (as many as are there, up to `size`), 0 at the end (the peer's
  // close_notify), -1 with errno: EAGAIN when more must arrive (poll for WantedEvents()),
  // EPROTO or the socket's error otherwise (failure() says what).
  ssize_t Read(void* data, std::size_t size);
  // Like send(2), but all or nothing: after EAGAIN, call again with the same bytes.
  ssize_t Write(const void* data, std::size_t size);
  // POLLIN, or POLLOUT while a record waits to be sent.
  short WantedEvents() const { return wanted_; }
  // Bytes OpenSSL holds already: a poll() on the socket would not see them.
  bool HasPending() const { return SSL_has_pending(ssl_) == 1; }
  // Sends close_notify without waiting for the peer's.
  void Close();
  // Why the last Read or Write failed; "" when it did not.
  const std::string& failure() const { return failure_; }
  // "TLSv1.3, TLS_AES_128_GCM_SHA256, session resumed" for traces.
  std::string Describe() const;

 private:
  // SSL_get_error for `result` (`system_error`: errno right after the call), errno set as the
  // socket calls set it; -1 or 0 for the caller.
  ssize_t Failed(int result, int system_error);

  SSL* ssl_;
  CertificateNotes notes_;
  short wanted_ = POLLIN;
  std::string failure_;
  std::optional<std::pair<ssize_t, int>> deferred_;  // a Read's end or failure, with its errno
};

// Where TlsClient's callbacks find a stream's notes.
int CertificateNotesIndex();

}  // namespace pullwire::ftp
