// c-ares lookups driven by poll() until done or the deadline.
#include "ftp/resolver.h"

#include <ares.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "ftp/errors.h"

namespace pullwire::ftp {
namespace {

struct Lookup {
  std::uint16_t port = 0;
  bool done = false;
  int status = ARES_SUCCESS;
  std::vector<Tcp::endpoint> endpoints;
};

void Collect(void* arg, int status, int /*timeouts*/, ares_addrinfo* result) {
  auto& lookup = *static_cast<Lookup*>(arg);
  lookup.done = true;
  lookup.status = status;
  if (result == nullptr) return;
  for (const ares_addrinfo_node* node = result->nodes; node != nullptr; node = node->ai_next) {
    if (node->ai_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(node->ai_addr);
      lookup.endpoints.emplace_back(asio::ip::address_v4(ntohl(in->sin_addr.s_addr)), lookup.port);
    } else if (node->ai_family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(node->ai_addr);
      asio::ip::address_v6::bytes_type bytes;
      std::memcpy(bytes.data(), &in6->sin6_addr, bytes.size());
      lookup.endpoints.emplace_back(asio::ip::address_v6(bytes, in6->sin6_scope_id), lookup.port);
    }
  }
  ares_freeaddrinfo(result);
}

// One c-ares channel for one lookup; destroying it ends what is still pending.
class Channel {
 public:
  explicit Channel(const std::string& host) {
    const int initialised = ares_library_init(ARES_LIB_INIT_ALL);
    const int status = initialised == ARES_SUCCESS ? ares_init(&channel_) : initialised;
    if (status != ARES_SUCCESS) {
      if (initialised == ARES_SUCCESS) ares_library_cleanup();
      throw FtpError(ErrorCode::kHostNotFound,
                     fmt::format("cannot look up host {}: {}", PrintableText(host),
                                 ares_strerror(status)));
    }
  }
  ~Channel() {
    ares_destroy(channel_);
    ares_library_cleanup();
  }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  ares_channel get() const { return channel_; }

  // Waits for c-ares's sockets or its next retry, at most until `deadline`, and lets it work.
  void Step(const Deadline& deadline, const CancelWatch& cancel) {
    std::array<ares_socket_t, ARES_GETSOCK_MAXNUM> sockets{};
    const int bits = ares_getsock(channel_, sockets.data(), ARES_GETSOCK_MAXNUM);
    std::array<pollfd, ARES_GETSOCK_MAXNUM + 1> fds{};
    nfds_t count = 0;
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
      const short events = static_cast<short>((ARES_GETSOCK_READABLE(bits, i) ? POLLIN : 0) |
                                              (ARES_GETSOCK_WRITABLE(bits, i) ? POLLOUT : 0));
      if (events != 0) fds[count++] = {sockets[static_cast<std::size_t>(i)], events, 0};
    }
    timeval left{};
    const auto deadline_ms = deadline.Left().count();
    left.tv_sec = static_cast<time_t>(deadline_ms / 1000);
    left.tv_usec = static_cast<suseconds_t>((deadline_ms % 1000) * 1000);
    timeval next{};
    const timeval* wait = ares_timeout(channel_, &left, &next);
    const long wait_ms = wait->tv_sec * 1000 + (wait->tv_usec + 999) / 1000;
    const nfds_t own = count;
    if (cancel.fd() >= 0) fds[count++] = {cancel.fd(), POLLIN, 0};
    const int ready = ::poll(fds.data(), count, static_cast<int>(wait_ms));
    if (count > own && fds[own].revents != 0) CancelWatch::Throw();
    if (ready <= 0) {
      // A retry due (or EINTR): c-ares resends or gives up as its own schedule says.
      ares_process_fd(channel_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
      return;
    }
    for (nfds_t i = 0; i < own; ++i) {
      const short revents = fds[i].revents;
      if (revents == 0) continue;
      const bool readable = (revents & (POLLIN | POLLERR | POLLHUP)) != 0;
      ares_process_fd(channel_, readable ? fds[i].fd : ARES_SOCKET_BAD,
                      (revents & POLLOUT) != 0 ? fds[i].fd : ARES_SOCKET_BAD);
    }
  }

 private:
  ares_channel channel_ = nullptr;
};

}  // namespace

std::vector<Tcp::endpoint> LookUpHost(const std::string& host, std::uint16_t port,
                                      const Deadline& deadline, const CancelWatch& cancel) {
  Lookup lookup;  // outlives the channel, whose end completes a pending lookup
  lookup.port = port;
  Channel channel(host);
  ares_addrinfo_hints hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // /etc/hosts answers at once, inside this call.
  ares_getaddrinfo(channel.get(), host.c_str(), nullptr, &hints, Collect, &lookup);
  while (!lookup.done) {
    if (deadline.Passed()) {
      throw FtpError(ErrorCode::kTimedOut,
                     TimeoutText(fmt::format("cannot resolve host {}", PrintableText(host)),
                                 deadline));
    }
    channel.Step(deadline, cancel);
  }
  if (lookup.status != ARES_SUCCESS || lookup.endpoints.empty()) {
    throw FtpError(ErrorCode::kHostNotFound,
                   fmt::format("host {} not found: {}", PrintableText(host),
                               lookup.status != ARES_SUCCESS ? ares_strerror(lookup.status)
                                                             : "no address"));
  }
  return lookup.endpoints;
}

}  // namespace pullwire::ftp
