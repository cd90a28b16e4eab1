// Session: login and logout, folder commands, listings and downloads over SessionCore.
#include "ftp/session.h"

#include <fmt/format.h>

#include "ftp/errors.h"
#include "ftp/login.h"
#include "ftp/reply_meaning.h"
#include "ftp/session_core.h"
#include "ftp/transfer.h"

namespace pullwire::ftp {
namespace {

// A hostile server could send an endless listing; 20,000 entries take about 1.5 MB.
constexpr std::size_t kListingLimit = std::size_t{256} << 20;

char TypeLetter(TransferType type) {
  switch (type) {
    case TransferType::kAscii: return 'A';
    case TransferType::kImage: return 'I';
    case TransferType::kEbcdic: return 'E';
  }
  return 'I';
}

void RequirePath(const std::string& path, const std::string& what) {
  if (path.empty()) throw FtpError(ErrorCode::kInvalidValue, "the " + what + " is empty");
}

}  // namespace

Session::Session() : Session(DefaultSysIo()) {}

Session::Session(SysIo& sys) : core_(std::make_unique<SessionCore>(sys)) {}

Session::~Session() { core_->control.Close(); }

void Session::set_timeout(Milliseconds timeout) { core_->control.set_timeout(timeout); }
Milliseconds Session::timeout() const { return core_->control.timeout(); }
void Session::set_passive(bool passive) { core_->passive = passive; }
bool Session::passive() const { return core_->passive; }
void Session::set_transfer_type(TransferType type) { core_->type = type; }
TransferType Session::transfer_type() const { return core_->type; }
void Session::set_proxy(const ProxySettings& proxy) { core_->proxy = proxy; }
void Session::set_trace(TraceHandler trace) { core_->control.set_trace(std::move(trace)); }
void Session::set_zero_copy(bool zero_copy) { core_->buffers.splice_enabled = zero_copy; }
SysIo& Session::sys() { return core_->sys; }
const LoginParams& Session::login_params() const { return core_->login; }
const ProxySettings& Session::proxy() const { return core_->proxy; }

bool Session::logged_in() const { return core_->logged_in && core_->control.is_open(); }

void Session::RequireLogin() const {
  if (!logged_in()) {
    throw FtpError(ErrorCode::kNotConnected, "not connected to a server: log in first");
  }
}

void Session::Login(const LoginParams& login) {
  Logout();
  try {
    const DataRoute route = OpenControl(core_->net, core_->control, login, core_->proxy);
    LogIn(core_->control, login, core_->proxy);
    core_->connector.Reset(route);
  } catch (...) {
    core_->control.Close();
    throw;
  }
  core_->server_type.reset();
  core_->size_unsupported = false;
  core_->login = login;
  core_->logged_in = true;
}

void Session::Logout() noexcept {
  const bool was_open = core_->control.is_open();
  core_->logged_in = false;
  core_->connector.Cancel();
  if (!was_open) return;
  try {
    // "221 Goodbye." is awaited so that the server logs a clean end; a 421 or silence is fine.
    core_->control.Command("QUIT");
  } catch (const FtpError&) {
  }
  core_->control.Close();
}

void Session::SimpleCommand(const std::string& verb, const std::string& path,
                            const std::string& action) {
  RequireLogin();
  const Reply reply = core_->control.Command(verb + " " + path);
  if (reply.Positive()) return;
  const ErrorCode code = reply.Refusal() ? RefusalCode(verb, reply) : ErrorCode::kProtocolError;
  throw FtpError(code, fmt::format("cannot {} {}: {}", action, PrintableText(path, 500),
                                   reply.Quote()));
}

void Session::ChangeDirectory(const std::string& path) {
  RequirePath(path, "remote folder path");
  SimpleCommand("CWD", path, "enter the folder");
}

std::string Session::CurrentDirectory() {
  RequireLogin();
  const Reply reply = core_->control.Command("PWD");
  if (auto path = ParsePwdPath(reply)) return std::move(*path);
  throw FtpError(reply.Refusal() ? ErrorCode::kCommandFailed : ErrorCode::kProtocolError,
                 fmt::format("cannot read the working folder: {}", reply.Quote()));
}

void Session::ApplyTransferType() {
  const char letter = TypeLetter(core_->type);
  if (core_->server_type == letter) return;
  const Reply reply = core_->control.Command(std::string("TYPE ") + letter);
  if (!reply.Positive()) {
    throw FtpError(ErrorCode::kCommandFailed,
                   fmt::format("the server refused TYPE {}: {}", letter, reply.Quote()));
  }
  core_->server_type = letter;
}

std::string Session::ListRaw() {
  RequireLogin();
  // Listings are text; only EBCDIC would garble them.
  if (core_->server_type == 'E') {
    const TransferType wanted = core_->type;
    core_->type = TransferType::kAscii;
    ApplyTransferType();
    core_->type = wanted;
  }
  std::string raw;
  StringSink sink(raw, kListingLimit);
  RunTransfer(*core_, TransferRequest{"LIST", 0, false, std::nullopt, false}, sink);
  return raw;
}

ParsedListing Session::List() { return ParseListing(ListRaw()); }

Session::Retrieved Session::Retrieve(const std::string& remote, DataSink& sink,
                                     std::int64_t offset, std::optional<std::int64_t> known_size,
                                     bool another_follows) {
  RequirePath(remote, "remote file name");
  RequireLogin();
  if (offset < 0) throw FtpError(ErrorCode::kInvalidValue, "the restart offset is negative");
  if (offset > 0 && core_->type == TransferType::kAscii) {
    throw FtpError(ErrorCode::kInvalidValue,
                   "an ASCII transfer cannot be continued from an offset (REST counts bytes "
                   "on the server, not in the converted local file)");
  }
  ApplyTransferType();
  TransferRequest request{"RETR " + remote, offset, core_->type == TransferType::kImage,
                          known_size, another_follows};
  const TransferOutcome outcome = RunTransfer(*core_, request, sink);
  return {outcome.offset, outcome.bytes, outcome.size_checked};
}

std::optional<std::int64_t> Session::Size(const std::string& path) {
  RequirePath(path, "remote file path");
  RequireLogin();
  if (core_->size_unsupported) return std::nullopt;
  ApplyTransferType();
  const Reply reply = core_->control.Command("SIZE " + path);
  if (reply.code == 500 || reply.code == 502) core_->size_unsupported = true;
  if (reply.code != 213) return std::nullopt;
  // "213 1073741824"
  const std::string_view text = reply.FirstText();
  std::int64_t size = 0;
  if (text.empty() || text.size() > 18) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    size = size * 10 + (c - '0');
  }
  return size;
}

void Session::Delete(const std::string& path) {
  RequirePath(path, "remote file path");
  SimpleCommand("DELE", path, "delete");
}

void Session::RemoveDirectory(const std::string& path) {
  RequirePath(path, "remote folder path");
  SimpleCommand("RMD", path, "remove the folder");
}

}  // namespace pullwire::ftp
