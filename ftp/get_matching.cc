// GetMatching: the folder walk, its bounds and its local folders.
#include "ftp/get_matching.h"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include "ftp/data_sink.h"
#include "ftp/errors.h"
#include "ftp/listing_parser.h"
#include "ftp/local_file.h"
#include "ftp/wildcard.h"

namespace pullwire::ftp {
namespace {

namespace fs = std::filesystem;

// Creates a local folder of the mirror, refusing to write through a symbolic link or into a
// file that stands where the folder should be.
void EnsureLocalFolder(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (fs::is_symlink(status)) {
    throw FtpError(ErrorCode::kLocalFileError,
                   fmt::format("the local folder {} is a symbolic link, which is not written "
                               "through",
                               PrintableText(path.string(), 1000)));
  }
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) ThrowLocalError("create the folder", path, EEXIST);
    return;
  }
  if (!fs::create_directory(path, error) && error) {
    ThrowLocalError("create the folder", path, error.value());
  }
}

// The folder a link's target text names, seen from the folder `here` ("/top/inner" and ".."
// give "/top"), with "." and ".." resolved as text. Servers that report logical paths in PWD
// (pyftpdlib) show a loop only this way.
std::string ResolveLinkTarget(const std::string& here, const std::string& target) {
  std::vector<std::string> parts;
  const std::string joined = target.rfind('/', 0) == 0 ? target : here + "/" + target;
  std::size_t pos = 0;
  while (pos <= joined.size()) {
    const std::size_t end = std::min(joined.find('/', pos), joined.size());
    const std::string part = joined.substr(pos, end - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = end + 1;
  }
  std::string path;
  for (const std::string& part : parts) path += "/" + part;
  return path.empty() ? "/" : path;
}

class Walker {
 public:
  Walker(Session& session, std::string pattern, const MatchingOptions& options)
      : session_(session), pattern_(std::move(pattern)), options_(options),
        ascii_(session.transfer_type() == TransferType::kAscii) {}

  // Fetches the wanted entries of the working folder `here` into `local`.
  void Walk(const fs::path& local, const std::string& here, int depth);

  const MatchingResult& result() const { return result_; }
  const std::optional<FtpError>& first_error() const { return first_error_; }

 private:
  bool Wanted(const ListingEntry& entry, int depth) const {
    return depth > 0 || WildcardMatch(pattern_, entry.name);
  }
  // `another_follows`: the next step is another Fetch (its EPSV may travel ahead).
  void Fetch(const ListingEntry& entry, const fs::path& local, bool another_follows = false);
  // Enters `name` (a folder, or a link that may be one) and walks it; false when the server
  // would not let a link be entered (a folder that cannot be entered is a failure).
  bool Descend(const ListingEntry& entry, const fs::path& local, const std::string& here,
               int depth);
  // Keeps the first failure and goes on, unless the session is gone.
  void Record(const FtpError& error);

  Session& session_;
  std::string pattern_;
  MatchingOptions options_;
  bool ascii_;
  std::set<std::string> entered_;
  MatchingResult result_;
  std::optional<FtpError> first_error_;
};

void Walker::Record(const FtpError& error) {
  if (!session_.logged_in()) throw error;
  if (!first_error_) first_error_ = error;
}

void Walker::Fetch(const ListingEntry& entry, const fs::path& local, bool another_follows) {
  try {
    if (!IsSafeEntryName(entry.name)) {
      throw FtpError(ErrorCode::kUnsafeName,
                     fmt::format("the remote name \"{}\" cannot be used as a local file name",
                                 PrintableText(entry.name)));
    }
    LocalFile file = LocalFile::Replace(local / entry.name, session_.sys());
    FileSink sink(file, ascii_);
    const std::optional<std::int64_t> known =
        entry.type == EntryType::kFile ? std::optional<std::int64_t>(entry.size) : std::nullopt;
    result_.bytes += session_.Retrieve(entry.name, sink, 0, known, another_follows).bytes;
    file.Commit();
    ++result_.files;
  } catch (const FtpError& error) {
    Record(error);
  }
}

bool Walker::Descend(const ListingEntry& entry, const fs::path& local, const std::string& here,
                     int depth) {
  const bool is_link = entry.type == EntryType::kLink;
  const std::string& name = entry.name;
  std::string link_path;
  if (is_link && !entry.link_target.empty()) {
    link_path = ResolveLinkTarget(here, entry.link_target);
    if (entered_.count(link_path) != 0) return true;  // a loop, or a second way in: skipped
  }
  try {
    session_.ChangeDirectory(name);
  } catch (const FtpError& error) {
    const bool refused =
        error.code() == ErrorCode::kNoSuchFile || error.code() == ErrorCode::kCommandFailed;
    if (!session_.logged_in() || !refused) throw;
    if (!is_link) Record(error);
    return false;
  }
  try {
    const std::string there = session_.CurrentDirectory();
    // A link back to a folder already entered (a loop, or a second way into the same folder).
    if (entered_.count(there) == 0) {
      if (!link_path.empty()) entered_.insert(link_path);
      if (depth + 1 > options_.max_depth) {
        throw FtpError(ErrorCode::kTooDeep,
                       fmt::format("the folder {} lies more than {} levels deep: not fetched",
                                   PrintableText(there, 500), options_.max_depth));
      }
      const fs::path sub = local / name;
      EnsureLocalFolder(sub);
      ++result_.folders;
      Walk(sub, there, depth + 1);
    }
  } catch (const FtpError& error) {
    Record(error);
  }
  session_.ChangeDirectory(here);
  return true;
}

void Walker::Walk(const fs::path& local, const std::string& here, int depth) {
  entered_.insert(here);
  const ParsedListing listing = session_.List();
  std::vector<const ListingEntry*> files;
  std::vector<const ListingEntry*> folders;
  std::vector<const ListingEntry*> links;
  for (const ListingEntry& entry : listing.entries) {
    if (!Wanted(entry, depth)) continue;
    switch (entry.type) {
      case EntryType::kFile: files.push_back(&entry); break;
      case EntryType::kFolder: folders.push_back(&entry); break;
      case EntryType::kLink: links.push_back(&entry); break;
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) Fetch(*files[i], local, i + 1 < files.size());
  for (const ListingEntry* folder : folders) {
    if (!IsSafeEntryName(folder->name)) continue;
    Descend(*folder, local, here, depth);
  }
  for (const ListingEntry* link : links) {
    if (!IsSafeEntryName(link->name)) continue;
    if (!Descend(*link, local, here, depth)) Fetch(*link, local);
  }
}

}  // namespace

MatchingResult GetMatching(Session& session, const std::string& wildcard,
                           const std::string& local_folder, const MatchingOptions& options) {
  const WildcardPath match = ParseWildcardPath(wildcard);
  if (local_folder.empty()) throw FtpError(ErrorCode::kInvalidValue, "the local folder is empty");
  std::error_code error;
  if (!fs::is_directory(local_folder, error)) {
    throw FtpError(ErrorCode::kLocalFileError,
                   fmt::format("the local folder {} does not exist or is not a folder",
                               PrintableText(local_folder, 1000)));
  }
  const std::string start = session.CurrentDirectory();
  Walker walker(session, match.pattern, options);
  try {
    if (!match.folder.empty()) session.ChangeDirectory(match.folder);
    walker.Walk(local_folder, match.folder.empty() ? start : session.CurrentDirectory(), 0);
  } catch (const FtpError&) {
    if (session.logged_in()) {
      try {
        session.ChangeDirectory(start);
      } catch (const FtpError&) {
      }
    }
    throw;
  }
  session.ChangeDirectory(start);
  if (walker.first_error()) throw *walker.first_error();
  return walker.result();
}

}  // namespace pullwire::ftp
