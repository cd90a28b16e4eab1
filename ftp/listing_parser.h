// Parses a LIST reply body (UNIX `ls -l` and DOS/IIS lines, detected per line) into entries,
// keeping the lines it cannot read. Pure: no I/O, linear in the listing's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pullwire::ftp {

enum class EntryType { kFile, kFolder, kLink };
enum class LineFormat { kUnix, kDos };

struct ListingEntry {
  std::string name;          // never empty, never holds "/", NUL, CR, LF or another control char,
                             // never "." or ".." (those are dropped, not unparsed)
  EntryType type = EntryType::kFile;  // UNIX "d" folder, "l" link; "-" and the special files
                                      // "b", "c", "p", "s" are files (`permissions` keeps the
                                      // letter for callers that want to tell them apart)
  std::int64_t size = 0;     // bytes as listed; 0 for DOS folders and UNIX device files, whose
                             // size column holds "major, minor"
  std::string link_target;   // UNIX "name -> target"; empty otherwise. May hold "/" (it is never
                             // used as a local path) but never a control character
  std::string modified;      // the date/time columns as listed ("Mar  4 09:05", "03-04-26  09:05AM")
  std::string permissions;   // UNIX mode column ("-rw-r--r--"); "<DIR>" or "" for DOS
  LineFormat format = LineFormat::kUnix;
  std::int64_t link_count = 0;  // UNIX link count column; 0 for DOS and when the server omits it
  std::string owner;         // UNIX owner column (a name or a number); empty for DOS and when absent
  std::string group;         // UNIX group column; empty for DOS and when absent

  friend bool operator==(const ListingEntry&, const ListingEntry&) = default;
};

// Bounds on what `unparsed_lines` keeps, so a hostile multi-megabyte listing cannot blow memory:
// the first kMaxKeptUnparsedLines lines, each cut to kMaxKeptUnparsedLineBytes bytes.
// `unparsed_count` still counts every unparsed line.
inline constexpr std::size_t kMaxKeptUnparsedLines = 1000;
inline constexpr std::size_t kMaxKeptUnparsedLineBytes = 1024;

struct ParsedListing {
  std::vector<ListingEntry> entries;        // listing order; a name listed twice is kept once
  std::vector<std::string> unparsed_lines;  // lines in neither format or with an unsafe name,
                                            // without their line ending; "total N" lines and
                                            // blank lines are neither entries nor unparsed.
                                            // Raw bytes: escape them before showing them.
  std::size_t unparsed_count = 0;           // all unparsed lines, also those not kept
};

// `raw` is the data connection's bytes as received; lines end in LF or CRLF, the last line may
// lack its ending.
ParsedListing ParseListing(std::string_view raw);

// True when `name` may become a local file name inside the destination folder: not empty, not
// "." or "..", without "/", NUL, CR, LF or any other control character (bytes below 0x20, 0x7F).
bool IsSafeEntryName(std::string_view name);

}  // namespace pullwire::ftp
