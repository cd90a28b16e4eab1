// The life of one transfer: data set-up, command, preliminary reply, data, final reply, verdict.
#include "ftp/transfer.h"

#include <algorithm>
#include <cstring>
#include <fmt/format.h>

#include "ftp/errors.h"
#include "ftp/reply_meaning.h"

namespace pullwire::ftp {
namespace {

// The bound on the abort path: the server gets this long to confirm ABOR and NOOP.
constexpr Milliseconds kAbortDrain{3000};

void CloseData(Tcp::socket& data) {
  asio::error_code ignored;
  data.close(ignored);
}

// ABOR, then NOOP to find where the reply stream stands: the replies to the transfer and to ABOR
// differ between servers (426+226, 226+225, 225 alone), NOOP's 200 ends them all. A server that
// does not get there within the bound leaves the session in an unclear state: it is closed.
void Abort(SessionCore& core, Tcp::socket& data) {
  CloseData(data);
  core.connector.Cancel();
  ControlConnection& control = core.control;
  if (!control.is_open()) return;
  const Milliseconds saved = control.timeout();
  control.set_timeout(std::min(saved, kAbortDrain));
  bool in_step = false;
  try {
    Reply reply = control.Command("ABOR");
    if (reply.Refusal() || reply.Preliminary()) reply = control.Read();
    control.Send("NOOP");
    for (int i = 0; i < 4 && !in_step; ++i) in_step = control.Read().code == 200;
  } catch (const FtpError&) {
    in_step = false;
  }
  control.set_timeout(saved);
  if (!in_step) control.Close();
}

// Reads past preliminary replies to the transfer's final reply, the deadline restarted.
Reply AwaitFinal(ControlConnection& control) {
  control.RestartDeadline();
  Reply reply = control.Read();
  while (reply.Preliminary()) reply = control.Read();
  return reply;
}

[[noreturn]] void ThrowFailed(const std::string& subject, const std::string& why) {
  throw FtpError(ErrorCode::kTransferFailed, fmt::format("{} failed: {}", subject, why));
}

// Sends the command (after REST when continuing) and reads its first reply.
Reply StartCommand(SessionCore& core, const TransferRequest& request, Tcp::socket& data,
                   const std::string& subject) {
  ControlConnection& control = core.control;
  if (request.rest_offset > 0) {
    const Reply rest = control.Command(fmt::format("REST {}", request.rest_offset));
    if (rest.code != 350) {
      CloseData(data);
      core.connector.Cancel();
      throw FtpError(ErrorCode::kCommandFailed,
                     fmt::format("the server cannot continue {} from byte {}: {}", subject,
                                 request.rest_offset, rest.Quote()));
    }
  }
  control.Send(request.command);
  Reply first = control.Read();
  if (first.Refusal()) {
    CloseData(data);
    core.connector.Cancel();
    throw FtpError(RefusalCode(control.last_verb(), first),
                   fmt::format("{} refused: {}", subject, first.Quote()));
  }
  if (first.Intermediate()) {
    CloseData(data);
    control.Close();
    throw FtpError(ErrorCode::kProtocolError,
                   fmt::format("unexpected reply to {}: {}", subject, first.Quote()));
  }
  return first;
}

// Turns how the data ended into the final reply, or into the error it means.
Reply Conclude(SessionCore& core, const ReceiveResult& received, Tcp::socket& data,
               std::optional<Reply> final_reply, const std::string& subject) {
  ControlConnection& control = core.control;
  switch (received.end) {
    case ReceiveEnd::kEof:
      CloseData(data);
      if (!final_reply) final_reply = received.reply;
      return final_reply ? std::move(*final_reply) : AwaitFinal(control);
    case ReceiveEnd::kIdleTimeout:
      Abort(core, data);
      throw FtpError(ErrorCode::kTimedOut,
                     TimeoutText("no data from the server during " + subject,
                                 Deadline::After(control.timeout())));
    case ReceiveEnd::kServerRefused:
      CloseData(data);
      ThrowFailed(subject, received.reply->Quote());
    case ReceiveEnd::kControlLost:
      CloseData(data);
      control.Close();
      throw FtpError(ErrorCode::kConnectionLost,
                     fmt::format("the server closed the control connection during {}", subject));
    case ReceiveEnd::kReset:
      break;
  }
  CloseData(data);
  const std::string why = fmt::format("the data connection broke after {} bytes ({})",
                                      received.bytes, std::strerror(received.error_number));
  if (!final_reply && !received.reply) {
    try {
      final_reply = AwaitFinal(control);
    } catch (const FtpError&) {
      ThrowFailed(subject, why);
    }
  }
  const Reply& reply = final_reply ? *final_reply : *received.reply;
  ThrowFailed(subject, fmt::format("{}; the server said {}", why, reply.Quote()));
}

}  // namespace

std::optional<std::int64_t> ExpectedBytes(std::optional<std::int64_t> announced,
                                          std::optional<std::int64_t> known,
                                          std::int64_t rest_offset) {
  const std::optional<std::int64_t> size = announced ? announced : known;
  if (!size) return std::nullopt;
  return std::max<std::int64_t>(0, *size - rest_offset);
}

TransferOutcome RunTransfer(SessionCore& core, const TransferRequest& request, DataSink& sink) {
  const std::string subject = PrintableText(request.command, 300);
  Tcp::socket data(core.net.context());
  core.connector.Prepare(core.passive, data);
  const Reply first = StartCommand(core, request, data, subject);
  std::optional<Reply> final_reply;
  std::optional<std::int64_t> announced;
  if (first.Positive()) {
    final_reply = first;  // "226" without a 150: the data may still be on its way
  } else {
    announced = ParseAnnouncedSize(first);
  }
  ReceiveResult received;
  try {
    core.connector.Complete(data);
    asio::error_code error;
    data.non_blocking(true, error);
    received = ReceiveData(core.sys, data.native_handle(), core.control, sink,
                           core.control.timeout(), core.buffers);
  } catch (const FtpError&) {
    Abort(core, data);
    throw;
  }
  const Reply final = Conclude(core, received, data, std::move(final_reply), subject);
  if (final.Refusal()) ThrowFailed(subject, final.Quote());
  if (!final.Positive()) {
    core.control.Close();
    throw FtpError(ErrorCode::kProtocolError,
                   fmt::format("unexpected reply to {}: {}", subject, final.Quote()));
  }
  const auto expected = request.check_size
                            ? ExpectedBytes(announced, request.known_size, request.rest_offset)
                            : std::nullopt;
  if (expected && received.bytes < *expected) {
    throw FtpError(ErrorCode::kTransferIncomplete,
                   fmt::format("{} ended after {} of {} bytes although the server reported "
                               "success: {}",
                               subject, received.bytes, *expected, final.Quote()));
  }
  return {received.bytes, expected.has_value()};
}

}  // namespace pullwire::ftp
