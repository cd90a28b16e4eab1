// The run driver: its steps in order, the three selection modes and the single error ending.
#include "download/download_run.h"

#include <algorithm>
#include <exception>
#include <limits>

#include "download/download_entry.h"
#include "download/local_copy.h"
#include "module/command_record.h"
#include "module/vb_error.h"
#include "remote/delete_pass.h"
#include "remote/entry_list.h"
#include "remote/folder_download.h"
#include "remote/remote_selection.h"

namespace pullwire {
namespace {

// Thrown by a step that has already sent its own error message: the error ending then reports
// an empty description.
struct AlreadyReported {};

constexpr int kAutoDeleteSlot = 10;
constexpr int kIncludeSubdirSlot = 24;
constexpr std::int32_t kDefaultTimeout = 60;

const std::string& SlotText(const com::StringArray& record, int slot) {
  const std::string* text = record.Find(slot);
  if (text == nullptr) throw VbError(com::kVbSubscriptOutOfRange);
  return *text;
}

// Steps up to "Retrieving filelist ...": decode, settings, login, remote folder.
void ConnectAndEnter(RunContext& run, const com::StringArray& record) {
  CommandSettings& settings = run.state.Settings;
  DecodeForRun(record, settings);
  Inform(run, "Setup FTP connection ...");
  if (settings.Timeout < 1 || settings.Timeout > 999) settings.Timeout = kDefaultTimeout;
  run.ftp.OperationTimeout(settings.Timeout * 1000);
  run.ftp.PassiveMode(settings.Passive);
  run.ftp.ProxyKind(settings.ProxyType);
  run.ftp.ProxyLoginName(settings.ProxyUsername);
  run.ftp.ProxyLoginPassword(settings.ProxyPassword);
  run.ftp.ProxyServer(settings.ProxyHost);
  if (settings.ProxyPort > 0) run.ftp.ProxyServerPort(settings.ProxyPort);
  run.state.DownloadedCount = 0;
  Inform(run, "Connecting with [" + settings.Host + "] ...");
  run.ftp.Login(settings.Host, settings.Username, settings.Password, "", settings.Port);
  for (const std::string& warning : run.ftp.LoginWarnings()) {
    run.messages.SendHostMessage(warning, kWarningMessage);
  }
  Inform(run, "Connected!");
  run.ftp.WorkingDirectory(settings.RemoteDir);
  Inform(run, "Retrieving filelist ...");
}

// Connection test, listing and EntryList, shared by both modes.
void ListRemoteFolder(RunContext& run) {
  if (run.ftp.ConnectionState() != kConnectionStateConnected) {
    run.messages.SendHostMessage("ERROR_PULL-WIRE: Cannot get listing: NOT CONNECTED!", kErrorMessage);
    throw AlreadyReported{};
  }
  run.ftp.TransferType(0);
  run.ftp.ListDirectory();
  const ComponentListing& listing = run.ftp.Listing();
  if (!BuildEntryList(run.state, run.ftp, run.messages, listing, RemoteList::kEntryList, true)) {
    throw AlreadyReported{};
  }
  // What an interrupted earlier run (killed, or its machine down) left half-written.
  RemoveLeftoverCopies(run.state.Settings.LocalDir);
}

enum class Selection { kSpecific, kAll, kFirst };

Selection SelectionOf(const CommandSettings& settings) {
  if (settings.CopySpecific) return Selection::kSpecific;
  if (settings.ProcessAll) return Selection::kAll;
  return Selection::kFirst;
}

// CurrentIndex is the host's 16-bit integer: a walk past 32767 overflows it.
std::int16_t WalkIndex(std::size_t index) {
  if (index > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) {
    throw VbError(com::kVbOverflow);
  }
  return static_cast<std::int16_t>(index);
}

void WalkEntries(RunContext& run) {
  ModuleState& state = run.state;
  const Selection selection = SelectionOf(state.Settings);
  for (std::size_t index = 1; index < state.EntryList.size(); ++index) {
    state.CurrentIndex = WalkIndex(index);
    const RemoteEntry& entry = state.EntryList[index];
    if (entry.IsFolder) continue;
    if (selection == Selection::kSpecific && entry.Name != state.Settings.SpecificFilename) continue;
    DownloadEntry(run, selection != Selection::kAll);
    if (selection == Selection::kFirst) break;
  }
}

void RunFlatMode(RunContext& run) {
  ListRemoteFolder(run);
  const std::vector<RemoteEntry>& entries = run.state.EntryList;
  const std::size_t count = entries.size() - 1;
  Inform(run, count < 1 ? "No files found." : "Number of files & directories found: " + std::to_string(count));
  const bool only_folders =
      count > 0 && std::all_of(entries.begin() + 1, entries.end(), [](const RemoteEntry& e) { return e.IsFolder; });
  if (only_folders) return;
  WalkEntries(run);
  Inform(run, "Number of files downloaded : " + std::to_string(run.state.DownloadedCount));
}

void RunFolderMode(RunContext& run, const com::StringArray& record) {
  ListRemoteFolder(run);
  const std::size_t count = run.state.EntryList.size() - 1;
  const std::string folder = run.state.Settings.RemoteDir;
  for (std::size_t i = 1; i <= count; ++i) {
    RemoteSelFiles(run.state, run.messages, RemoteList::kEntryList, folder, static_cast<std::int32_t>(i));
    // Retrieve normalises the LocalDir setting itself, as the record's own variable.
    Retrieve(run, run.state.Settings.LocalDir);
  }
  if (SlotText(record, kAutoDeleteSlot) == "1") DeleteAfterCopy(run);
}

void Close(RunContext& run) {
  if (run.ftp.ConnectionState() != kConnectionStateConnected) return;
  Inform(run, "Disconnecting from [" + run.state.Settings.Host + "] ...");
  run.ftp.Logout();
}

// From its second step on, every failure is ignored.
void ErrorEnding(RunContext& run, const std::string& description) noexcept {
  try {
    run.messages.SendHostMessage("ERROR_PULL-WIRE [" + description + "]", kErrorMessage);
  } catch (...) {
  }
  run.state.ErrorFlag = true;
  try {
    if (run.ftp.ConnectionState() == kConnectionStateConnected) run.ftp.Logout();
  } catch (...) {
  }
}

}  // namespace

void DownloadRun(RunContext& run, const com::StringArray& record) {
  run.state.TransferJournal.clear();
  try {
    ConnectAndEnter(run, record);
    if (SlotText(record, kIncludeSubdirSlot) != "0") {
      RunFolderMode(run, record);
    } else {
      RunFlatMode(run);
    }
    Close(run);
  } catch (const AlreadyReported&) {
    ErrorEnding(run, "");
  } catch (const std::exception& e) {
    ErrorEnding(run, e.what());
  } catch (...) {
    ErrorEnding(run, "unexpected failure");
  }
}

}  // namespace pullwire
