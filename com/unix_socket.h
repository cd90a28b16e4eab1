// Unix stream sockets with deadlines, for the local-server client and server (internal).
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace pullwire::com {

using Clock = std::chrono::steady_clock;

// An owned file descriptor, closed on destruction.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void Reset();

 private:
  int fd_ = -1;
};

enum class IoStatus { kOk, kTimedOut, kClosed, kFailed };

struct IoResult {
  IoStatus status = IoStatus::kOk;
  std::string error;  // what failed, for the error record
  bool ok() const { return status == IoStatus::kOk; }
};

// Connects a non-blocking socket to `path` by `deadline`. kClosed when nothing listens there
// (no file, or connection refused); kTimedOut when the server's backlog stays full.
IoResult ConnectUnix(const std::filesystem::path& path, Clock::time_point deadline, UniqueFd* fd);

// Writes all of `bytes` by `deadline` (no SIGPIPE; a peer that went away is kClosed).
IoResult SendAll(int fd, std::string_view bytes, Clock::time_point deadline);

// Reads one frame body by `deadline`; kFailed for an oversized frame. Bytes after the frame are
// not kept: the server sends one reply per call or flush and nothing unasked.
IoResult ReadFrame(int fd, Clock::time_point deadline, std::string* body);

}  // namespace pullwire::com
