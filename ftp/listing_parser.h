// Parses a LIST reply body (UNIX `ls -l` and DOS/IIS lines, detected per line) into entries,
// keeping the lines it cannot read. Pure: no I/O, linear in the listing's size.
#pragma once

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
  EntryType type = EntryType::kFile;
  std::int64_t size = 0;     // bytes as listed; 0 for DOS folders
  std::string link_target;   // UNIX "name -> target"; empty otherwise
  std::string modified;      // the date/time columns as listed ("Mar  4 09:05", "03-04-26  09:05AM")
  std::string permissions;   // UNIX mode column ("-rw-r--r--"); "<DIR>" or "" for DOS
  LineFormat format = LineFormat::kUnix;

  friend bool operator==(const ListingEntry&, const ListingEntry&) = default;
};

struct ParsedListing {
  std::vector<ListingEntry> entries;        // listing order; a name listed twice is kept once
  std::vector<std::string> unparsed_lines;  // lines in neither format or with an unsafe name,
                                            // without their line ending; "total N" lines and
                                            // blank lines are neither entries nor unparsed
};

// `raw` is the data connection's bytes as received; lines end in LF or CRLF, the last line may
// lack its ending.
ParsedListing ParseListing(std::string_view raw);

}  // namespace pullwire::ftp
