// Session: login and logout, folder commands, listings and downloads over SessionCore.
#include "ftp/session.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "ftp/errors.h"
#include "ftp/login.h"
#include "ftp/reply_meaning.h"
#include "ftp/session_core.h"
#include "ftp/transfer.h"

namespace pullwire::ftp {
namespace {

// How long Logout waits for the reply to QUIT.
constexpr Milliseconds kQuitWait{3000};

// The MLSD facts read: "type" and "size" are needed, the others are kept when offered.
// "unique" tells a folder met again by another path (a link to it, which pyftpdlib's MLSD shows
// as a plain folder) from a new one.
constexpr std::array<std::string_view, 5> kWantedFacts = {"type", "size", "modify", "unix.mode",
                                                          "unique"};

// Replies by which a server (or a gateway passing the server's FEAT on) says it does not do a
// command at all.
bool NotImplemented(const FtpError& error) {
  const int code = error.reply_code();
  return code == 500 || code == 502 || code == 504;
}

const MlstFact* FindFact(const std::vector<MlstFact>& facts, std::string_view name) {
  for (const MlstFact& fact : facts) {
    if (fact.name == name) return &fact;
  }
  return nullptr;
}

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
void Session::set_cancel_fd(int fd) { core_->net.set_cancel_fd(fd); }
int Session::cancel_fd() const { return core_->net.cancel().configured_fd(); }
void Session::set_progress_handler(ProgressHandler handler) {
  core_->progress = std::move(handler);
}
SysIo& Session::sys() { return core_->sys; }
const LoginParams& Session::login_params() const { return core_->login; }
const ProxySettings& Session::proxy() const { return core_->proxy; }

bool Session::logged_in() const { return core_->logged_in && core_->control.is_open(); }

Session::CertificateCheck Session::certificate_check() const {
  if (!core_->tls) return CertificateCheck::kNoTls;
  const ServerName& server = core_->tls->server();
  if (server.pinned) return CertificateCheck::kPinned;
  return server.unverified ? CertificateCheck::kUnverified : CertificateCheck::kVerified;
}

void Session::RequireLogin() const {
  if (!logged_in()) {
    throw FtpError(ErrorCode::kNotConnected, "not connected to a server: log in first");
  }
}

void Session::Login(const LoginParams& login) {
  Logout();
  ServerName server = ParseServerName(login.host);
  server.unverified = server.tls != TlsMode::kNone && TlsInsecureRequested();
  core_->connector.Reset(DataRoute{}, nullptr);  // keeps no pointer into the context replaced
  core_->tls.reset();
  if (server.tls != TlsMode::kNone) core_->tls = std::make_unique<TlsClient>(server, core_->sys);
  try {
    const DataRoute route =
        OpenControl(core_->net, core_->control, login, server, core_->proxy, core_->tls.get());
    LogIn(core_->control, login, server.name, core_->proxy);
    if (core_->tls) ProtectData(core_->control);
    core_->connector.Reset(route, core_->tls.get());
  } catch (...) {
    core_->control.Close();
    throw;
  }
  core_->server_type.reset();
  core_->size_unsupported = false;
  core_->mlsd.reset();
  core_->mlsd_unique = false;
  core_->entered.reset();
  core_->login = login;
  core_->logged_in = true;
}

void Session::Logout() noexcept {
  const bool was_open = core_->control.is_open();
  core_->logged_in = false;
  core_->connector.Cancel();
  if (!was_open) return;
  // "221 Goodbye." is awaited so that the server logs a clean end, but not for long: a 421 or
  // silence is fine too. Also when the host asked the run to stop.
  const CancelWatch::Suspended wind_down(core_->net.cancel());
  const Milliseconds saved = core_->control.timeout();
  core_->control.set_timeout(std::min(saved, kQuitWait));
  try {
    core_->control.Command("QUIT");
  } catch (const FtpError&) {
  }
  core_->control.set_timeout(saved);
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
  std::optional<std::string>& entered = core_->entered;
  if (path.front() == '/') {
    entered = path;
  } else if (entered) {
    if (entered->back() != '/') *entered += '/';
    *entered += path;
  }
}

std::string Session::CurrentDirectory() {
  RequireLogin();
  const Reply reply = core_->control.Command("PWD");
  if (auto path = ParsePwdPath(reply)) {
    core_->entered = *path;
    return std::move(*path);
  }
  if (core_->entered) return *core_->entered;
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

bool Session::UseMlsd() {
  if (core_->mlsd) return *core_->mlsd;
  core_->mlsd = false;
  const Reply feat = core_->control.Command("FEAT");
  const std::optional<std::vector<MlstFact>> facts =
      feat.code == 211 ? ParseMlstFacts(feat) : std::nullopt;
  if (!facts) return false;
  const MlstFact* type = FindFact(*facts, "type");
  const MlstFact* size = FindFact(*facts, "size");
  const MlstFact* unique = FindFact(*facts, "unique");
  if (type == nullptr || size == nullptr) return false;
  std::string wanted;
  bool all_on = true;
  for (const std::string_view name : kWantedFacts) {
    if (const MlstFact* fact = FindFact(*facts, name)) {
      wanted += fact->name + ";";
      all_on = all_on && fact->on;
    }
  }
  // pyftpdlib offers "unix.mode" but leaves it off.
  const bool switched = all_on || core_->control.Command("OPTS MLST " + wanted).Positive();
  if (!switched && !(type->on && size->on)) return false;
  core_->mlsd = true;
  core_->mlsd_unique = unique != nullptr && (switched || unique->on);
  return true;
}

void Session::ReadListing(ListingStore& store, ListingNotes& notes, ListingSyntax syntax) {
  // Listings are text; only EBCDIC would garble them.
  if (core_->server_type == 'E') {
    const TransferType wanted = core_->type;
    core_->type = TransferType::kAscii;
    ApplyTransferType();
    core_->type = wanted;
  }
  ListingBuilder builder(syntax, store, notes);
  ListingSink sink(builder, ListingLimits{});
  const bool mlsd = syntax == ListingSyntax::kMlsd;
  RunTransfer(*core_, TransferRequest{mlsd ? "MLSD" : "LIST", 0, false, std::nullopt, false, {}},
              sink);
}

EntryTable Session::ListTable() {
  RequireLogin();
  EntryTable table;
  bool listed = false;
  if (UseMlsd()) {
    try {
      ReadListing(table, table.notes, ListingSyntax::kMlsd);
      listed = true;
    } catch (const FtpError& error) {
      // A gateway may pass the server's FEAT on and still refuse MLSD: LIST from now on.
      if (!NotImplemented(error) || !logged_in() || table.size() > 0) throw;
      core_->mlsd = false;
      core_->mlsd_unique = false;
    }
  }
  if (!listed) ReadListing(table, table.notes, ListingSyntax::kList);
  table.ShrinkToFit();
  return table;
}

std::optional<std::string> Session::FolderId() {
  RequireLogin();
  if (!UseMlsd() || !core_->mlsd_unique) return std::nullopt;
  // MLST without a path: the facts of the working folder, on the control connection.
  const Reply reply = core_->control.Command("MLST");
  if (reply.code != 250 || reply.lines.size() < 3) return std::nullopt;
  std::string_view line = reply.lines[1];
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  const LineResult read = ReadListingLine(line, ListingSyntax::kMlsd);
  if (read.verdict == LineVerdict::kUnparsed || read.fields.unique.empty()) return std::nullopt;
  return std::string(read.fields.unique);
}

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
                          known_size, another_follows, remote};
  const TransferOutcome outcome = RunTransfer(*core_, request, sink);
  return {outcome.offset, outcome.bytes};
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
