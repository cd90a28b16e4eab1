// Retrieve, GetFolder, RetrieveItem and the local path routines of the folder mode.
#include "remote/folder_download.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>

#include "module/vb_error.h"
#include "remote/entry_list.h"
#include "remote/local_paths.h"

namespace pullwire {
namespace {

constexpr std::int32_t kImageTransfer = 1;

// Called in a handler: a cancellation goes on to the run's error ending.
void Fail(RunContext& run, const std::string& routine, const std::exception& error) {
  if (IsCancellation(error)) throw;
  run.messages.SendHostMessage("ERROR_" + routine + ": " + error.what(), kErrorMessage);
  run.state.ErrorFlag = true;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void RequireSafeName(const std::string& name) {
  if (!IsSafeLocalName(name)) {
    throw std::runtime_error("refused to write the name \"" + name +
                             "\": it would leave the local folder");
  }
}

std::int64_t SizeOf(const std::string& text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || ptr != end) throw VbError(com::kVbTypeMismatch);
  if (error != std::errc()) throw VbError(com::kVbOverflow);
  return value;
}

// Writes what GetMatching completes into the journal under `remote_folder`, for as long as it
// lives.
class JournalBinding {
 public:
  JournalBinding(FtpComponent& ftp, std::map<std::string, JournalEntry>& journal,
                 const std::string& remote_folder)
      : ftp_(ftp) {
    ftp_.SetMatchedItemHandler([&journal, remote_folder](const MatchedItem& item) {
      const std::string key =
          item.RelativePath.empty() ? remote_folder : remote_folder + "/" + item.RelativePath;
      journal[key] = JournalEntry{item.LocalPath, item.Size, item.IsFolder};
    });
  }
  ~JournalBinding() {
    try {
      ftp_.SetMatchedItemHandler(nullptr);
    } catch (...) {
      // Clearing a handler only drops a function object; nothing to report from a destructor.
    }
  }
  JournalBinding(const JournalBinding&) = delete;
  JournalBinding& operator=(const JournalBinding&) = delete;

 private:
  FtpComponent& ftp_;
};

// The item's remote and local folders (normalised) and names.
void Locate(ModuleState& state, std::string& local_folder) {
  ItemTransfer& item = state.Transfer;
  item.RemotePath = ReturnPath(state.Selected.Folder);
  item.RemoteName = state.Selected.Name;
  item.LocalPath = ReturnPath(local_folder);
  item.LocalName = state.Selected.Name;
}

}  // namespace

std::string ReturnPath(std::string& path) {
  const std::size_t open = path.find('[');
  const std::size_t close = path.find(']');
  std::string result = open == std::string::npos || close == std::string::npos
                           ? Trimmed(path)
                           : Trimmed(path.substr(0, open) + path.substr(close + 1));
  if (result.empty() || result.back() != '/') result.push_back('/');
  path = result;
  return result;
}

void Retrieve(RunContext& run, std::string& local_folder) {
  const SelectedItem& selected = run.state.Selected;
  if (selected.Folder.empty()) return;
  if (selected.Kind == kKindFolderClose || selected.Kind == kKindFolderLink) {
    GetFolder(run, local_folder);
  } else {
    RetrieveItem(run, local_folder);
  }
}

void GetFolder(RunContext& run, std::string& local_folder) {
  ModuleState& state = run.state;
  ItemTransfer& item = state.Transfer;
  try {
    Locate(state, local_folder);
    RequireSafeName(item.LocalName);
    const std::string local = item.LocalPath + item.LocalName;
    if (!FolderExists(local)) CreateFolder(local);
    const std::string remote = item.RemotePath + item.RemoteName;
    Inform(run, "Downloading folder [" + remote + "] to [" + local + "]...");
    const bool blank = remote.find(' ') != std::string::npos;
    run.ftp.TransferType(kImageTransfer);
    run.ftp.ContinuePartialCopies(!state.Settings.Overwrite);
    const JournalBinding journal(run.ftp, state.TransferJournal, remote);
    run.ftp.GetMatching(blank ? "\"" + remote + "/*\"" : remote + "/*", local);
  } catch (const std::exception& error) {
    Fail(run, "GetFolder", error);
  }
}

void RetrieveItem(RunContext& run, std::string& local_folder) {
  ModuleState& state = run.state;
  ItemTransfer& item = state.Transfer;
  try {
    Locate(state, local_folder);
    if (item.RemoteName.empty()) return;
    item.ItemSize = SizeOf(state.Selected.Size);
    RequireSafeName(item.LocalName);
    GetLocalFileSize(run);
    if (item.LocalSize > 0 && state.Settings.Overwrite) item.LocalSize = 0;
    const std::string remote = item.RemotePath + item.RemoteName;
    const std::string local = item.LocalPath + item.LocalName;
    Inform(run, "Downloading file [" + remote + "] to [" + local + "] (" +
                    std::to_string(item.ItemSize) + " Bytes) ...");
    run.ftp.TransferType(kImageTransfer);
    run.ftp.GetFile(remote, local, item.LocalSize);
    // A copy shorter than listed (the file shrunk, or a server ended early without saying so)
    // is not taken for complete, so the delete pass leaves the remote file; it stays to be
    // continued. One that grew since it was listed is complete.
    const std::optional<std::int64_t> length = RegularFileLength(local);
    if (length && *length < item.ItemSize) {
      throw std::runtime_error("the copy " + local + " has " + std::to_string(*length) +
                               " of the " + std::to_string(item.ItemSize) +
                               " bytes listed although the server reported success");
    }
    if (length) state.TransferJournal[remote] = JournalEntry{local, *length, false};
  } catch (const std::exception& error) {
    Fail(run, "RetrieveItem", error);
  }
}

void GetLocalFileSize(RunContext& run) {
  ItemTransfer& item = run.state.Transfer;
  try {
    item.LocalSize = RegularFileLength(item.LocalPath + item.LocalName).value_or(0);
  } catch (const std::exception& error) {
    item.LocalSize = 0;
    Fail(run, "GetLocalFileSize", error);
  }
}

bool FolderExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

void CreateFolder(const std::string& path) {
  if (RegularFileLength(path)) return;
  if (::mkdir(path.c_str(), 0777) != 0) {
    throw std::runtime_error("cannot create the folder " + path + ": " + std::strerror(errno));
  }
}

}  // namespace pullwire
