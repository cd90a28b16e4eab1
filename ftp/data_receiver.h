// The receive loop of a transfer: moves the data connection's bytes into a sink (by splice
// socket -> pipe -> file where it can, else through one large buffer; over TLS decrypted into
// that buffer, many records per write) while watching the control
// connection, so that a refusal such as "426 Transfer aborted" ends the wait at once and a 226
// that arrives before the last data is kept until the data's end-of-file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ftp/control_connection.h"
#include "ftp/data_sink.h"
#include "ftp/sys_io.h"
#include "ftp/tls_stream.h"
#include "ftp/transfer_progress.h"

namespace pullwire::ftp {

// Reused across the transfers of a session: no allocation per file.
class ReceiveBuffers {
 public:
  ReceiveBuffers() = default;
  ReceiveBuffers(const ReceiveBuffers&) = delete;
  ReceiveBuffers& operator=(const ReceiveBuffers&) = delete;
  ~ReceiveBuffers() { ClosePipe(); }

  char* buffer();
  // The pipe for splicing, created on first use; false when splice cannot be used here.
  bool EnsurePipe();
  void ClosePipe();
  int pipe_read() const { return pipe_[0]; }
  int pipe_write() const { return pipe_[1]; }

  bool splice_enabled = true;

 private:
  std::vector<char> buffer_;
  int pipe_[2] = {-1, -1};
};

inline constexpr std::size_t kReceiveChunk = 1 << 20;
// A transfer that receives less than this in any time-out-long window has stalled: a trickle of
// a byte a second must not keep it alive for days.
inline constexpr std::int64_t kStallBytes = 1024;

// Moves what a non-blocking data socket holds into a sink: by splice socket -> pipe -> file where
// the sink takes it, else through the buffer; with `tls` (the socket's stream) always through the
// buffer. Several pumps may share one ReceiveBuffers on one thread: each step leaves the pipe
// empty.
class DataPump {
 public:
  DataPump(SysIo& sys, DataSink& sink, ReceiveBuffers& buffers, TlsStream* tls = nullptr);
  // One read from `data_fd`: the bytes moved (> 0), 0 at the end of the data, -1 with errno set
  // (EAGAIN: nothing there yet). Sink failures throw FtpError.
  ssize_t Step(int data_fd);

 private:
  void SpliceOut(std::size_t size);

  SysIo& sys_;
  DataSink& sink_;
  ReceiveBuffers& buffers_;
  TlsStream* tls_;
  bool splicing_ = false;
};

enum class ReceiveEnd {
  kEof,            // the server closed the data connection
  kReset,          // the data connection failed (`error_number`)
  kIdleTimeout,    // less than kStallBytes within the operation time-out (`window_bytes`)
  kServerRefused,  // a 4xx/5xx reply arrived on the control connection (`reply`)
  kControlLost,    // the control connection closed
};

struct ReceiveResult {
  ReceiveEnd end = ReceiveEnd::kEof;
  std::int64_t bytes = 0;
  int error_number = 0;
  std::string error_text;            // kReset: what `error_number` meant ("TLS: bad record mac")
  std::int64_t window_bytes = 0;     // kIdleTimeout: what the last window received
  std::optional<Reply> preliminary;  // the first 1xx reply, if it arrived during the data
  std::optional<Reply> reply;        // the final reply, if it arrived during the data
};

// The data socket must be non-blocking; `tls` is its stream when it has one. The transfer
// command may still await its 1xx reply: the loop takes it from the control connection as it
// comes. Sink failures propagate as FtpError. `progress`, when given, hears of every chunk with
// the clock reading the loop makes anyway.
ReceiveResult ReceiveData(SysIo& sys, int data_fd, TlsStream* tls, ControlConnection& control,
                          DataSink& sink, Milliseconds idle_timeout, ReceiveBuffers& buffers,
                          ProgressMeter* progress = nullptr);

}  // namespace pullwire::ftp
