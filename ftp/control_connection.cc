// Command sending and reply reading on the control connection.
#include "ftp/control_connection.h"

#include <fmt/format.h>

#include <array>

namespace pullwire::ftp {
namespace {

std::string VerbOf(std::string_view command) {
  return std::string(command.substr(0, command.find(' ')));
}

}  // namespace

void ControlConnection::Close() {
  asio::error_code ignored;
  socket_.close(ignored);
  in_.clear();
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
  last_verb_ = VerbOf(command);
  waiting_for_ = "reply to " + last_verb_;
  Trace('>', shown.empty() ? std::string_view(command) : shown);
  RestartDeadline();
  const asio::error_code error = net_.WriteAll(socket_, command + "\r\n", deadline_);
  if (error == asio::error::timed_out) {
    Fail(ErrorCode::kTimedOut, TimeoutText("cannot send " + last_verb_, deadline_));
  }
  if (error) {
    Fail(ErrorCode::kConnectionLost,
         fmt::format("connection to the server lost while sending {} ({})", last_verb_,
                     error.message()));
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
  std::array<char, 4096> chunk;
  while (true) {
    if (auto reply = BufferedReply()) return std::move(*reply);
    if (!is_open()) throw FtpError(ErrorCode::kNotConnected, "not connected to a server");
    std::size_t read = 0;
    const asio::error_code error =
        net_.ReadSome(socket_, chunk.data(), chunk.size(), deadline_, read);
    if (error == asio::error::timed_out) {
      Fail(ErrorCode::kTimedOut, TimeoutText("no " + waiting_for_, deadline_));
    }
    if (error == asio::error::eof) {
      Fail(ErrorCode::kConnectionLost,
           fmt::format("the server closed the connection while the client waited for the {}",
                       waiting_for_));
    }
    if (error) {
      Fail(ErrorCode::kConnectionLost,
           fmt::format("connection to the server lost while the client waited for the {} ({})",
                       waiting_for_, error.message()));
    }
    in_.append(chunk.data(), read);
  }
}

Reply ControlConnection::Command(const std::string& command, std::string_view shown) {
  Send(command, shown);
  return Read();
}

bool ControlConnection::TakeAvailable() {
  std::array<char, 4096> chunk;
  asio::error_code error;
  socket_.non_blocking(true, error);
  while (true) {
    const std::size_t read = socket_.read_some(asio::buffer(chunk), error);
    if (error == asio::error::would_block || error == asio::error::try_again) return true;
    if (error) return false;
    in_.append(chunk.data(), read);
    if (in_.size() > FrameLimits{}.max_reply + chunk.size()) return true;
  }
}

}  // namespace pullwire::ftp
