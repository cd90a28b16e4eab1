// The lanes of a parallel folder fetch: one transfer state machine per session, multiplexed on
// the calling thread with poll(). Over TLS a data connection's handshake is one more state.
#include "ftp/parallel_fetch.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>

#include <fmt/format.h>

#include "ftp/data_receiver.h"
#include "ftp/data_sink.h"
#include "ftp/local_file.h"
#include "ftp/reply_meaning.h"
#include "ftp/session_core.h"
#include "ftp/transfer.h"

namespace pullwire::ftp {
namespace {

// Reads one session may make before the others get their turn.
constexpr int kReadsPerTurn = 8;

enum class Awaiting { kCwd, kPort, kRest, kRetr };

// One file on its way: the local file, and what the server has said and sent so far.
struct Job {
  std::size_t index = 0;
  std::optional<LocalFile> file;
  std::optional<FileSink> sink;  // made with the first data, after REST has been answered
  std::optional<DataPump> pump;
  std::optional<ProgressMeter> progress;  // made with the first data when someone listens
  std::unique_ptr<TlsStream> tls;  // over TLS, once connected
  std::int64_t offset = 0;
  std::int64_t bytes = 0;
  std::int64_t window_bytes = 0;  // since the lane's deadline last moved for data
  bool connecting = false;
  bool handshaking = false;
  bool data_done = false;  // the data ended, or its connection was given up
  std::optional<Reply> preliminary;
  std::optional<Reply> final;
  std::optional<FtpError> failure;
};

// What all lanes share.
struct Batch {
  const std::string& here;
  const LocalFolder& local;
  const std::vector<FolderFile>& files;
  std::vector<FileOutcome>& outcomes;
  std::deque<std::size_t> queue;  // files no lane has taken yet
  ReceiveBuffers& buffers;
  const ProgressHandler& progress;  // the main session's
  bool binary;
  std::optional<FtpError> last_loss;  // why the last lane dropped out
};

class Lane {
 public:
  // `folder` is the working folder an extra session was last sent to; null for the main
  // session, which stands in the batch's folder.
  Lane(Session& session, std::string* folder, Batch& batch)
      : core_(session.core()), folder_(folder), batch_(batch), data_(core_.net.context()) {}

  bool busy() const { return job_ != nullptr || !awaiting_.empty(); }
  // Data decrypted or read ahead inside OpenSSL, which poll() cannot see: serve without waiting.
  bool buffered() const {
    return job_ && job_->tls && !job_->handshaking && !job_->data_done && job_->tls->HasPending();
  }
  bool usable() const { return !dead_ && !retired_; }
  const Deadline& deadline() const { return deadline_; }

  // Takes the next file of the queue that can be opened locally and starts its transfer.
  void TakeWork();
  void AddPollFds(std::vector<pollfd>& fds);
  void Serve(const std::vector<pollfd>& fds);
  void CheckDeadline();

 private:
  std::string Subject() const { return "RETR " + PrintableText(File().name, 300); }
  const FolderFile& File() const { return batch_.files[job_->index]; }
  std::unique_ptr<Job> MakeJob();  // from the queue; nullptr when it is empty
  bool Send(const std::string& command, Awaiting awaiting);
  void SendPort();
  void OnReply(const Reply& reply);
  void OnPortReply(const Reply& reply);
  void OnRetrReply(const Reply& reply);
  void OnConnected(short revents);
  void Handshake();
  void Pump();
  void AskAhead();
  // The job fails; it ends now, or when the server has answered its RETR.
  void Fail(const FtpError& error);
  void Finish();
  void Conclude(Job& job);
  // The session is gone or unusable: its files go back to the queue (`requeue_current`) or fail.
  void Lose(const FtpError& error, bool requeue_current);
  void CloseData() {
    asio::error_code ignored;
    data_.close(ignored);
  }
  bool RetrPending() const {
    for (const Awaiting awaiting : awaiting_) {
      if (awaiting == Awaiting::kRetr) return true;
    }
    return false;
  }

  SessionCore& core_;
  std::string* folder_;
  Batch& batch_;
  Tcp::socket data_;
  std::deque<Awaiting> awaiting_;
  std::string port_command_;
  std::unique_ptr<Job> job_;
  std::unique_ptr<Job> next_;  // its EPSV went out while the current job's 226 was on its way
  Deadline deadline_;
  int control_slot_ = -1;
  int data_slot_ = -1;
  bool dead_ = false;
  bool retired_ = false;  // could not enter the folder: no more work in this batch
};

std::unique_ptr<Job> Lane::MakeJob() {
  while (!batch_.queue.empty()) {
    const std::size_t index = batch_.queue.front();
    batch_.queue.pop_front();
    const FolderFile& file = batch_.files[index];
    auto job = std::make_unique<Job>();
    job->index = index;
    job->offset = file.offset;
    try {
      job->file.emplace(LocalFile::ContinueIn(batch_.local.fd(), file.name, file.local,
                                              file.offset, core_.sys));
      return job;
    } catch (const FtpError& error) {
      batch_.outcomes[index].error = error;
    }
  }
  return nullptr;
}

bool Lane::Send(const std::string& command, Awaiting awaiting) {
  try {
    core_.control.Send(command);
  } catch (const FtpError& error) {
    Lose(error, true);
    return false;
  }
  awaiting_.push_back(awaiting);
  deadline_ = Deadline::After(core_.control.timeout());
  return true;
}

void Lane::SendPort() {
  port_command_ = core_.connector.epsv_refused() ? "PASV" : "EPSV";
  Send(port_command_, Awaiting::kPort);
}

void Lane::TakeWork() {
  if (!usable() || busy()) return;
  job_ = MakeJob();
  if (!job_) return;
  if (folder_ != nullptr && *folder_ != batch_.here) {
    Send("CWD " + batch_.here, Awaiting::kCwd);
  } else {
    SendPort();
  }
}

void Lane::AddPollFds(std::vector<pollfd>& fds) {
  control_slot_ = data_slot_ = -1;
  if (!busy()) return;
  control_slot_ = static_cast<int>(fds.size());
  fds.push_back({core_.control.native_handle(), POLLIN, 0});
  if (job_ && data_.is_open()) {
    data_slot_ = static_cast<int>(fds.size());
    const short events = job_->connecting ? POLLOUT
                         : job_->tls    ? job_->tls->WantedEvents()
                                        : POLLIN;
    fds.push_back({data_.native_handle(), events, 0});
  }
}

void Lane::Serve(const std::vector<pollfd>& fds) {
  if (data_slot_ >= 0 && job_ && (fds[data_slot_].revents != 0 || buffered())) {
    if (job_->connecting) {
      OnConnected(fds[data_slot_].revents);
    } else if (job_->handshaking) {
      Handshake();
    } else {
      Pump();
    }
  }
  if (control_slot_ < 0 || dead_) return;
  try {
    if (fds[control_slot_].revents != 0 && !core_.control.TakeAvailable()) {
      throw FtpError(ErrorCode::kConnectionLost,
                     "the server closed the control connection during a transfer");
    }
    while (!dead_ && busy()) {
      std::optional<Reply> reply = core_.control.BufferedReply();
      if (!reply) break;
      deadline_ = Deadline::After(core_.control.timeout());
      OnReply(*reply);
    }
  } catch (const FtpError& error) {
    Lose(error, true);
  }
}

void Lane::OnReply(const Reply& reply) {
  if (awaiting_.empty()) {
    throw FtpError(ErrorCode::kProtocolError,
                   fmt::format("a reply nobody asked for: {}", reply.Quote()));
  }
  const Awaiting awaiting = awaiting_.front();
  if (awaiting != Awaiting::kRetr) awaiting_.pop_front();
  switch (awaiting) {
    case Awaiting::kCwd:
      if (reply.Positive()) {
        *folder_ = batch_.here;
        SendPort();
        return;
      }
      // This session cannot enter the folder: the others fetch its files.
      batch_.queue.push_front(job_->index);
      job_.reset();
      retired_ = true;
      return;
    case Awaiting::kPort:
      if (job_) OnPortReply(reply);
      return;
    case Awaiting::kRest:
      // "502 REST not implemented": the file comes whole.
      if (reply.code != 350) {
        job_->file->StartOver();
        job_->offset = 0;
      }
      Send("RETR " + File().name, Awaiting::kRetr);
      return;
    case Awaiting::kRetr:
      OnRetrReply(reply);
      return;
  }
}

void Lane::OnPortReply(const Reply& reply) {
  std::optional<std::uint16_t> port;
  if (port_command_ == "EPSV") {
    if (reply.code != 229) {  // "500 EPSV not understood": PASV from now on
      core_.connector.RefuseEpsv();
      SendPort();
      return;
    }
    port = ParseEpsvPort(reply);
  } else {
    if (reply.code != 227) {
      Fail(FtpError(ErrorCode::kDataConnectionFailed,
                    fmt::format("the server refused passive mode: {}", reply.Quote())));
      return;
    }
    port = ParsePasvPort(reply);
  }
  if (!port) {
    throw FtpError(ErrorCode::kProtocolError,
                   fmt::format("unreadable reply to {}: {}", port_command_, reply.Quote()));
  }
  try {
    core_.connector.StartConnect(data_, *port);
  } catch (const FtpError& error) {
    Fail(error);
    return;
  }
  job_->connecting = true;
  if (job_->offset > 0) {
    Send(fmt::format("REST {}", job_->offset), Awaiting::kRest);
  } else {
    Send("RETR " + File().name, Awaiting::kRetr);
  }
}

void Lane::OnRetrReply(const Reply& reply) {
  if (reply.Preliminary()) {
    if (!job_->preliminary) job_->preliminary = reply;
    return;
  }
  awaiting_.pop_front();
  job_->final = reply;
  if (reply.Refusal()) {
    // Before the server began, the command was refused ("550 No such file" is 11101).
    const std::string why = job_->preliminary ? "failed" : "refused";
    Fail(FtpError(job_->preliminary ? ErrorCode::kTransferFailed : RefusalCode("RETR", reply),
                  fmt::format("{} {}: {}", Subject(), why, reply.Quote())));
    return;
  }
  if (!reply.Positive()) {
    throw FtpError(ErrorCode::kProtocolError,
                   fmt::format("unexpected reply to {}: {}", Subject(), reply.Quote()));
  }
  if (job_->data_done) Finish();
}

void Lane::OnConnected(short revents) {
  int error = 0;
  socklen_t size = sizeof(error);
  if (::getsockopt(data_.native_handle(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  if (error == 0 && (revents & POLLOUT) != 0) {
    job_->connecting = false;
    if (core_.connector.tls() != nullptr) {
      job_->handshaking = true;
      Handshake();
    }
    return;
  }
  Fail(FtpError(ErrorCode::kDataConnectionFailed,
                fmt::format("cannot open the data connection for {}: {}", Subject(),
                            std::strerror(error != 0 ? error : ECONNREFUSED))));
}

void Lane::Handshake() {
  try {
    if (!job_->tls) job_->tls = core_.connector.tls()->ForData(data_.native_handle());
    if (job_->tls->HandshakeStep("the data connection") == TlsStream::Progress::kDone) {
      job_->handshaking = false;
    }
  } catch (const FtpError& error) {
    Fail(error);
  }
}

void Lane::Pump() {
  Job& job = *job_;
  try {
    if (!job.pump) {
      job.sink.emplace(*job.file, core_.type == TransferType::kAscii);
      job.pump.emplace(core_.sys, *job.sink, batch_.buffers, job.tls.get());
      if (batch_.progress) {
        job.progress.emplace(batch_.progress, File().name, job.offset, File().known_size);
      }
    }
    for (int i = 0; i < kReadsPerTurn; ++i) {
      const ssize_t got = job.pump->Step(data_.native_handle());
      if (got > 0) {
        job.bytes += got;
        job.window_bytes += got;
        // Less than kStallBytes in a time-out-long window is a stall, as on one session.
        if (job.window_bytes >= kStallBytes) {
          deadline_ = Deadline::After(core_.control.timeout());
          job.window_bytes = 0;
        }
        if (job.progress) job.progress->Advance(job.bytes, Clock::now(), job.preliminary);
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (got < 0) {
        const std::string why = job.tls && !job.tls->failure().empty() ? job.tls->failure()
                                                                        : std::strerror(errno);
        Fail(FtpError(ErrorCode::kTransferFailed,
                      fmt::format("{} failed: the data connection broke after {} bytes ({})",
                                  Subject(), job.bytes, why)));
        return;
      }
      job.sink->Finish();
      if (job.tls) job.tls->Close();
      CloseData();
      job.data_done = true;
      AskAhead();
      if (job.final) Finish();
      return;
    }
  } catch (const FtpError& error) {
    batch_.buffers.ClosePipe();  // a failed splice may leave bytes in it
    Fail(error);
  }
}

void Lane::AskAhead() {
  if (next_ || !usable()) return;
  next_ = MakeJob();
  if (next_) SendPort();
}

void Lane::Fail(const FtpError& error) {
  if (!job_->failure) job_->failure = error;
  CloseData();
  job_->connecting = false;
  job_->data_done = true;
  if (!RetrPending()) Finish();
}

void Lane::Conclude(Job& job) {
  FileOutcome& outcome = batch_.outcomes[job.index];
  if (job.failure) {
    outcome.error = job.failure;
    return;
  }
  try {
    if (batch_.binary) {
      CheckReceivedLength("RETR " + PrintableText(batch_.files[job.index].name, 300), job.bytes,
                          job.preliminary, job.offset, *job.final);
    }
    outcome.size = job.file->Commit();
    outcome.bytes = job.bytes;
  } catch (const FtpError& error) {
    outcome.error = error;
  }
}

void Lane::Finish() {
  Conclude(*job_);
  job_ = std::move(next_);  // its EPSV is on its way already
  if (!job_) TakeWork();
}

void Lane::Lose(const FtpError& error, bool requeue_current) {
  dead_ = true;
  CloseData();
  core_.control.Close();
  awaiting_.clear();
  if (next_) batch_.queue.push_front(next_->index);
  if (job_ && requeue_current) batch_.queue.push_front(job_->index);
  if (job_ && !requeue_current) batch_.outcomes[job_->index].error = error;
  next_.reset();
  job_.reset();
  batch_.last_loss = error;
}

void Lane::CheckDeadline() {
  if (dead_ || !busy() || !deadline_.Passed()) return;
  std::string what = "no reply from the server";
  if (job_ && job_->window_bytes > 0) {
    what = fmt::format(
        "the transfer stalled: only {} bytes (less than 1 KiB) from the server "
        "during {}",
        job_->window_bytes, Subject());
  } else if (job_) {
    what = "no reply or data from the server during " + Subject();
  }
  const FtpError error(ErrorCode::kTimedOut, TimeoutText(what, deadline_));
  // ABOR and NOOP find where the reply stream stands; a server that does not answer them in
  // time has its session closed.
  AbortTransfer(core_, data_);
  awaiting_.clear();
  if (!core_.control.is_open()) {
    Lose(error, false);
    return;
  }
  if (next_) batch_.queue.push_front(next_->index);
  next_.reset();
  if (job_) batch_.outcomes[job_->index].error = error;
  job_.reset();
  TakeWork();
}

}  // namespace

std::vector<FileOutcome> FetchFolderFiles(Session& main, const std::vector<ExtraSession*>& extras,
                                          const std::string& here, const LocalFolder& local,
                                          const std::vector<FolderFile>& files) {
  std::vector<FileOutcome> outcomes(files.size());
  SessionCore& core = main.core();
  main.ApplyTransferType();
  // A passive-mode request sent ahead by an earlier transfer is answered first.
  if (!core.control.ahead().empty()) core.control.TakeAhead();
  Batch batch{here,        local,        files,         outcomes,
              {},          core.buffers, core.progress, core.type == TransferType::kImage,
              std::nullopt};
  for (std::size_t i = 0; i < files.size(); ++i) batch.queue.push_back(i);
  std::vector<std::unique_ptr<Lane>> lanes;
  lanes.push_back(std::make_unique<Lane>(main, nullptr, batch));
  for (ExtraSession* extra : extras) {
    lanes.push_back(std::make_unique<Lane>(extra->session, &extra->folder, batch));
  }
  std::vector<pollfd> fds;
  while (true) {
    for (const auto& lane : lanes) lane->TakeWork();
    fds.clear();
    std::optional<Deadline> earliest;
    for (const auto& lane : lanes) {
      lane->AddPollFds(fds);
      if (lane->busy() && (!earliest || lane->deadline().at < earliest->at)) {
        earliest = lane->deadline();
      }
    }
    if (fds.empty()) break;
    const bool buffered =
        std::any_of(lanes.begin(), lanes.end(), [](const auto& lane) { return lane->buffered(); });
    // A failed poll counts as woken: the reads that follow report what is wrong.
    PollUntil(core.sys, fds.data(), fds.size(), buffered ? Deadline{Clock::now()} : *earliest,
              core.net.cancel());
    for (const auto& lane : lanes) lane->Serve(fds);
    for (const auto& lane : lanes) lane->CheckDeadline();
  }
  // Files left when every session has dropped out.
  for (const std::size_t index : batch.queue) {
    outcomes[index].error =
        batch.last_loss.value_or(FtpError(ErrorCode::kNotConnected, "no session left"));
  }
  return outcomes;
}

}  // namespace pullwire::ftp
