// The control connection: sends commands and reads complete replies, every wait bounded by the
// operation time-out. Bytes after a reply stay buffered for the next one; a 421, an unreadable
// or over-long reply and a lost connection are handled here, once, by closing the connection.
// Asio connects the socket (and speaks SOCKS on it); commands and replies then go through the
// SysIo seam with poll() for the deadline, which costs fewer system calls per reply, or through
// TLS once Secure() has run.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ftp/deadline.h"
#include "ftp/errors.h"
#include "ftp/net_io.h"
#include "ftp/reply.h"
#include "ftp/sys_io.h"
#include "ftp/tls_stream.h"
#include "ftp/trace.h"

namespace pullwire::ftp {

class ControlConnection {
 public:
  ControlConnection(NetIo& net, SysIo& sys) : net_(net), sys_(sys), socket_(net.context()) {}
  ControlConnection(const ControlConnection&) = delete;
  ControlConnection& operator=(const ControlConnection&) = delete;

  void set_timeout(Milliseconds timeout) { timeout_ = timeout; }
  Milliseconds timeout() const { return timeout_; }
  void set_trace(TraceHandler trace) { trace_ = std::move(trace); }

  // The socket to connect (directly or through a proxy) before the first Read.
  Tcp::socket& socket() { return socket_; }
  bool is_open() const { return socket_.is_open(); }
  // What this session's waits watch for the host's request to stop.
  CancelWatch& cancel() { return net_.cancel(); }
  SysIo& sys() { return sys_; }
  int native_handle() { return socket_.native_handle(); }
  // Forgets buffered bytes, ends TLS and closes the socket; the session is over.
  void Close();

  // Shakes hands over the connected socket within the reply time-out; from then on commands
  // and replies travel inside `stream`. `peer` names the server in errors. On failure the
  // connection is closed and FtpError thrown (kCertificateRejected, kTlsFailed, kTimedOut).
  void Secure(std::unique_ptr<TlsStream> stream, const std::string& peer);
  bool secured() const { return tls_ != nullptr; }

  // Starts reading the greeting: the first reply is awaited as `what` ("greeting from ...").
  void ExpectGreeting(const std::string& what);

  // Sends `command` CRLF and restarts the reply deadline. `shown` replaces the command in
  // traces and errors when it holds a secret ("PASS ****"). A command holding CR or LF is
  // refused (kInvalidValue): it would smuggle a second command.
  void Send(const std::string& command, std::string_view shown = {});

  // Sends a command before the reply to the previous one has been read (pipelining), for the
  // passive-mode request of the next file while the last one's 226 is on its way. Its reply is
  // read with TakeAhead(); any other Send first reads and drops it.
  void SendAhead(const std::string& command);
  // The command sent ahead whose reply is still unread, or "".
  const std::string& ahead() const { return ahead_; }
  Reply TakeAhead();

  // Reads the next complete reply before the reply deadline.
  Reply Read();
  // Send, then Read.
  Reply Command(const std::string& command, std::string_view shown = {});

  // Restarts the reply deadline without sending (after a transfer's data has ended).
  void RestartDeadline() { deadline_ = Deadline::After(timeout_); }
  const Deadline& deadline() const { return deadline_; }
  // The verb of the last command, for messages ("RETR").
  const std::string& last_verb() const { return last_verb_; }

  // A line for the trace: '>' a command sent, '<' a reply line, '!' an event of the session.
  void Trace(char direction, std::string_view line);

  // For the data loop, which watches this socket with poll(): takes in what has arrived without
  // waiting (false when the server closed the connection) and hands out a buffered reply.
  bool TakeAvailable();
  std::optional<Reply> BufferedReply();

 private:
  [[noreturn]] void Fail(ErrorCode code, const std::string& description);
  // Waits for `events` on the socket until the reply deadline; false when it passed.
  bool WaitFor(short events);
  void MakeNonBlocking();
  void WriteLine(const std::string& command);
  // Appends what the connection holds to in_: > 0 bytes, 0 at its end, -1 with errno. Over
  // TLS it reads until nothing is left, so that no reply waits inside OpenSSL unseen by poll().
  ssize_t Receive();
  // What a failed read or send meant ("Connection reset by peer", "TLS: bad record mac").
  std::string FailureText(int error_number) const;

  NetIo& net_;
  SysIo& sys_;
  Tcp::socket socket_;
  Milliseconds timeout_{60000};
  Deadline deadline_ = Deadline::After(Milliseconds(60000));
  std::string waiting_for_ = "reply";  // "reply to RETR", "greeting from ..."
  std::string last_verb_;
  std::string ahead_;
  std::string in_;
  TraceHandler trace_;
  bool non_blocking_ = false;
  std::unique_ptr<TlsStream> tls_;
};

}  // namespace pullwire::ftp
