// Building EntryList and SubEntryList from the component's listing.
#include "remote/entry_list.h"

#include <exception>
#include <optional>
#include <stdexcept>

#include "remote/name_filter.h"

namespace pullwire {
namespace {

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

RemoteEntry RecordOf(const ListEntry& entry) {
  RemoteEntry record;
  record.Name = entry.Name;
  record.Size = std::to_string(entry.Size);
  record.ExtraText = entry.ExtraText;
  record.ExtraNumber = std::to_string(entry.ExtraNumber);
  return record;
}

// Where a link probe goes back to: the working folder as the component knows it (PWD, or the
// path the session entered it by). Empty when it cannot tell: a successful probe then cannot go
// back.
std::string ReturnFolder(FtpComponent& ftp) {
  try {
    return ftp.CurrentDirectory();
  } catch (const FtpError&) {
    if (ftp.ConnectionState() != kConnectionStateConnected) throw;
  }
  return {};
}

struct BuildStep {
  ModuleState& state;
  FtpComponent& ftp;
  std::vector<RemoteEntry>& list;
  bool apply_filter;
  std::optional<std::string> return_folder;  // asked for on the first link only

  bool Kept(const ListEntry& entry) const {
    return !IsDotEntry(entry.Name) && (!apply_filter || NameAccepted(state, entry.Name));
  }

  void AddFolders(const ComponentListing& listing) {
    for (const ListEntry& entry : listing.Entries()) {
      if (AsciiUpper(entry.TypeLetter) != "D" || !Kept(entry)) continue;
      RemoteEntry record = RecordOf(entry);
      record.IsFolder = true;
      list.push_back(std::move(record));
    }
  }

  void AddOthers(const ComponentListing& listing) {
    for (const ListEntry& entry : listing.Entries()) {
      const std::string type = AsciiUpper(entry.TypeLetter);
      if (type == "D" || !Kept(entry)) continue;
      list.push_back(RecordOf(entry));
      if (type != "L") continue;
      const std::size_t index = list.size() - 1;
      if (!return_folder) return_folder = ReturnFolder(ftp);
      const bool folder_link =
          ProbeLinkKind(ftp, state.Settings.RemoteDir, entry.Name, *return_folder) != kKindFile;
      list[index].IsFolderLink = folder_link;
      list[index].IsFileLink = !folder_link;
    }
  }
};

}  // namespace

std::vector<RemoteEntry>& ListOf(ModuleState& state, RemoteList which) {
  return which == RemoteList::kEntryList ? state.EntryList : state.SubEntryList;
}

const std::vector<RemoteEntry>& ListOf(const ModuleState& state, RemoteList which) {
  return which == RemoteList::kEntryList ? state.EntryList : state.SubEntryList;
}

bool BuildEntryList(ModuleState& state, FtpComponent& ftp, MessageChannel& messages,
                    const ComponentListing& listing, RemoteList target, bool apply_filter) {
  std::vector<RemoteEntry>& list = ListOf(state, target);
  list.assign(1, RemoteEntry{});
  if (apply_filter) ParseFilter(state);
  try {
    for (const std::string& warning : listing.Warnings()) {
      messages.SendHostMessage(warning, kWarningMessage);
    }
    if (listing.ListingStyle() == kListingStyleMixed) {
      const std::string unparsed = listing.UnparsedLines();
      if (!unparsed.empty()) ReportUnsupportedListing(messages, unparsed);
      return true;
    }
    // Room for every entry at once: growing a list of a million records by doubling would hold
    // two copies at the step. Pages a filter leaves unused are never touched, then given back.
    list.reserve(listing.Entries().size() + 1);
    BuildStep step{state, ftp, list, apply_filter, std::nullopt};
    step.AddFolders(listing);
    step.AddOthers(listing);
    if (list.capacity() / 2 > list.size()) list.shrink_to_fit();
    return true;
  } catch (const std::exception& e) {
    messages.SendHostMessage(std::string("ERROR_PULL-WIRE: Error getting remote listing [") + e.what() + "]",
                             kErrorMessage);
    state.ErrorFlag = true;
    return false;
  }
}

void ReportUnsupportedListing(MessageChannel& messages, const std::string& unparsed_lines) {
  messages.SendHostMessage("Some non-UNIX or non-DOS listing were encountered.", kWarningMessage);
  messages.SendHostMessage("This plugin only supports UNIX and DOS listings.", kWarningMessage);
  messages.SendHostMessage("Here are some of the lines that failed:", kWarningMessage);
  messages.SendHostMessage(unparsed_lines, kWarningMessage);
}

std::string ProbeLinkKind(FtpComponent& ftp, const std::string& folder, const std::string& name,
                          const std::string& return_folder) {
  const std::string path = folder + "/" + name;
  try {
    ftp.WorkingDirectory(path);
  } catch (const FtpError&) {
    return kKindFile;
  }
  if (return_folder.empty()) {
    throw std::runtime_error("cannot go back to the listed folder after entering the link " +
                             path + ": its path is not known (the server does not answer PWD)");
  }
  ftp.WorkingDirectory(return_folder);
  return kKindFolderLink;
}

}  // namespace pullwire
