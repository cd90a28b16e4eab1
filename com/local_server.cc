// The local-server loop: one thread polling the listening socket, a wake-up pipe and every
// connection; requests are carried out by each connection's own object on that thread, in order.
#include "com/local_server.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "com/error_info.h"
#include "com/server_lock.h"
#include "com/unix_socket.h"
#include "com/wire_protocol.h"

namespace pullwire::com {
namespace {

constexpr std::size_t kMaxConnections = 128;
constexpr std::size_t kMaxPendingOutput = 4 * kMaxFrameBytes;  // a client that sends but never reads
// How long the server lets posts gather after serving some (see Serve).
constexpr int kPostGatheringMs = 5;

std::string Errno() { return std::strerror(errno); }

// A reply the wire cannot carry (a result it has no type for, or too long) becomes a failure.
std::string EncodeReplyFrame(const InvokeReply& reply, const std::string& prog_id) {
  try {
    return Frame(EncodeReply(reply));
  } catch (const ProtocolError& e) {
    return Frame(EncodeReply(InvokeReply{E_FAIL, {}, ErrorRecord{E_FAIL, e.what(), prog_id}}));
  }
}

struct Connection {
  UniqueFd fd;
  ComPtr<IDispatch> object;
  FrameReader reader;
  std::string output;
};

}  // namespace

struct LocalServer::Impl {
  UniqueFd listener;
  UniqueFd lock;
  UniqueFd wake_read;
  std::list<Connection> connections;
  std::mutex join_mutex;
  std::size_t posts = 0;    // served in the current pass
  std::size_t replies = 0;  // queued in the current pass

  void Serve(LocalServer& server);
  void Accept(LocalServer& server);
  bool Receive(Connection& c, const std::string& prog_id);  // false: close it
  static bool Flush(Connection& c);                           // false: close it
  // The reply to one request, none for a post; throws ProtocolError for a request it cannot read.
  static std::optional<InvokeReply> Answer(IDispatch& object, std::string_view body, const std::string& prog_id);
  static InvokeReply Call(IDispatch& object, InvokeRequest& request, const std::string& prog_id);
};

LocalServer::LocalServer(std::string prog_id, Factory factory)
    : prog_id_(std::move(prog_id)), factory_(std::move(factory)), impl_(std::make_unique<Impl>()) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    impl_->wake_read = UniqueFd(fds[0]);
    wake_write_fd_ = fds[1];
  }
}

LocalServer::~LocalServer() {
  Stop();
  if (wake_write_fd_ >= 0) close(wake_write_fd_);
}

HRESULT LocalServer::Start() {
  std::lock_guard join_lock(impl_->join_mutex);
  if (thread_.joinable()) return ReportFailure(E_UNEXPECTED, fmt::format("{} is already serving", prog_id_), prog_id_);
  if (wake_write_fd_ < 0) return ReportFailure(E_FAIL, "cannot create the server's wake-up pipe", prog_id_);
  if (const HRESULT hr = LocalServerSocketPath(prog_id_, /*create_folder=*/true, &socket_path_); Failed(hr)) return hr;
  const std::string path = socket_path_.string();

  // The lock decides who serves: it outlives no process, so a socket file found while we
  // hold it was left by a server that died.
  UniqueFd lock = TakeServerLock(path + ".lock", /*create=*/true);
  if (!lock && errno != EWOULDBLOCK) {
    return ReportFailure(E_FAIL, fmt::format("cannot open {}.lock: {}", path, Errno()), prog_id_);
  }
  if (!lock) {
    return ReportFailure(E_ACCESSDENIED, fmt::format("another server already serves {} on {}", prog_id_, path),
                         prog_id_);
  }
  // From here on a failure gives the lock up again, and its file with it.
  const auto fail = [&](HRESULT hr, const std::string& description) {
    ReleaseServerLock(socket_path_, lock);
    return ReportFailure(hr, description, prog_id_);
  };
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      return fail(E_ACCESSDENIED, fmt::format("{} exists and is not a socket; not replacing it", path));
    }
    UniqueFd probe;
    if (ConnectUnix(socket_path_, Clock::now() + std::chrono::milliseconds(200), &probe).ok()) {
      return fail(E_ACCESSDENIED, fmt::format("another server already listens on {}", path));
    }
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
      return fail(E_FAIL, fmt::format("cannot remove the stale socket {}: {}", path, Errno()));
    }
  }

  UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (!listener || bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    return fail(E_FAIL, fmt::format("cannot listen on {}: {}", path, Errno()));
  }
  if (chmod(path.c_str(), 0600) != 0 || listen(listener.get(), 64) != 0) {
    const std::string why = Errno();
    unlink(path.c_str());
    return fail(E_FAIL, fmt::format("cannot listen on {}: {}", path, why));
  }

  char drain[64];
  while (read(impl_->wake_read.get(), drain, sizeof(drain)) > 0) {
  }
  impl_->listener = std::move(listener);
  impl_->lock = std::move(lock);
  running_ = true;
  try {
    thread_ = std::thread([this] { impl_->Serve(*this); });
  } catch (const std::system_error& e) {
    running_ = false;
    unlink(path.c_str());
    impl_->listener.Reset();
    ReleaseServerLock(socket_path_, impl_->lock);
    return ReportFailure(E_FAIL, fmt::format("cannot start the server thread: {}", e.what()), prog_id_);
  }
  return S_OK;
}

void LocalServer::RequestStop() noexcept {
  if (wake_write_fd_ >= 0) {
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = write(wake_write_fd_, &byte, 1);  // a full pipe is already a request
  }
}

void LocalServer::Stop() {
  RequestStop();
  Wait();
}

void LocalServer::Wait() {
  if (std::this_thread::get_id() == thread_.get_id()) return;  // an object asked: RequestStop is enough
  std::lock_guard join_lock(impl_->join_mutex);
  if (thread_.joinable()) thread_.join();
}

void LocalServer::Impl::Serve(LocalServer& server) {
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    fds.push_back({wake_read.get(), POLLIN, 0});
    fds.push_back({listener.get(), POLLIN, 0});
    for (const Connection& c : connections) {
      fds.push_back({c.fd.get(), static_cast<short>(POLLIN | (c.output.empty() ? 0 : POLLOUT)), 0});
    }
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) break;
    posts = replies = 0;
    std::size_t index = 2;
    for (auto it = connections.begin(); it != connections.end(); ++index) {
      const short events = fds[index].revents;
      bool keep = true;
      try {
        if (events & (POLLIN | POLLHUP | POLLERR)) keep = Receive(*it, server.prog_id_);
        if (keep && !it->output.empty()) keep = Flush(*it);
      } catch (...) {
        keep = false;  // out of memory for this client's request: give it up, keep serving
      }
      it = keep ? std::next(it) : connections.erase(it);
    }
    if (fds[1].revents & POLLIN) Accept(server);
    // Posts come in streams (a run's messages, a few for every file) and nobody waits for them:
    // letting the next ones gather for a moment wakes this thread every few milliseconds rather
    // than once for every post, which would cost the sender a context switch each time.
    if (posts > 0 && replies == 0) {
      pollfd wake{wake_read.get(), POLLIN, 0};
      if (poll(&wake, 1, kPostGatheringMs) > 0) break;
    }
  }
  // Objects are released here, on the thread that served them.
  connections.clear();
  unlink(server.socket_path_.c_str());
  listener.Reset();
  ReleaseServerLock(server.socket_path_, lock);
  server.running_ = false;
}

void LocalServer::Impl::Accept(LocalServer& server) {
  for (;;) {
    UniqueFd fd(accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) return;  // EAGAIN: none left; other errors concern that one client only
    if (connections.size() >= kMaxConnections) continue;  // closed at once: the client sees it fail
    ComPtr<IDispatch> object;
    try {
      object = server.factory_();
    } catch (...) {
    }
    if (object) connections.push_back(Connection{std::move(fd), std::move(object), {}, {}});
  }
}

bool LocalServer::Impl::Receive(Connection& c, const std::string& prog_id) {
  char buffer[16384];
  bool ended = false;  // end of stream: answer what came before it, then close
  for (;;) {
    const ssize_t n = recv(c.fd.get(), buffer, sizeof(buffer), 0);
    if (n > 0) {
      c.reader.Append(std::string_view(buffer, static_cast<std::size_t>(n)));
      // A short read took all there was (the next poll tells when more comes); a long backlog is
      // answered as far as it is complete first.
      if (static_cast<std::size_t>(n) < sizeof(buffer) || c.reader.pending() > kMaxFrameBytes + 4) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0) return false;  // a broken connection
    ended = true;
    break;
  }
  try {
    while (auto body = c.reader.Next()) {
      if (const auto reply = Answer(*c.object.get(), *body, prog_id)) {
        c.output += EncodeReplyFrame(*reply, prog_id);
        ++replies;
      } else {
        ++posts;
      }
      if (c.output.size() > kMaxPendingOutput) return false;
    }
  } catch (const ProtocolError&) {
    return false;  // a frame it cannot read: where the next one begins is unknown
  }
  if (ended) Flush(c);
  return !ended;
}

bool LocalServer::Impl::Flush(Connection& c) {
  while (!c.output.empty()) {
    const ssize_t n = send(c.fd.get(), c.output.data(), c.output.size(), MSG_NOSIGNAL);
    if (n > 0) {
      c.output.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
  return true;
}

std::optional<InvokeReply> LocalServer::Impl::Answer(IDispatch& object, std::string_view body,
                                                     const std::string& prog_id) {
  InvokeRequest request = DecodeRequest(body);
  if (request.op == RequestOp::kSync) return InvokeReply{};  // all before it is done by now
  InvokeReply reply = Call(object, request, prog_id);
  if (request.op == RequestOp::kPost) return std::nullopt;
  return reply;
}

InvokeReply LocalServer::Impl::Call(IDispatch& object, InvokeRequest& request, const std::string& prog_id) {
  const auto fail = [&](HRESULT hr, std::string fallback) {
    return InvokeReply{hr, {}, GetErrorInfo().value_or(ErrorRecord{hr, std::move(fallback), prog_id})};
  };
  GetErrorInfo();  // a record left over from an earlier call must not pass for this one's
  DispId id = kDispIdUnknown;
  HRESULT hr = object.GetIDsOfNames(request.member, &id);
  if (Failed(hr)) return fail(hr, fmt::format("{} has no member {}", prog_id, request.member));
  Variant result;
  try {
    hr = object.Invoke(id, InvokeKind::kMethod, request.args, &result);
  } catch (const std::exception& e) {
    return fail(E_FAIL, fmt::format("{} failed: {}", request.member, e.what()));
  } catch (...) {
    return fail(E_UNEXPECTED, fmt::format("{} failed", request.member));
  }
  if (Failed(hr)) return fail(hr, fmt::format("{} failed (0x{:08X})", request.member, static_cast<std::uint32_t>(hr)));
  return InvokeReply{hr, std::move(result), std::nullopt};
}

}  // namespace pullwire::com
