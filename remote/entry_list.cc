// Building EntryList and SubEntryList from the component's listing.
#include "remote/entry_list.h"

#include <exception>
#include <optional>

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

struct BuildStep {
  ModuleState& state;
  FtpComponent& ftp;
  std::vector<RemoteEntry>& list;
  bool apply_filter;
  std::optional<std::string> listed_folder;  // asked for on the first link only

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
      if (!listed_folder) listed_folder = ftp.CurrentDirectory();
      const bool folder_link =
          ProbeLinkKind(ftp, state.Settings.RemoteDir, entry.Name, *listed_folder) != kKindFile;
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
    if (listing.ListingStyle() == kListingStyleMixed) {
      const std::string unparsed = listing.UnparsedLines();
      if (!unparsed.empty()) ReportUnsupportedListing(messages, unparsed);
      return true;
    }
    BuildStep step{state, ftp, list, apply_filter, std::nullopt};
    step.AddFolders(listing);
    step.AddOthers(listing);
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
  try {
    ftp.WorkingDirectory(folder + "/" + name);
  } catch (const ComponentError&) {
    return kKindFile;
  }
  ftp.WorkingDirectory(return_folder);
  return kKindFolderLink;
}

}  // namespace pullwire
