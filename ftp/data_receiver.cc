// Moving a data connection's bytes into a sink, with the control connection watched on the side.
#include "ftp/data_receiver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pullwire::ftp {
namespace {

enum class Woken { kData, kTimeout };

// Data that keeps coming never lets the loop wait, where the host's stop is watched: it is
// looked at this often in between.
constexpr Milliseconds kCancelCheckInterval{100};

class Receiver {
 public:
  Receiver(SysIo& sys, int data_fd, TlsStream* tls, ControlConnection& control, DataSink& sink,
           Milliseconds idle_timeout, ReceiveBuffers& buffers, ProgressMeter* progress)
      : sys_(sys), data_fd_(data_fd), tls_(tls), control_(control), sink_(sink),
        idle_timeout_(idle_timeout), pump_(sys, sink, buffers, tls), progress_(progress) {}

  ReceiveResult Run();

 private:
  // Looks at the control connection; true when the transfer ends by the server's reply.
  bool CheckControl();
  Woken Wait();

  SysIo& sys_;
  int data_fd_;
  TlsStream* tls_;
  ControlConnection& control_;
  DataSink& sink_;
  Milliseconds idle_timeout_;
  DataPump pump_;
  ProgressMeter* progress_;
  bool control_closed_ = false;
  // The current window: it ends at `window_` unless kStallBytes arrive in it, which starts the
  // next one. Control chatter does not count.
  Deadline window_;
  std::int64_t window_bytes_ = 0;
  Clock::time_point cancel_check_at_;
  ReceiveResult result_;
};

bool Receiver::CheckControl() {
  while (!result_.reply) {
    std::optional<Reply> reply = control_.BufferedReply();
    if (!reply) return false;
    if (reply->Preliminary()) {
      if (!result_.preliminary) result_.preliminary = std::move(reply);
      continue;
    }
    result_.reply = std::move(reply);
    if (result_.reply->Refusal()) {
      result_.end = ReceiveEnd::kServerRefused;
      return true;
    }
  }
  return false;
}

Woken Receiver::Wait() {
  pollfd fds[2] = {{data_fd_, tls_ != nullptr ? tls_->WantedEvents() : short{POLLIN}, 0},
                   {control_.native_handle(), POLLIN, 0}};
  const bool watch_control = !result_.reply && !control_closed_;
  const int ready = PollUntil(sys_, fds, watch_control ? 2 : 1, window_, control_.cancel());
  if (ready == 0) return Woken::kTimeout;
  // Data or a reply is there, or the poll failed and the next read reports it.
  if (ready > 0 && watch_control && fds[1].revents != 0 && !control_.TakeAvailable()) {
    control_closed_ = true;
  }
  return Woken::kData;
}

ReceiveResult Receiver::Run() {
  window_ = Deadline::After(idle_timeout_);
  while (true) {
    const ssize_t got = pump_.Step(data_fd_);
    if (got > 0) {
      result_.bytes += got;
      window_bytes_ += got;
      if (window_bytes_ >= kStallBytes || progress_ != nullptr) {
        const Clock::time_point now = Clock::now();
        if (window_bytes_ >= kStallBytes) {
          window_ = Deadline{now + idle_timeout_, idle_timeout_};
          window_bytes_ = 0;
        }
        if (now >= cancel_check_at_) {
          control_.cancel().Check(sys_);
          cancel_check_at_ = now + kCancelCheckInterval;
        }
        if (progress_ != nullptr) progress_->Advance(result_.bytes, now, result_.preliminary);
      }
      continue;
    }
    if (got == 0) {
      sink_.Finish();
      CheckControl();
      result_.end = ReceiveEnd::kEof;
      return result_;
    }
    const int error = errno;
    if (error == EINTR) continue;
    if (error != EAGAIN && error != EWOULDBLOCK) {
      result_.end = ReceiveEnd::kReset;
      result_.error_number = error;
      result_.error_text = tls_ != nullptr && !tls_->failure().empty() ? tls_->failure()
                                                                        : std::strerror(error);
      return result_;
    }
    if (CheckControl()) return result_;
    if (control_closed_ && !result_.reply) {
      result_.end = ReceiveEnd::kControlLost;
      return result_;
    }
    if (Wait() == Woken::kTimeout) {
      result_.end = ReceiveEnd::kIdleTimeout;
      result_.window_bytes = window_bytes_;
      return result_;
    }
  }
}

}  // namespace

DataPump::DataPump(SysIo& sys, DataSink& sink, ReceiveBuffers& buffers, TlsStream* tls)
    : sys_(sys), sink_(sink), buffers_(buffers), tls_(tls) {
  splicing_ = tls_ == nullptr && sink_.SpliceTarget() >= 0 && buffers_.splice_enabled &&
              buffers_.EnsurePipe();
}

ssize_t DataPump::Step(int data_fd) {
  if (tls_ != nullptr) {
    const ssize_t got = tls_->Read(buffers_.buffer(), kReceiveChunk);
    if (got > 0) sink_.Write(buffers_.buffer(), static_cast<std::size_t>(got));
    return got;
  }
  while (true) {
    const ssize_t got =
        splicing_ ? sys_.Splice(data_fd, buffers_.pipe_write(), kReceiveChunk,
                                SPLICE_F_MOVE | SPLICE_F_NONBLOCK)
                  : sys_.Read(data_fd, buffers_.buffer(), kReceiveChunk);
    if (got > 0) {
      if (splicing_) {
        SpliceOut(static_cast<std::size_t>(got));
      } else {
        sink_.Write(buffers_.buffer(), static_cast<std::size_t>(got));
      }
      return got;
    }
    if (got < 0 && splicing_ && errno == EINVAL) {
      // The socket takes no splice: read() from now on.
      splicing_ = false;
      buffers_.splice_enabled = false;
      continue;
    }
    return got;
  }
}

void DataPump::SpliceOut(std::size_t size) {
  while (size > 0) {
    const ssize_t moved = sys_.Splice(buffers_.pipe_read(), sink_.SpliceTarget(), size,
                                      SPLICE_F_MOVE);
    if (moved > 0) {
      size -= static_cast<std::size_t>(moved);
      continue;
    }
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0 && errno == EINVAL) {
      // The file system takes no splice: empty the pipe through the buffer, then read().
      splicing_ = false;
      buffers_.splice_enabled = false;
      while (size > 0) {
        const ssize_t got = sys_.Read(buffers_.pipe_read(), buffers_.buffer(),
                                      std::min(size, kReceiveChunk));
        if (got <= 0) sink_.SpliceFailed(got == 0 ? EIO : errno);
        sink_.Write(buffers_.buffer(), static_cast<std::size_t>(got));
        size -= static_cast<std::size_t>(got);
      }
      return;
    }
    sink_.SpliceFailed(moved == 0 ? ENOSPC : errno);
  }
}

char* ReceiveBuffers::buffer() {
  if (buffer_.empty()) buffer_.resize(kReceiveChunk);
  return buffer_.data();
}

bool ReceiveBuffers::EnsurePipe() {
  if (pipe_[0] >= 0) return true;
  if (::pipe2(pipe_, O_CLOEXEC) != 0) {
    pipe_[0] = pipe_[1] = -1;
    splice_enabled = false;
    return false;
  }
  // A larger pipe moves more per splice; the default of 64 KiB works too.
  ::fcntl(pipe_[1], F_SETPIPE_SZ, static_cast<int>(kReceiveChunk));
  return true;
}

void ReceiveBuffers::ClosePipe() {
  for (int& fd : pipe_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

ReceiveResult ReceiveData(SysIo& sys, int data_fd, TlsStream* tls, ControlConnection& control,
                          DataSink& sink, Milliseconds idle_timeout, ReceiveBuffers& buffers,
                          ProgressMeter* progress) {
  Receiver receiver(sys, data_fd, tls, control, sink, idle_timeout, buffers, progress);
  try {
    return receiver.Run();
  } catch (...) {
    // A failed splice may leave bytes in the pipe; the next transfer gets a fresh one.
    buffers.ClosePipe();
    throw;
  }
}

}  // namespace pullwire::ftp
