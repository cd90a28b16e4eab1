// Asio operations driven to completion or deadline on the caller's thread.
#include "ftp/net_io.h"

#include <fcntl.h>
#include <fmt/format.h>

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <memory>

#include "ftp/errors.h"
#include "ftp/resolver.h"

namespace pullwire::ftp {
namespace {

// Handlers own their result through this, so that a handler that runs late (a resolve that
// timed out) writes into state nobody reads instead of into a finished caller's stack.
struct OpState {
  bool done = false;
  asio::error_code error;
  std::size_t bytes = 0;
};

// The completion handler of every step: connect and accept pass no byte count.
struct Completion {
  std::shared_ptr<OpState> state;
  void operator()(const asio::error_code& error, std::size_t bytes = 0) const {
    state->done = true;
    state->error = error;
    state->bytes = bytes;
  }
};

}  // namespace

template <typename Closeable, typename Start>
asio::error_code NetIo::Await(Closeable& closeable, const Deadline& deadline, std::size_t* bytes,
                              Start start) {
  const Completion completion{std::make_shared<OpState>()};
  const Completion cancel{std::make_shared<OpState>()};
  const bool watching = cancel_.fd() >= 0 && cancel_descriptor_;
  if (watching) {
    cancel_descriptor_->async_wait(asio::posix::descriptor_base::wait_read, cancel);
  }
  start(completion);
  const bool in_time = RunUntil(completion.state->done, cancel.state->done, deadline);
  const bool cancelled = !completion.state->done && cancel.state->done && !cancel.state->error;
  if (watching) {
    asio::error_code ignored;
    cancel_descriptor_->cancel(ignored);
  }
  if (!completion.state->done) {
    asio::error_code ignored;
    closeable.close(ignored);  // ends the operation; Drain runs its handler now
  }
  Drain();
  if (cancelled) CancelWatch::Throw();
  if (!in_time) return asio::error::timed_out;
  if (bytes != nullptr) *bytes = completion.state->bytes;
  return completion.state->error;
}

void NetIo::set_cancel_fd(int fd) {
  if (fd == cancel_.configured_fd() && (fd < 0 || cancel_descriptor_)) return;
  cancel_.set_fd(fd);
  cancel_descriptor_.reset();
  if (fd < 0) return;
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy >= 0) cancel_descriptor_.emplace(io_, copy);
}

std::optional<asio::ip::address> ParseAddress(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  asio::error_code error;
  const asio::ip::address address = asio::ip::make_address(std::string(host), error);
  if (error) return std::nullopt;
  return address;
}

std::string HostPortText(std::string_view host, std::uint16_t port) {
  return fmt::format("{} port {}", PrintableText(host, 255), port);
}

bool NetIo::RunUntil(const bool& done, const bool& cancelled, const Deadline& deadline) {
  io_.restart();
  while (!done && !cancelled) {
    if (io_.run_one_until(deadline.at) == 0 && !done && !cancelled) {
      if (Clock::now() >= deadline.at) return false;
      io_.restart();
    }
  }
  return true;
}

void NetIo::Drain() {
  io_.restart();
  io_.poll();
}

std::vector<Tcp::endpoint> NetIo::Resolve(const std::string& host, std::uint16_t port,
                                          const Deadline& deadline) {
  if (const auto address = ParseAddress(host)) return {Tcp::endpoint(*address, port)};
  return LookUpHost(host, port, deadline, cancel_);
}

asio::error_code NetIo::Connect(Tcp::socket& socket, const std::vector<Tcp::endpoint>& endpoints,
                                const Deadline& deadline) {
  asio::error_code last = asio::error::host_not_found;
  for (const Tcp::endpoint& endpoint : endpoints) {
    asio::error_code ignored;
    socket.close(ignored);
    const asio::error_code error = Await(socket, deadline, nullptr, [&](const Completion& done) {
      socket.async_connect(endpoint, done);
    });
    if (!error || error == asio::error::timed_out) return error;
    last = error;
  }
  return last;
}

asio::error_code NetIo::ReadSome(Tcp::socket& socket, char* data, std::size_t size,
                                 const Deadline& deadline, std::size_t& read) {
  read = 0;
  return Await(socket, deadline, &read, [&](const Completion& done) {
    socket.async_read_some(asio::buffer(data, size), done);
  });
}

asio::error_code NetIo::WriteAll(Tcp::socket& socket, std::string_view data,
                                 const Deadline& deadline) {
  return Await(socket, deadline, nullptr, [&](const Completion& done) {
    asio::async_write(socket, asio::buffer(data.data(), data.size()), done);
  });
}

asio::error_code NetIo::Accept(Tcp::acceptor& acceptor, Tcp::socket& socket,
                               const Deadline& deadline) {
  return Await(acceptor, deadline, nullptr, [&](const Completion& done) {
    acceptor.async_accept(socket, done);
  });
}

}  // namespace pullwire::ftp
