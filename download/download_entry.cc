// The per-file transfer of the flat mode.
#include "download/download_entry.h"

#include <unistd.h>

#include <charconv>
#include <limits>

#include "download/local_copy.h"
#include "module/variable_slots.h"
#include "module/vb_error.h"
#include "remote/local_paths.h"

namespace pullwire {
namespace {

constexpr std::int32_t kAsciiTransfer = 0;
constexpr std::int32_t kZipTransfer = 3;

const RemoteEntry& CurrentEntry(const ModuleState& state) {
  const std::int32_t index = state.CurrentIndex;
  if (index < 0 || static_cast<std::size_t>(index) >= state.EntryList.size()) {
    throw VbError(com::kVbSubscriptOutOfRange);
  }
  return state.EntryList[static_cast<std::size_t>(index)];
}

void RequireSafeDestination(const std::string& local_dir, const std::string& name) {
  if (local_dir.empty()) throw RunError("no local folder is set (LocalDir is empty)");
  if (!IsSafeLocalName(name)) {
    throw RunError("refused to write the file name \"" + name + "\": it would leave the local folder");
  }
}

enum class CopyVerdict {
  kComplete,  // put in place, length checked
  kKept,      // put in place, but its length could not be compared
  kRemoved,   // short: no file under the name any more
  kMissing,   // the component wrote nothing
};

// A short copy is no copy: the earlier file it was to replace (Overwrite asked for that) goes
// too, so that nothing stale stands under the name, and the host learns why.
void DiscardShortCopy(RunContext& run, LocalCopy& copy, const std::string& name,
                      std::int64_t received, std::int64_t listed) {
  copy.Discard();
  const std::string& path = run.state.CurrentLocalPath;
  const bool earlier = LocalFileExists(path) && ::unlink(path.c_str()) == 0;
  run.messages.SendHostMessage("Download incomplete [" + name + "]: " + std::to_string(received) +
                                   " of " + std::to_string(listed) +
                                   " bytes received; the copy was discarded" +
                                   (earlier ? " and the earlier local file removed" : ""),
                               kWarningMessage);
}

// The completeness check; everything in it that fails leaves the copy where it is.
CopyVerdict CheckCopy(RunContext& run, LocalCopy& copy, const std::string& name,
                      std::optional<std::int64_t> listed) {
  const std::optional<std::int64_t> length = copy.Length();
  if (!length) return CopyVerdict::kMissing;
  std::int64_t measured = *length;
  if (run.state.Settings.TransferMode == kAsciiTransfer) {
    try {
      measured = run.ftp.LastTransferBytes();
    } catch (...) {
      return CopyVerdict::kKept;
    }
  }
  if (!listed) return CopyVerdict::kKept;
  if (measured < *listed) {
    DiscardShortCopy(run, copy, name, measured, *listed);
    return CopyVerdict::kRemoved;
  }
  return CopyVerdict::kComplete;
}

// Fetches the entry into a fresh copy and puts it in place when the check allows. A copy not put
// in place, whatever ends the transfer (a failure, a cancel, a short length), discards itself.
CopyVerdict Transfer(RunContext& run, const std::string& name, const RemoteEntry& entry) {
  const CommandSettings& settings = run.state.Settings;
  const auto kind = IsZipEntry(settings.TransferMode, name) ? LocalCopy::Destination::kFolder
                                                            : LocalCopy::Destination::kFile;
  LocalCopy copy = LocalCopy::Create(settings.LocalDir, name, kind);
  run.ftp.GetFile(name, copy.ComponentDestination());
  const CopyVerdict verdict = CheckCopy(run, copy, name, ParseListedSize(entry.Size));
  if (verdict == CopyVerdict::kComplete || verdict == CopyVerdict::kKept) {
    copy.PlaceAt(run.state.CurrentLocalPath);
  }
  return verdict;
}

void CountDownload(ModuleState& state) {
  if (state.DownloadedCount == std::numeric_limits<std::int32_t>::max()) throw VbError(com::kVbOverflow);
  ++state.DownloadedCount;
}

}  // namespace

bool IsZipEntry(std::int32_t transfer_mode, const std::string& name) {
  if (transfer_mode != kZipTransfer) return false;
  std::string tail = name.size() > 3 ? name.substr(name.size() - 3) : name;
  for (char& c : tail) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return tail == "ZIP";
}

std::string RateText(std::optional<std::int64_t> listed_size, std::int64_t seconds) {
  if (seconds < 1 || !listed_size) return "<unknown>";
  const std::int64_t divisor = seconds * 1024;
  std::int64_t rate = *listed_size / divisor;
  if (*listed_size % divisor != 0 && *listed_size < 0) --rate;  // round down, also below zero
  return rate == 0 ? "<unknown>" : std::to_string(rate);
}

std::int64_t WholeSeconds(std::chrono::system_clock::time_point time) {
  return std::chrono::floor<std::chrono::seconds>(time.time_since_epoch()).count();
}

std::optional<std::int64_t> ParseListedSize(const std::string& text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

void DownloadEntry(RunContext& run, bool storeName) {
  ModuleState& state = run.state;
  const CommandSettings& settings = state.Settings;
  const RemoteEntry& entry = CurrentEntry(state);
  const std::string& name = entry.Name;
  state.CurrentLocalPath = settings.LocalDir + "/" + name;
  RequireSafeDestination(settings.LocalDir, name);

  if (!settings.Overwrite && LocalFileExists(state.CurrentLocalPath)) {
    Inform(run, "Skipped file [" + name + "] - file exists and OVERWRITE=Off");
    return;
  }
  Inform(run, "Downloading [" + name + "] to [" + state.CurrentLocalPath + "] (" + entry.Size + " Bytes) ...");
  run.ftp.TransferType(settings.TransferMode);
  const std::int64_t start = WholeSeconds(run.clock.Now());
  const CopyVerdict verdict = Transfer(run, name, entry);
  const std::int64_t seconds = WholeSeconds(run.clock.Now()) - start;

  CountDownload(state);
  Inform(run, "Downloaded [" + name + "] " + RateText(ParseListedSize(entry.Size), seconds) + " kBps");

  // Only a copy known to be complete lets the remote file go.
  if (settings.AutoDelete && verdict == CopyVerdict::kComplete) {
    Inform(run, "Deleting remote-file [" + name + "] ...");
    run.ftp.DeleteFile(name);
  }
  if (storeName && settings.SaveFilename) {
    StoreVariable(state, settings.VarScope, settings.VarNumber, name);
  }
}

}  // namespace pullwire
