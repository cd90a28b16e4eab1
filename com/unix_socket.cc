// Unix stream sockets with deadlines: every wait is a poll bounded by the caller's deadline.
#include "com/unix_socket.h"

#include <fmt/format.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "com/wire_protocol.h"

namespace pullwire::com {
namespace {

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 60'000 ? 60'000 : static_cast<int>(left + 1);  // round up; re-checked after each wake
}

// Waits for `events` on `fd` until `deadline`; kTimedOut when it passes first.
IoResult WaitFor(int fd, short events, Clock::time_point deadline, std::string_view what) {
  for (;;) {
    if (Clock::now() >= deadline) return {IoStatus::kTimedOut, fmt::format("timed out {}", what)};
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, MillisecondsLeft(deadline));
    if (n > 0) return {};
    if (n < 0 && errno != EINTR) {
      return {IoStatus::kFailed, fmt::format("poll failed {}: {}", what, std::strerror(errno))};
    }
  }
}

}  // namespace

void UniqueFd::Reset() {
  if (fd_ >= 0) close(std::exchange(fd_, -1));
}

IoResult ConnectUnix(const std::filesystem::path& path, Clock::time_point deadline, UniqueFd* fd) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.native().size() >= sizeof(address.sun_path)) {
    return {IoStatus::kFailed, fmt::format("socket path {} is too long", path.string())};
  }
  std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
  for (;;) {
    UniqueFd sock(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!sock) return {IoStatus::kFailed, fmt::format("cannot create a socket: {}", std::strerror(errno))};
    if (connect(sock.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
      *fd = std::move(sock);
      return {};
    }
    const int error = errno;
    if (error == ENOENT || error == ECONNREFUSED) {
      return {IoStatus::kClosed, fmt::format("cannot connect to {}: {}", path.string(), std::strerror(error))};
    }
    if (error == EINPROGRESS) {
      // Not what Unix sockets do today, but allowed: wait for the outcome.
      const IoResult r = WaitFor(sock.get(), POLLOUT, deadline, fmt::format("connecting to {}", path.string()));
      if (!r.ok()) return r;
      int so_error = 0;
      socklen_t len = sizeof(so_error);
      getsockopt(sock.get(), SOL_SOCKET, SO_ERROR, &so_error, &len);
      if (so_error == 0) {
        *fd = std::move(sock);
        return {};
      }
      return {IoStatus::kClosed, fmt::format("cannot connect to {}: {}", path.string(), std::strerror(so_error))};
    }
    if (error != EAGAIN && error != EINTR) {
      return {IoStatus::kFailed, fmt::format("cannot connect to {}: {}", path.string(), std::strerror(error))};
    }
    // EAGAIN: the listener's backlog is full; it may drain, so try again until the deadline.
    if (Clock::now() >= deadline) {
      return {IoStatus::kTimedOut,
              fmt::format("timed out connecting to {}: the server does not accept", path.string())};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

IoResult SendAll(int fd, std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (IoResult r = WaitFor(fd, POLLOUT, deadline, "sending the request"); !r.ok()) return r;
      continue;
    }
    if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) {
      return {IoStatus::kClosed, "the server closed the connection"};
    }
    return {IoStatus::kFailed, fmt::format("cannot send: {}", std::strerror(errno))};
  }
  return {};
}

IoResult ReadFrame(int fd, Clock::time_point deadline, std::string* body) {
  FrameReader reader;
  char buffer[16384];
  for (;;) {
    try {
      if (auto next = reader.Next()) {
        *body = std::move(*next);
        return {};
      }
    } catch (const ProtocolError& e) {
      return {IoStatus::kFailed, e.what()};
    }
    const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
    if (n > 0) {
      reader.Append(std::string_view(buffer, static_cast<std::size_t>(n)));
      continue;
    }
    if (n == 0) {
      return {IoStatus::kClosed, reader.pending() == 0 ? "the server closed the connection without a reply"
                                                       : "the server closed the connection in the middle of a reply"};
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (IoResult r = WaitFor(fd, POLLIN, deadline, "waiting for the reply"); !r.ok()) return r;
      continue;
    }
    if (errno == ECONNRESET) return {IoStatus::kClosed, "the server reset the connection"};
    return {IoStatus::kFailed, fmt::format("cannot receive: {}", std::strerror(errno))};
  }
}

}  // namespace pullwire::com
