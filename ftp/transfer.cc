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

}  // namespace

void AbortTransfer(SessionCore& core, Tcp::socket& data) {
  CloseData(data);
  core.connector.Cancel();
  ControlConnection& control = core.control;
  if (!control.is_open()) return;
  const CancelWatch::Suspended wind_down(control.cancel());
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

namespace {

// What the control connection said about one transfer so far.
struct Replies {
  std::optional<Reply> preliminary;  // "150 Opening BINARY mode ... (1024 bytes)."
  std::optional<Reply> final;        // "226 Transfer complete."

  void Take(std::optional<Reply> reply) {
    if (!reply) return;
    if (reply->Preliminary()) {
      if (!preliminary) preliminary = std::move(reply);
    } else if (!final) {
      final = std::move(reply);
    }
  }
};

// Reads replies until the final one, the deadline restarted (it may follow the data's end).
void AwaitFinal(ControlConnection& control, Replies& replies) {
  control.RestartDeadline();
  while (!replies.final) replies.Take(control.Read());
}

[[noreturn]] void ThrowFailed(const std::string& subject, const std::string& why) {
  throw FtpError(ErrorCode::kTransferFailed, fmt::format("{} failed: {}", subject, why));
}

// A refusal before the server began the transfer is the command's refusal ("550 No such
// file" is 11101); after it began, the transfer failed.
[[noreturn]] void ThrowRefusal(const ControlConnection& control, const Replies& replies,
                               const std::string& subject) {
  if (!replies.preliminary) {
    throw FtpError(RefusalCode(control.last_verb(), *replies.final),
                   fmt::format("{} refused: {}", subject, replies.final->Quote()),
                   replies.final->code);
  }
  ThrowFailed(subject, replies.final->Quote());
}

// Sends REST when continuing and the transfer command; returns the byte the data starts at. A
// server that will not continue ("502 REST not implemented") sends the file whole, over the
// data connection already being made.
std::int64_t SendCommand(SessionCore& core, const TransferRequest& request, DataSink& sink) {
  ControlConnection& control = core.control;
  std::int64_t offset = 0;
  if (request.rest_offset > 0) {
    const Reply rest = control.Command(fmt::format("REST {}", request.rest_offset));
    if (rest.code == 350) {
      offset = request.rest_offset;
    } else {
      sink.StartOver();
    }
  }
  control.Send(request.command);
  return offset;
}

// Active mode: the server connects only after its 1xx reply, and not at all after a refusal,
// so that reply is awaited before accepting. Returns the data connection's TLS stream, if any.
std::unique_ptr<TlsStream> AwaitStart(SessionCore& core, Tcp::socket& data, Replies& replies,
                                      const std::string& subject) {
  replies.Take(core.control.Read());
  if (replies.final && !replies.final->Positive()) {
    CloseData(data);
    core.connector.Cancel();
    if (replies.final->Intermediate()) {
      core.control.Close();
      throw FtpError(ErrorCode::kProtocolError,
                     fmt::format("unexpected reply to {}: {}", subject, replies.final->Quote()));
    }
    ThrowRefusal(core.control, replies, subject);
  }
  try {
    return core.connector.Complete(data);
  } catch (const FtpError&) {
    AbortTransfer(core, data);
    throw;
  }
}

// Turns how the data ended into the final reply, or into the error it means.
void Conclude(SessionCore& core, const TransferRequest& request, const ReceiveResult& received,
              Tcp::socket& data, TlsStream* tls, Replies& replies, const std::string& subject) {
  ControlConnection& control = core.control;
  replies.Take(received.preliminary);
  replies.Take(received.reply);
  switch (received.end) {
    case ReceiveEnd::kEof:
      if (tls != nullptr) tls->Close();  // close_notify in return, as TLS asks
      CloseData(data);
      // The server has closed the data connection: the transfer is over on its side, and the
      // next file's EPSV can travel with its 226.
      if (request.another_follows && core.passive) core.connector.AskAhead();
      AwaitFinal(control, replies);
      return;
    case ReceiveEnd::kIdleTimeout:
      if (!replies.preliminary && !replies.final) {
        // The command itself got no answer: the reply stream is in an unknown state.
        CloseData(data);
        control.Close();
        throw FtpError(ErrorCode::kTimedOut,
                       TimeoutText("no reply to " + control.last_verb(),
                                   Deadline::After(control.timeout())));
      }
      AbortTransfer(core, data);
      throw FtpError(ErrorCode::kTimedOut,
                     TimeoutText(received.window_bytes == 0
                                     ? "no data from the server during " + subject
                                     : fmt::format("the transfer stalled: only {} bytes (less "
                                                   "than 1 KiB) from the server during {}",
                                                   received.window_bytes, subject),
                                 Deadline::After(control.timeout())));
    case ReceiveEnd::kServerRefused:
      CloseData(data);
      ThrowRefusal(control, replies, subject);
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
                                      received.bytes, received.error_text);
  try {
    AwaitFinal(control, replies);
  } catch (const FtpError&) {
    ThrowFailed(subject, why);
  }
  ThrowFailed(subject, fmt::format("{}; the server said {}", why, replies.final->Quote()));
}

}  // namespace

void CheckReceivedLength(const std::string& subject, std::int64_t received,
                         const std::optional<Reply>& preliminary, std::int64_t offset,
                         const Reply& final) {
  const std::optional<std::int64_t> announced =
      preliminary ? ParseAnnouncedSize(*preliminary) : std::nullopt;
  if (!announced) return;
  // What is left of the announced size ("150 ... (1073741824 bytes)") after the restart offset.
  const std::int64_t expected = std::max<std::int64_t>(0, *announced - offset);
  if (received < expected) {
    throw FtpError(ErrorCode::kTransferIncomplete,
                   fmt::format("{} ended after {} of {} bytes although the server reported "
                               "success: {}",
                               subject, received, expected, final.Quote()));
  }
  // Some servers announce what is left after REST, others the whole file: only more than
  // either is wrong.
  if (received > *announced) {
    throw FtpError(ErrorCode::kTransferIncomplete,
                   fmt::format("{} brought {} bytes, more than the {} the server announced: {}",
                               subject, received, *announced, preliminary->Quote()));
  }
}

TransferOutcome RunTransfer(SessionCore& core, const TransferRequest& request, DataSink& sink) {
  const std::string subject = PrintableText(request.command, 300);
  Tcp::socket data(core.net.context());
  core.connector.Prepare(core.passive, data);
  const std::int64_t offset = SendCommand(core, request, sink);
  Replies replies;
  std::unique_ptr<TlsStream> tls;
  // Passive mode goes straight to the data: the 1xx reply usually comes with it, and the
  // receive loop takes it (or a refusal) from the control connection.
  if (core.passive) {
    try {
      tls = core.connector.Complete(data);
    } catch (const FtpError&) {
      AbortTransfer(core, data);  // the server got the command and waits for a connection
      throw;
    }
  } else {
    tls = AwaitStart(core, data, replies, subject);
  }
  asio::error_code error;
  if (!data.non_blocking()) data.non_blocking(true, error);
  std::optional<ProgressMeter> progress;
  if (core.progress && !request.progress_name.empty()) {
    // Active mode has its 1xx reply already; passive mode's comes during the data.
    const auto announced = replies.preliminary ? ParseAnnouncedSize(*replies.preliminary)
                                               : std::nullopt;
    progress.emplace(core.progress, request.progress_name, request.rest_offset,
                     request.known_size ? request.known_size : announced);
  }
  ReceiveResult received;
  try {
    received = ReceiveData(core.sys, data.native_handle(), tls.get(), core.control, sink,
                           core.control.timeout(), core.buffers,
                           progress ? &*progress : nullptr);
  } catch (const FtpError&) {
    AbortTransfer(core, data);
    throw;
  }
  Conclude(core, request, received, data, tls.get(), replies, subject);
  const Reply& final = *replies.final;
  if (final.Refusal()) ThrowRefusal(core.control, replies, subject);
  if (!final.Positive()) {
    core.control.Close();
    throw FtpError(ErrorCode::kProtocolError,
                   fmt::format("unexpected reply to {}: {}", subject, final.Quote()));
  }
  if (request.check_size) {
    CheckReceivedLength(subject, received.bytes, replies.preliminary, offset, final);
  }
  return {offset, received.bytes};
}

}  // namespace pullwire::ftp
