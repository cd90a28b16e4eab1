// Command sending and reply reading on the control connection.
#include "ftp/control_connection.h"

#include <fmt/format.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace pullwire::ftp {
namespace {

std::string VerbOf(std::string_view command) {
  return std::string(command.substr(0, command.find(' ')));
}

}  // namespace

void ControlConnection::Close() {
  tls_.reset();
  asio::error_code ignored;
  socket_.close(ignored);
  in_.clear();
  ahead_.clear();
  non_blocking_ = false;
}

void ControlConnection::MakeNonBlocking() {
  if (non_blocking_) return;
  asio::error_code ignored;
  socket_.non_blocking(true, ignored);
  non_blocking_ = true;
}

void ControlConnection::Secure(std::unique_ptr<TlsStream> stream, const std::string& peer) {
  MakeNonBlocking();
  RestartDeadline();
  try {
    stream->Handshake(sys_, deadline_, peer);
  } catch (const FtpError&) {
    Close();
    throw;
  }
  tls_ = std::move(stream);
  Trace('!', "TLS: " + tls_->Describe());
}

std::string ControlConnection::FailureText(int error_number) const {
  if (tls_ && !tls_->failure().empty()) return tls_->failure();
  return std::strerror(error_number);
}

ssize_t ControlConnection::Receive() {
  std::array<char, 4096> chunk;
  if (!tls_) {
    const ssize_t read = sys_.Read(native_handle(), chunk.data(), chunk.size());
    if (read > 0) in_.append(chunk.data(), static_cast<std::size_t>(read));
    return read;
  }
  ssize_t total = 0;
  while (in_.size() <= FrameLimits{}.max_reply + chunk.size()) {
    const ssize_t read = tls_->Read(chunk.data(), chunk.size());
    if (read <= 0) return total > 0 ? total : read;
    in_.append(chunk.data(), static_cast<std::size_t>(read));
    total += read;
  }
  return total;
}

bool ControlConnection::WaitFor(short events) {
  pollfd fd{native_handle(), events, 0};
  // A failed poll counts as ready: the next read or send reports the failure.
  return PollUntil(sys_, &fd, 1, deadline_, net_.cancel()) != 0;
}

void ControlConnection::Fail(ErrorCode code, const std::string& description) {
  Close();
  throw FtpError(code, description);
}

void ControlConnection::Trace(char direction, std::string_view line) {
  if (!trace_) return;
  std::string text(1, direction);
  text += ' ';
  text += PrintableText(line, 1000);
  trace_(text);
}

void ControlConnection::ExpectGreeting(const std::string& what) {
  waiting_for_ = what;
  last_verb_.clear();
  RestartDeadline();
}

void ControlConnection::Send(const std::string& command, std::string_view shown) {
  if (command.find_first_of("\r\n") != std::string::npos) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("a command argument holds a line break: {}",
                               PrintableText(shown.empty() ? command : shown)));
  }
  if (!is_open()) throw FtpError(ErrorCode::kNotConnected, "not connected to a server");
  if (!ahead_.empty()) TakeAhead();
  last_verb_ = VerbOf(command);
  waiting_for_ = "reply to " + last_verb_;
  Trace('>', shown.empty() ? std::string_view(command) : shown);
  RestartDeadline();
  WriteLine(command);
}

void ControlConnection::SendAhead(const std::string& command) {
  if (!is_open() || !ahead_.empty()) return;
  Trace('>', command);
  WriteLine(command);
  ahead_ = command;
}

Reply ControlConnection::TakeAhead() {
  last_verb_ = VerbOf(ahead_);
  waiting_for_ = "reply to " + last_verb_;
  ahead_.clear();
  RestartDeadline();
  return Read();
}

void ControlConnection::WriteLine(const std::string& command) {
  MakeNonBlocking();
  const std::string line = command + "\r\n";
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t done =
        tls_ ? tls_->Write(line.data() + sent, line.size() - sent)
             : sys_.Send(native_handle(), line.data() + sent, line.size() - sent);
    if (done > 0) {
      sent += static_cast<std::size_t>(done);
      continue;
    }
    if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!WaitFor(tls_ ? tls_->WantedEvents() : POLLOUT)) {
        Fail(ErrorCode::kTimedOut, TimeoutText("cannot send " + VerbOf(command), deadline_));
      }
      continue;
    }
    Fail(ErrorCode::kConnectionLost,
         fmt::format("connection to the server lost while sending {} ({})", VerbOf(command),
                     FailureText(done < 0 ? errno : EPIPE)));
  }
}

std::optional<Reply> ControlConnection::BufferedReply() {
  if (in_.empty()) return std::nullopt;
  FrameResult framed = FrameReply(in_);
  switch (framed.status) {
    case FrameStatus::kIncomplete:
      return std::nullopt;
    case FrameStatus::kMalformed:
      Fail(ErrorCode::kProtocolError,
           fmt::format("unreadable {} from the server: \"{}\"", waiting_for_,
                       PrintableText(framed.reply.lines.front(), 200)));
    case FrameStatus::kTooLong:
      Fail(ErrorCode::kProtocolError,
           fmt::format("the {} from the server is too long (over {} bytes)", waiting_for_,
                       in_.size()));
    case FrameStatus::kComplete:
      break;
  }
  in_.erase(0, framed.consumed);
  for (const std::string& line : framed.reply.lines) Trace('<', line);
  if (framed.reply.code == 421) {
    Fail(ErrorCode::kServiceClosing,
         fmt::format("the server ended the session: {}", framed.reply.Quote()));
  }
  return std::move(framed.reply);
}

Reply ControlConnection::Read() {
  MakeNonBlocking();
  while (true) {
    if (auto reply = BufferedReply()) return std::move(*reply);
    if (!is_open()) throw FtpError(ErrorCode::kNotConnected, "not connected to a server");
    const ssize_t read = Receive();
    if (read > 0) continue;
    if (read == 0) {
      Fail(ErrorCode::kConnectionLost,
           fmt::format("the server closed the connection while the client waited for the {}",
                       waiting_for_));
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      if (!WaitFor(tls_ ? tls_->WantedEvents() : POLLIN)) {
        Fail(ErrorCode::kTimedOut, TimeoutText("no " + waiting_for_, deadline_));
      }
      continue;
    }
    Fail(ErrorCode::kConnectionLost,
         fmt::format("connection to the server lost while the client waited for the {} ({})",
                     waiting_for_, FailureText(errno)));
  }
}

Reply ControlConnection::Command(const std::string& command, std::string_view shown) {
  Send(command, shown);
  return Read();
}

bool ControlConnection::TakeAvailable() {
  MakeNonBlocking();
  while (in_.size() <= FrameLimits{}.max_reply + 4096) {
    const ssize_t read = Receive();
    if (read > 0) continue;
    if (read < 0 && errno == EINTR) continue;
    return read < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
  return true;
}

}  // namespace pullwire::ftp
