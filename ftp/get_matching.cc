// GetMatching: the folder walk, its bounds, its local folders and the continuing of copies.
#include "ftp/get_matching.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "ftp/data_sink.h"
#include "ftp/entry_table.h"
#include "ftp/errors.h"
#include "ftp/listing_parser.h"
#include "ftp/local_file.h"
#include "ftp/local_folder.h"
#include "ftp/parallel_fetch.h"
#include "ftp/wildcard.h"

namespace pullwire::ftp {
namespace {

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

std::string JoinRelative(const std::string& relative, const std::string& name) {
  return relative.empty() ? name : relative + "/" + name;
}

// How one listed file is to be fetched.
struct FilePlan {
  FolderFile file;
  bool complete = false;  // the local copy is whole (file.offset bytes): nothing to fetch
};

class Walker {
 public:
  Walker(Session& session, std::string pattern, const MatchingOptions& options)
      : session_(session), pattern_(std::move(pattern)), options_(options),
        ascii_(session.transfer_type() == TransferType::kAscii) {}

  // Fetches the wanted entries of the working folder `here` into `local`; `relative` names
  // `here` below the walk's first folder.
  void Walk(const LocalFolder& local, const std::string& here, const std::string& relative,
            int depth);

  // The walk's first folder has this unique id (when the server gives one).
  void Enter(std::optional<std::string> id) {
    if (id) entered_ids_.insert(std::move(*id));
  }
  const MatchingResult& result() const { return result_; }
  const std::optional<FtpError>& first_error() const { return first_error_; }

 private:
  bool Wanted(const EntryView& entry, int depth) const {
    return depth > 0 || WildcardMatch(pattern_, entry.name);
  }
  FilePlan Plan(const EntryView& entry, const LocalFolder& local);
  // Fetches the wanted files of a folder: over the extra sessions too when there are several.
  void FetchFiles(const std::vector<EntryView>& entries, const LocalFolder& local,
                  const std::string& here, const std::string& relative);
  // `another_follows`: another file follows on this session (its EPSV may travel ahead).
  FileOutcome FetchOne(const FolderFile& file, const LocalFolder& local, bool another_follows);
  void Conclude(const FolderFile& file, const FileOutcome& outcome, const std::string& relative);
  // Enters `name` (a folder, or a link that may be one) and walks it; false when the server
  // would not let a link be entered (a folder that cannot be entered is a failure).
  bool Descend(const EntryView& entry, const LocalFolder& local, const std::string& here,
               const std::string& relative, int depth);
  // Keeps the first failure and goes on, unless the session is gone.
  void Record(const FtpError& error);
  void Report(CopiedItem item) const {
    if (options_.on_copied) options_.on_copied(item);
  }

  Session& session_;
  std::string pattern_;
  MatchingOptions options_;
  bool ascii_;
  std::set<std::string> entered_;
  // The unique ids of the folders entered, where the server gives them: a folder met again under
  // another path (a link that pyftpdlib's MLSD shows as a folder, a bind mount) is not entered.
  std::set<std::string, std::less<>> entered_ids_;
  std::int64_t listed_ = 0;
  MatchingResult result_;
  std::optional<FtpError> first_error_;
};

void Walker::Record(const FtpError& error) {
  if (!session_.logged_in() || error.code() == ErrorCode::kCancelled) throw error;
  if (!first_error_) first_error_ = error;
}

FilePlan Walker::Plan(const EntryView& entry, const LocalFolder& local) {
  if (!IsSafeEntryName(entry.name)) {
    throw FtpError(ErrorCode::kUnsafeName,
                   fmt::format("the remote name \"{}\" cannot be used as a local file name",
                               PrintableText(entry.name)));
  }
  FilePlan plan;
  FolderFile& file = plan.file;
  file.name = entry.name;
  file.local = local.path() / file.name;
  // A link's listed size is that of the link, not of the file it leads to.
  if (entry.type == EntryType::kFile) file.known_size = entry.size;
  const LocalFolder::Item item = local.Look(file.name);
  if (item.kind == LocalFolder::Kind::kLink) ThrowLinkRefused("local file", file.local);
  if (item.kind == LocalFolder::Kind::kOther) {
    throw FtpError(ErrorCode::kLocalFileError,
                   fmt::format("cannot write {}: something other than a file stands there",
                               PrintableText(file.local.string(), 1000)));
  }
  if (!options_.continue_partial || ascii_ || item.kind != LocalFolder::Kind::kFile ||
      item.size == 0) {
    return plan;
  }
  if (!file.known_size) file.known_size = session_.Size(file.name);
  if (!file.known_size) return plan;  // the server cannot tell: fetched whole
  if (item.size > *file.known_size) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("the local copy {} has {} bytes, more than the {} bytes of the "
                               "remote file: left as it is",
                               PrintableText(file.local.string(), 1000), item.size,
                               *file.known_size));
  }
  plan.complete = item.size == *file.known_size;
  file.offset = item.size;
  return plan;
}

FileOutcome Walker::FetchOne(const FolderFile& file, const LocalFolder& local,
                             bool another_follows) {
  FileOutcome outcome;
  try {
    LocalFile copy =
        LocalFile::ContinueIn(local.fd(), file.name, file.local, file.offset, session_.sys());
    FileSink sink(copy, ascii_);
    outcome.bytes =
        session_.Retrieve(file.name, sink, file.offset, file.known_size, another_follows).bytes;
    outcome.size = copy.Commit();
  } catch (const FtpError& error) {
    outcome.error = error;
  }
  return outcome;
}

void Walker::Conclude(const FolderFile& file, const FileOutcome& outcome,
                      const std::string& relative) {
  if (outcome.error) {
    Record(*outcome.error);
    return;
  }
  // The server said it sent all, but less than the listing's size is here (a connection ended
  // early with "226" anyway, or a file shrunk since it was listed): not complete. A file that
  // grew since is.
  if (file.known_size && outcome.size < *file.known_size) {
    Record(FtpError(ErrorCode::kTransferIncomplete,
                    fmt::format("RETR {} ended at {} of the {} bytes listed although the server "
                                "reported success: the copy {} is incomplete",
                                PrintableText(file.name, 300), outcome.size, *file.known_size,
                                PrintableText(file.local.string(), 1000))));
    return;
  }
  result_.bytes += outcome.bytes;
  ++result_.files;
  Report({JoinRelative(relative, file.name), file.local.string(), outcome.size, false});
}

void Walker::FetchFiles(const std::vector<EntryView>& entries, const LocalFolder& local,
                        const std::string& here, const std::string& relative) {
  std::vector<FolderFile> batch;
  for (const EntryView& entry : entries) {
    try {
      FilePlan plan = Plan(entry, local);
      if (plan.complete) {
        Report({JoinRelative(relative, plan.file.name), plan.file.local.string(), plan.file.offset,
                false});
      } else {
        batch.push_back(std::move(plan.file));
      }
    } catch (const FtpError& error) {
      Record(error);
    }
  }
  const std::vector<ExtraSession*> extras =
      batch.size() > 1 && options_.extra_sessions != nullptr
          ? options_.extra_sessions->For(session_)
          : std::vector<ExtraSession*>{};
  if (!extras.empty()) {
    const std::vector<FileOutcome> outcomes =
        FetchFolderFiles(session_, extras, here, local, batch);
    for (std::size_t i = 0; i < batch.size(); ++i) Conclude(batch[i], outcomes[i], relative);
    return;
  }
  for (std::size_t i = 0; i < batch.size(); ++i) {
    Conclude(batch[i], FetchOne(batch[i], local, i + 1 < batch.size()), relative);
  }
}

bool Walker::Descend(const EntryView& entry, const LocalFolder& local, const std::string& here,
                     const std::string& relative, int depth) {
  const bool is_link = entry.type == EntryType::kLink;
  const std::string name(entry.name);
  // A loop, or a second way into a folder already entered: skipped.
  if (!entry.unique.empty() && entered_ids_.count(entry.unique) != 0) return true;
  std::string link_path;
  if (is_link && !entry.link_target.empty()) {
    link_path = ResolveLinkTarget(here, std::string(entry.link_target));
    if (entered_.count(link_path) != 0) return true;
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
      if (!entry.unique.empty()) entered_ids_.emplace(entry.unique);
      if (depth + 1 > options_.max_depth) {
        throw FtpError(ErrorCode::kTooDeep,
                       fmt::format("the folder {} lies more than {} levels deep: not fetched",
                                   PrintableText(there, 500), options_.max_depth));
      }
      const LocalFolder sub = local.Sub(name);
      ++result_.folders;
      Walk(sub, there, JoinRelative(relative, name), depth + 1);
    }
  } catch (const FtpError& error) {
    Record(error);
  }
  session_.ChangeDirectory(here);
  return true;
}

void Walker::Walk(const LocalFolder& local, const std::string& here, const std::string& relative,
                  int depth) {
  if (listed_ > options_.max_entries) {
    throw FtpError(ErrorCode::kTooManyEntries,
                   fmt::format("the walk listed more than {} entries: {} and what follows it "
                               "were not fetched",
                               options_.max_entries, PrintableText(here, 500)));
  }
  entered_.insert(here);
  Report({relative, local.path().string(), 0, true});
  const EntryTable listing = session_.ListTable();
  listed_ += static_cast<std::int64_t>(listing.size());
  std::vector<EntryView> files;
  std::vector<EntryView> folders;
  std::vector<EntryView> links;
  for (std::size_t i = 0; i < listing.size(); ++i) {
    const EntryView entry = listing.at(i);
    if (!Wanted(entry, depth)) continue;
    switch (entry.type) {
      case EntryType::kFile:
        files.push_back(entry);
        break;
      case EntryType::kFolder:
        folders.push_back(entry);
        break;
      case EntryType::kLink:
        links.push_back(entry);
        break;
    }
  }
  FetchFiles(files, local, here, relative);
  for (const EntryView& folder : folders) {
    if (!IsSafeEntryName(folder.name)) continue;
    Descend(folder, local, here, relative, depth);
  }
  for (const EntryView& link : links) {
    if (!IsSafeEntryName(link.name)) continue;
    if (!Descend(link, local, here, relative, depth)) FetchFiles({link}, local, here, relative);
  }
}

}  // namespace

MatchingResult GetMatching(Session& session, const std::string& wildcard,
                           const std::string& local_folder, const MatchingOptions& options) {
  const WildcardPath match = ParseWildcardPath(wildcard);
  const LocalFolder root = LocalFolder::Open(local_folder);
  const std::string start = session.CurrentDirectory();
  Walker walker(session, match.pattern, options);
  try {
    if (!match.folder.empty()) session.ChangeDirectory(match.folder);
    walker.Enter(session.FolderId());
    walker.Walk(root, match.folder.empty() ? start : session.CurrentDirectory(), "", 0);
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
