// Blocking socket steps with deadlines over standalone Asio: each step starts an asynchronous
// operation and drives the io_context until it completes or the deadline passes; on expiry the
// socket is closed and the step reports asio::error::timed_out. Asio's synchronous calls cannot
// time out, so nothing here uses them.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/cancel_watch.h"
#include "ftp/deadline.h"

namespace pullwire::ftp {

using Tcp = asio::ip::tcp;

class NetIo {
 public:
  NetIo() = default;
  NetIo(const NetIo&) = delete;
  NetIo& operator=(const NetIo&) = delete;

  asio::io_context& context() { return io_; }

  // What every wait of this session watches for the host's request to stop (cancel_watch.h).
  CancelWatch& cancel() { return cancel_; }
  // Sets the descriptor to watch (-1: none); the host keeps it open while it is set.
  void set_cancel_fd(int fd);

  // An IPv4 or IPv6 literal (with or without brackets) is used as it stands; a name is looked up
  // (LookUpHost, no thread) within the deadline. Throws FtpError kHostNotFound or kTimedOut.
  // Every step here throws kCancelled when the host asks to stop while it waits.
  std::vector<Tcp::endpoint> Resolve(const std::string& host, std::uint16_t port,
                                     const Deadline& deadline);

  // Tries the endpoints in order until one accepts, all within one deadline; returns the last
  // error (timed_out when the deadline passed).
  asio::error_code Connect(Tcp::socket& socket, const std::vector<Tcp::endpoint>& endpoints,
                           const Deadline& deadline);

  // Reads what is there (at least one byte); `read` is 0 with asio::error::eof at the end.
  asio::error_code ReadSome(Tcp::socket& socket, char* data, std::size_t size,
                            const Deadline& deadline, std::size_t& read);

  asio::error_code WriteAll(Tcp::socket& socket, std::string_view data, const Deadline& deadline);

  asio::error_code Accept(Tcp::acceptor& acceptor, Tcp::socket& socket, const Deadline& deadline);

 private:
  // Runs handlers until `done` or `cancelled` or the deadline; false when the deadline passed.
  bool RunUntil(const bool& done, const bool& cancelled, const Deadline& deadline);
  // Completes cancelled operations so that no handler outlives the step that started it.
  void Drain();
  // One step: `start` begins the operation with the given completion handler; this drives it to
  // completion or the deadline, closing `closeable` on expiry. `bytes` receives the byte count.
  template <typename Closeable, typename Start>
  asio::error_code Await(Closeable& closeable, const Deadline& deadline, std::size_t* bytes, Start start);

  asio::io_context io_;
  CancelWatch cancel_;
  // A duplicate of the cancel descriptor that Asio's own waits watch.
  std::optional<asio::posix::stream_descriptor> cancel_descriptor_;
};

// Parses an IPv4 or IPv6 literal, "[::1]" included; nullopt for a host name.
std::optional<asio::ip::address> ParseAddress(std::string_view host);

// "127.0.0.1 port 21", "::1 port 2121", "ftp.example.org port 21" for messages.
std::string HostPortText(std::string_view host, std::uint16_t port);

}  // namespace pullwire::ftp
