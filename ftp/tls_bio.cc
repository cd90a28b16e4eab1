// The socket BIO's methods: read, write, and the few controls TLS asks of a socket.
#include "ftp/tls_bio.h"

#include <cerrno>

namespace pullwire::ftp {
namespace {

struct SocketRef {
  SysIo* sys;
  int fd;
};

SocketRef& RefOf(BIO* bio) { return *static_cast<SocketRef*>(BIO_get_data(bio)); }

bool Transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

int ReadSocket(BIO* bio, char* data, int size) {
  BIO_clear_retry_flags(bio);
  const SocketRef& ref = RefOf(bio);
  const ssize_t got = ref.sys->Read(ref.fd, data, static_cast<std::size_t>(size));
  if (got < 0 && Transient(errno)) BIO_set_retry_read(bio);
  // OpenSSL asks BIO_eof() to tell a TCP end without close_notify from a failed read.
  if (got == 0) BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
  return static_cast<int>(got);
}

int WriteSocket(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  const SocketRef& ref = RefOf(bio);
  const ssize_t sent = ref.sys->Send(ref.fd, data, static_cast<std::size_t>(size));
  if (sent < 0 && Transient(errno)) BIO_set_retry_write(bio);
  return static_cast<int>(sent);
}

long ControlSocket(BIO* bio, int command, long, void* out) {
  switch (command) {
    case BIO_CTRL_FLUSH:
      return 1;  // nothing is held back
    case BIO_CTRL_EOF:
      return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
    case BIO_C_GET_FD:  // SSL_get_fd
      if (out != nullptr) *static_cast<int*>(out) = RefOf(bio).fd;
      return RefOf(bio).fd;
    default:
      return 0;
  }
}

int DestroySocket(BIO* bio) {
  delete static_cast<SocketRef*>(BIO_get_data(bio));
  BIO_set_data(bio, nullptr);
  return 1;
}

const BIO_METHOD* SocketMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* made = BIO_meth_new(
        BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "pullwire socket");
    if (made == nullptr) return made;
    BIO_meth_set_read(made, ReadSocket);
    BIO_meth_set_write(made, WriteSocket);
    BIO_meth_set_ctrl(made, ControlSocket);
    BIO_meth_set_destroy(made, DestroySocket);
    return made;
  }();
  return method;
}

}  // namespace

BIO* NewSocketBio(SysIo& sys, int fd) {
  const BIO_METHOD* method = SocketMethod();
  if (method == nullptr) return nullptr;
  BIO* bio = BIO_new(method);
  if (bio == nullptr) return nullptr;
  BIO_set_data(bio, new SocketRef{&sys, fd});
  BIO_set_init(bio, 1);
  return bio;
}

}  // namespace pullwire::ftp
