// The remote entry lists built from the component's parsed listing: folders first, "." and ".."
// left out, the name filter applied, links told apart by trying to enter them.
#pragma once

#include <string>
#include <vector>

#include "component/ftp_component.h"
#include "module/message_channel.h"
#include "module/module_state.h"

namespace pullwire {

// The two module-wide lists: EntryList (the run's, built with the name filter) and SubEntryList
// (the folder-mode delete pass's, built without it).
enum class RemoteList { kEntryList, kSubEntryList };

std::vector<RemoteEntry>& ListOf(ModuleState& state, RemoteList which);
const std::vector<RemoteEntry>& ListOf(const ModuleState& state, RemoteList which);

// Replaces the target list with the entries of `listing`: position 0 empty, then every kept
// folder in listing order, then every other kept entry in listing order. A link is probed with
// the RemoteDir setting (ProbeLinkKind), and after a successful probe the session goes back to
// the folder it listed, asked of the component (CurrentDirectory) once, before the first probe.
//
// The listing's warnings (entries left out for their names) go to the host first, type 1.
// A listing with ListingStyle 2 gives the unsupported-listing warnings (when UnparsedLines is
// not empty), an empty list and true. Any failure while reading the listing, or going back after
// a probe, sends "ERROR_PULL-WIRE: Error getting remote listing [" + description + "]" (type 2),
// sets ErrorFlag and returns false; the list keeps what was appended before it.
bool BuildEntryList(ModuleState& state, FtpComponent& ftp, MessageChannel& messages,
                    const ComponentListing& listing, RemoteList target, bool apply_filter);

// The four warnings (type 1) for a listing with lines in neither UNIX nor DOS format, the last
// one holding those lines.
void ReportUnsupportedListing(MessageChannel& messages, const std::string& unparsed_lines);

inline constexpr char kKindFolderLink[] = "FolderLink";
inline constexpr char kKindFile[] = "File";
inline constexpr char kKindFolderClose[] = "FolderClose";

// Tries to enter folder + "/" + name (joined as they are, so a folder ending in "/" gives "//").
// Entering works: "FolderLink", and the session re-enters `return_folder` (an absolute path), so
// that the files listed next to the link are fetched from the folder they were listed in; a
// failure to go back, or an empty `return_folder` (no way back known), throws: the session would
// be in the wrong folder. Entering fails: "File", and the session has not moved. Nothing is
// reported in either case.
std::string ProbeLinkKind(FtpComponent& ftp, const std::string& folder, const std::string& name,
                          const std::string& return_folder);

}  // namespace pullwire
