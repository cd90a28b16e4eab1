// EngineComponent: component members mapped onto ftp::Session, GetFile and GetMatching.
#include "component/engine_component.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include "ftp/errors.h"
#include "ftp/get_file.h"
#include "ftp/get_matching.h"
#include "ftp/server_name.h"

namespace pullwire {
namespace {

[[noreturn]] void InvalidValue(const std::string& description) {
  throw FtpError(ErrorCode::kInvalidValue, description);
}

std::string TypeLetter(ftp::EntryType type) {
  switch (type) {
    case ftp::EntryType::kFolder: return "D";
    case ftp::EntryType::kLink: return "L";
    case ftp::EntryType::kFile: return "F";
  }
  return "F";
}

constexpr int kDefaultSessions = 4;
constexpr int kMaxSessions = 16;

}  // namespace

int SessionsWanted() {
  const char* text = std::getenv("PULLWIRE_SESSIONS");
  if (text == nullptr) return kDefaultSessions;
  const std::string_view view(text);
  int value = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  if (view.empty() || end != view.data() + view.size()) return kDefaultSessions;
  if (error == std::errc::result_out_of_range) return view.front() == '-' ? 1 : kMaxSessions;
  return std::clamp(value, 1, kMaxSessions);
}

EngineListing::EngineListing(ftp::EntryTable table) : table_(std::move(table)) {
  const ftp::ListingNotes& notes = table_.notes;
  if (!notes.unparsed_lines.empty()) {
    style_ = kListingStyleMixed;
    const std::size_t shown = std::min(notes.unparsed_lines.size(), kMaxUnparsedLines);
    for (std::size_t i = 0; i < shown; ++i) {
      if (i > 0) unparsed_ += '\n';
      unparsed_ += ftp::PrintableText(notes.unparsed_lines[i], 500);
    }
  } else if (table_.size() > 0) {
    style_ = kListingStyleDos;
    for (std::size_t i = 0; i < table_.size() && style_ == kListingStyleDos; ++i) {
      if (table_.at(i).format != ftp::LineFormat::kDos) style_ = kListingStyleUnix;
    }
  }
  const std::size_t named = std::min(notes.unsafe_names.size(), kMaxWarnings);
  for (std::size_t i = 0; i < named; ++i) {
    warnings_.push_back(fmt::format("Remote entry \"{}\" left out: {}",
                                    ftp::EscapedText(notes.unsafe_names[i], 300),
                                    notes.unsafe_reasons[i]));
  }
  if (notes.unsafe_count > named) {
    warnings_.push_back(fmt::format("... and {} more remote entries left out: their names cannot "
                                    "be local file names",
                                    notes.unsafe_count - named));
  }
}

ListEntry EngineListing::EntryAt(std::size_t index) const {
  if (index >= table_.size()) {
    InvalidValue(fmt::format("the listing has no entry {} (it holds {})", index, table_.size()));
  }
  const ftp::EntryView entry = table_.at(index);
  ListEntry item;
  item.Name = entry.name;
  item.TypeLetter = TypeLetter(entry.type);
  item.Size = entry.size;
  item.ExtraNumber = entry.permission_bits;
  item.ExtraText = entry.modified;
  return item;
}

void EngineComponent::OperationTimeout(std::int32_t milliseconds) {
  if (milliseconds <= 0) {
    InvalidValue(fmt::format("OperationTimeout must be more than 0 ms, not {}", milliseconds));
  }
  session_.set_timeout(ftp::Milliseconds(milliseconds));
}

void EngineComponent::TransferType(std::int32_t type) {
  switch (type) {
    case 0: session_.set_transfer_type(ftp::TransferType::kAscii); return;
    case 1:
    case 3: session_.set_transfer_type(ftp::TransferType::kImage); return;
    case 2: session_.set_transfer_type(ftp::TransferType::kEbcdic); return;
    default: InvalidValue(fmt::format("TransferType must be 0 to 3, not {}", type));
  }
}

void EngineComponent::PassiveMode(bool passive) { session_.set_passive(passive); }

void EngineComponent::ProxyKind(std::int32_t kind) {
  if (kind < 0 || kind > 7) InvalidValue(fmt::format("ProxyKind must be 0 to 7, not {}", kind));
  proxy_.kind = static_cast<ftp::ProxyKind>(kind);
}

void EngineComponent::ProxyServer(const std::string& host) { proxy_.host = host; }
void EngineComponent::ProxyLoginName(const std::string& name) { proxy_.user = name; }
void EngineComponent::ProxyLoginPassword(const std::string& password) {
  proxy_.password = password;
}

void EngineComponent::ProxyServerPort(std::int32_t port) {
  if (port < 1 || port > 65535) {
    InvalidValue(fmt::format("ProxyServerPort must be 1 to 65535, not {}", port));
  }
  proxy_.port = static_cast<std::uint16_t>(port);
}

std::int32_t EngineComponent::ConnectionState() const {
  return session_.logged_in() ? kConnectionStateConnected : 0;
}

void EngineComponent::Login(const std::string& host, const std::string& user,
                            const std::string& password, const std::string& account,
                            std::int32_t port) {
  if (port < 0 || port > 65535) {
    InvalidValue(fmt::format("the port must be 0 to 65535, not {}", port));
  }
  ftp::LoginParams login;
  login.host = host;
  login.port = port == 0 ? ftp::kDefaultFtpPort : static_cast<std::uint16_t>(port);
  login.user = user;
  login.password = password;
  login.account = account;
  session_.set_proxy(proxy_);
  extra_sessions_.Close();
  extra_sessions_.set_total(SessionsWanted());
  session_.Login(login);
}

std::vector<std::string> EngineComponent::LoginWarnings() const {
  if (!session_.logged_in()) return {};
  const std::string& host = session_.login_params().host;
  switch (session_.certificate_check()) {
    case ftp::Session::CertificateCheck::kPinned:
      return {fmt::format("The certificate of [{}] is not verified: it is accepted because its "
                          "SHA-256 fingerprint is the pinned one",
                          host)};
    case ftp::Session::CertificateCheck::kUnverified:
      return {fmt::format("The certificate of [{}] is not verified ({}=1): the connection is "
                          "encrypted, but the server may not be the one it claims to be",
                          host, ftp::kTlsInsecureVariable)};
    case ftp::Session::CertificateCheck::kNoTls:
    case ftp::Session::CertificateCheck::kVerified:
      break;
  }
  return {};
}

void EngineComponent::Logout() {
  extra_sessions_.Close();
  session_.Logout();
}

void EngineComponent::WorkingDirectory(const std::string& remote_path) {
  session_.ChangeDirectory(remote_path);
}

std::string EngineComponent::CurrentDirectory() {
  return session_.CurrentDirectory();
}

void EngineComponent::ListDirectory() {
  // A failed listing leaves no stale entries of an earlier folder behind.
  listing_ = EngineListing();
  listing_ = EngineListing(session_.ListTable());
}

void EngineComponent::GetFile(const std::string& remote_file, const std::string& local_destination,
                              std::optional<std::int64_t> restart_offset) {
  last_transfer_bytes_ = 0;
  // In place (offset 0 without one): the caller already writes to a fresh temporary file, so
  // the engine's own write-beside-and-rename would only do that work twice.
  last_transfer_bytes_ =
      ftp::GetFile(session_, remote_file, local_destination, restart_offset.value_or(0)).bytes;
}

void EngineComponent::GetMatching(const std::string& remote_wildcard,
                                  const std::string& local_folder) {
  ftp::MatchingOptions options;
  options.continue_partial = continue_copies_;
  options.extra_sessions = &extra_sessions_;
  options.on_copied = [this](const ftp::CopiedItem& item) {
    if (matched_handler_) {
      matched_handler_({item.relative_path, item.local_path, item.size, item.is_folder});
    }
  };
  ftp::GetMatching(session_, remote_wildcard, local_folder, options);
}

void EngineComponent::SetProgressEventHandler(ProgressEventHandler handler) {
  if (!handler) {
    session_.set_progress_handler({});
    return;
  }
  session_.set_progress_handler([handler = std::move(handler)](const ftp::TransferProgress& p) {
    handler(ComponentProgress{p.name, p.bytes, p.total, p.start, p.elapsed.count(), p.finished});
  });
}

void EngineComponent::DeleteFile(const std::string& remote_path) {
  session_.Delete(remote_path);
}

void EngineComponent::RemoveDirectory(const std::string& remote_path) {
  session_.RemoveDirectory(remote_path);
}

}  // namespace pullwire
