// The handshake, reads and writes of one TLS connection, and the words for their failures.
#include "ftp/tls_stream.h"

#include <fmt/format.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "ftp/errors.h"

namespace pullwire::ftp {
namespace {

struct QueuedError {
  bool unexpected_eof = false;  // the TCP connection ended without close_notify
  std::string reason;           // "wrong version number"; "" when the queue was empty
};

// The oldest error in OpenSSL's queue; the queue is emptied, so that the next call's
// SSL_get_error is not misled by it.
QueuedError TakeQueuedError() {
  const unsigned long error = ERR_get_error();
  ERR_clear_error();
  if (error == 0) return {};
  const char* reason = ERR_reason_error_string(error);
  return {ERR_GET_LIB(error) == ERR_LIB_SSL &&
              ERR_GET_REASON(error) == SSL_R_UNEXPECTED_EOF_WHILE_READING,
          reason != nullptr ? reason : fmt::format("OpenSSL error {:#x}", error)};
}

std::string RejectionReason(long verify, const CertificateNotes& notes) {
  const std::string fingerprint = notes.digest ? FingerprintText(*notes.digest) : "unknown";
  switch (verify) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return fmt::format("certificate is for {}, not {}",
                         notes.names.empty() ? "no name" : notes.names,
                         PrintableText(notes.server->name, 255));
    case X509_V_ERR_APPLICATION_VERIFICATION:
      return fmt::format("its SHA-256 fingerprint is {}, not the pinned {}", fingerprint,
                         FingerprintText(*notes.server->pinned));
    default:
      return fmt::format("certificate verify failed: {} (SHA-256 fingerprint {})",
                         X509_verify_cert_error_string(verify), fingerprint);
  }
}

}  // namespace

int CertificateNotesIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

TlsStream::TlsStream(SSL* ssl, CertificateNotes notes) : ssl_(ssl), notes_(std::move(notes)) {
  SSL_set_ex_data(ssl_, CertificateNotesIndex(), &notes_);
}

TlsStream::~TlsStream() { SSL_free(ssl_); }

TlsStream::Progress TlsStream::HandshakeStep(const std::string& peer) {
  ERR_clear_error();
  errno = 0;
  const int result = SSL_connect(ssl_);
  const int system_error = errno;
  if (result == 1) return Progress::kDone;
  const int error = SSL_get_error(ssl_, result);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
    wanted_ = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
    return Progress::kWaiting;
  }
  const QueuedError queued = TakeQueuedError();
  const long verify = SSL_get_verify_result(ssl_);
  if (verify != X509_V_OK) {
    throw FtpError(ErrorCode::kCertificateRejected,
                   fmt::format("the certificate of {} was not accepted: {}", peer,
                               RejectionReason(verify, notes_)));
  }
  if (error == SSL_ERROR_SYSCALL || queued.unexpected_eof) {
    throw FtpError(
        ErrorCode::kTlsFailed,
        fmt::format("the TLS handshake with {} failed: the connection {}", peer,
                    system_error != 0 ? std::strerror(system_error) : "was closed by the server"));
  }
  throw FtpError(ErrorCode::kTlsFailed,
                 fmt::format("the TLS handshake with {} failed: {}", peer,
                             queued.reason.empty() ? "no reason given" : queued.reason));
}

void TlsStream::Handshake(SysIo& sys, const Deadline& deadline, const std::string& peer) {
  while (HandshakeStep(peer) == Progress::kWaiting) {
    pollfd fd{SSL_get_fd(ssl_), wanted_, 0};
    if (PollUntil(sys, &fd, 1, deadline) == 0) {
      throw FtpError(ErrorCode::kTimedOut, TimeoutText("no TLS handshake with " + peer, deadline));
    }
  }
}

ssize_t TlsStream::Failed(int result, int system_error) {
  const int error = SSL_get_error(ssl_, result);
  switch (error) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      wanted_ = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
      errno = EAGAIN;
      return -1;
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_SYSCALL:
      errno = system_error != 0 ? system_error : ECONNRESET;
      failure_ = std::strerror(errno);
      ERR_clear_error();
      return -1;
    default: {
      // Also a TCP end without close_notify: the data may have been cut short by anyone on
      // the way, so it is not taken for the end of the data.
      const QueuedError queued = TakeQueuedError();
      failure_ = queued.unexpected_eof
                     ? "the connection ended without TLS close_notify"
                     : "TLS: " + (queued.reason.empty() ? std::string("failed") : queued.reason);
      errno = EPROTO;
      return -1;
    }
  }
}

ssize_t TlsStream::Read(void* data, std::size_t size) {
  if (deferred_) {
    const auto [result, error] = *std::exchange(deferred_, std::nullopt);
    errno = error;
    return result;
  }
  auto* out = static_cast<char*>(data);
  std::size_t got = 0;
  // SSL_read returns one record (16 KiB at most) a call: gather them until the buffer is full
  // or nothing is left, so that the caller writes large pieces and no record stays inside
  // OpenSSL where poll() cannot see it.
  while (got < size) {
    ERR_clear_error();
    errno = 0;
    std::size_t read = 0;
    const int result = SSL_read_ex(ssl_, out + got, size - got, &read);
    if (result == 1) {
      got += read;
      continue;
    }
    const ssize_t end = Failed(result, errno);
    if (got == 0) return end;
    // The end or the failure is told on the next call, after these bytes.
    if (end == 0 || errno != EAGAIN) deferred_.emplace(end, errno);
    return static_cast<ssize_t>(got);
  }
  return static_cast<ssize_t>(got);
}

ssize_t TlsStream::Write(const void* data, std::size_t size) {
  ERR_clear_error();
  errno = 0;
  std::size_t written = 0;
  const int result = SSL_write_ex(ssl_, data, size, &written);
  if (result == 1) return static_cast<ssize_t>(written);
  return Failed(result, errno);
}

void TlsStream::Close() {
  ERR_clear_error();
  SSL_shutdown(ssl_);
  ERR_clear_error();
}

std::string TlsStream::Describe() const {
  return fmt::format("{}, {}{}", SSL_get_version(ssl_), SSL_get_cipher_name(ssl_),
                     SSL_session_reused(ssl_) == 1 ? ", session resumed" : "");
}

}  // namespace pullwire::ftp
