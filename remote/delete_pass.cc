// DeleteAfterCopy and DeleteRemoteTree with the pending-error rules, restricted to the journal.
#include "remote/delete_pass.h"

#include <exception>
#include <optional>
#include <set>
#include <string>

#include "remote/entry_list.h"
#include "remote/folder_download.h"
#include "remote/local_paths.h"
#include "remote/remote_selection.h"

namespace pullwire {
namespace {

// Deeper than any walk GetMatching makes (32 levels below each top-level folder).
constexpr int kMaxWalkDepth = 64;

struct PendingError {
  ErrorCode code{};  // none (0) for a failure that is not the component's
  std::string description;
};

bool CountsAsSuccess(const std::optional<PendingError>& pending) {
  return !pending || pending->code == ErrorCode::kInvalidValue ||
         pending->code == ErrorCode::kNoSuchFile;
}

// `folder` and `name` joined by exactly one "/".
std::string JoinPath(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

class DeletePass {
 public:
  explicit DeletePass(RunContext& run) : run_(run) {}

  void Run();

 private:
  // A step that may fail: its error becomes the pending one. True when it succeeded.
  template <typename Step>
  bool Try(Step step) {
    try {
      step();
      return true;
    } catch (const FtpError& error) {
      if (IsCancellation(error)) throw;
      pending_ = PendingError{error.code(), error.what()};
    } catch (const std::exception& error) {
      pending_ = PendingError{ErrorCode{}, error.what()};
    }
    return false;
  }

  const JournalEntry* Journaled(const std::string& path, bool folder) const {
    const auto found = run_.state.TransferJournal.find(path);
    if (found == run_.state.TransferJournal.end() || found->second.IsFolder != folder) {
      return nullptr;
    }
    return &found->second;
  }
  // Enters `folder` and lists it into EntryList (filter applied); false when it cannot be
  // entered, which leaves it unlisted.
  bool EnterAndList(const std::string& folder);
  // Deletes the file `path` when its complete copy is still on disk; a file this run did not
  // copy stays, silently (its folder's removal then fails).
  void DeleteCopiedFile(const std::string& path);
  // Empties `folder` and removes it unless it ends in "/". `folder` is the caller's variable:
  // it gains a "/" when the folder holds a subfolder.
  void DeleteRemoteTree(const std::string& top, std::string& folder, int depth);
  // The outcome message of one top-level item.
  void Report(const std::string& path);

  RunContext& run_;
  std::optional<PendingError> pending_;
  std::set<std::string> walked_;
};

bool DeletePass::EnterAndList(const std::string& folder) {
  if (!Try([&] { run_.ftp.WorkingDirectory(folder); })) return false;
  Try([&] { run_.ftp.TransferType(0); });
  Try([&] { run_.ftp.ListDirectory(); });
  BuildEntryList(run_.state, run_.ftp, run_.messages, run_.ftp.Listing(), RemoteList::kEntryList,
                 true);
  return true;
}

void DeletePass::DeleteCopiedFile(const std::string& path) {
  const JournalEntry* copy = Journaled(path, false);
  if (copy == nullptr) return;
  Try([&] {
    if (RegularFileLength(copy->LocalPath) != copy->Size) {
      throw std::runtime_error("the local copy " + copy->LocalPath +
                               " is no longer complete: " + path + " stays on the server");
    }
    run_.ftp.DeleteFile(path);
  });
}

void DeletePass::DeleteRemoteTree(const std::string& top, std::string& folder, int depth) {
  const std::string start = folder;
  if (depth > kMaxWalkDepth) {
    pending_ = PendingError{ErrorCode{}, "the folder " + start + " lies too deep: not walked"};
    return;
  }
  // Each round lists the folder afresh and walks at most one subfolder not walked yet, so the
  // rounds end.
  for (int round = 0;; ++round) {
    if (!EnterAndList(folder)) {
      if (round == 0) return;
      break;
    }
    bool walked_one = false;
    const std::size_t count = run_.state.EntryList.size() - 1;
    for (std::size_t i = 1; i <= count && !walked_one; ++i) {
      const RemoteEntry entry = run_.state.EntryList[i];
      if (entry.Name.empty() || entry.IsFolderLink) continue;
      if (!entry.IsFolder) {
        DeleteCopiedFile(JoinPath(folder, entry.Name));
        continue;
      }
      std::string child = ReturnPath(folder) + entry.Name;
      if (Journaled(child, true) == nullptr || !walked_.insert(child).second) continue;
      DeleteRemoteTree(top, child, depth + 1);
      if (pending_ && pending_->code == ErrorCode::kNoSuchFile) {
        if (round == 0) return;
        break;
      }
      pending_.reset();
      walked_one = true;
    }
    if (!walked_one) break;
  }
  if (!start.empty() && start.back() == '/') return;
  Try([&] { run_.ftp.WorkingDirectory(top); });
  Try([&] { run_.ftp.RemoveDirectory(start); });
}

void DeletePass::Report(const std::string& path) {
  if (!CountsAsSuccess(pending_)) {
    run_.messages.SendHostMessage("Delete denied: " + path, kWarningMessage);
  } else {
    Inform(run_, "Delete " + run_.state.Settings.Host + ":" + path);
  }
}

void DeletePass::Run() {
  ModuleState& state = run_.state;
  if (state.TransferJournal.empty()) return;  // nothing was copied, so nothing may go
  const std::string remote_dir = state.Settings.RemoteDir;
  // Nothing is deleted from a folder that cannot be entered or listed: its entries would be
  // judged by the names of another folder.
  const bool listed = Try([&] { run_.ftp.WorkingDirectory(remote_dir); }) &&
                      Try([&] { run_.ftp.TransferType(0); }) &&
                      Try([&] { run_.ftp.ListDirectory(); });
  if (!listed) {
    std::string shown = remote_dir;
    run_.messages.SendHostMessage("Delete denied: " + ReturnPath(shown), kWarningMessage);
    return;
  }
  if (!BuildEntryList(state, run_.ftp, run_.messages, run_.ftp.Listing(),
                      RemoteList::kSubEntryList, false)) {
    return;
  }
  const std::size_t count = state.SubEntryList.size() - 1;
  for (std::size_t i = 1; i <= count; ++i) {
    RemoteSelFiles(state, run_.messages, RemoteList::kSubEntryList, remote_dir,
                   static_cast<std::int32_t>(i));
    if (state.Selected.Name.empty()) continue;
    pending_.reset();
    const std::string top = ReturnPath(state.Selected.Folder);
    std::string path = top + state.Selected.Name;
    const bool file = state.Selected.Kind == kKindFile;
    if (Journaled(path, !file) == nullptr) continue;
    if (file) {
      DeleteCopiedFile(path);
    } else {
      walked_.insert(path);
      DeleteRemoteTree(top, path, 0);
    }
    Report(path);
  }
}

}  // namespace

void DeleteAfterCopy(RunContext& run) { DeletePass(run).Run(); }

}  // namespace pullwire
