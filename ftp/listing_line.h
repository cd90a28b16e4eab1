// Reads one line of a listing: a UNIX `ls -l` or DOS/IIS line of LIST (detected per line), or an
// MLSD line (RFC 3659), into views of its columns, and judges whether its name may become a local
// file name. Pure: no I/O, no allocation.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace pullwire::ftp {

enum class EntryType : std::uint8_t { kFile, kFolder, kLink };
enum class LineFormat : std::uint8_t { kUnix, kDos, kMlsd };
enum class ListingSyntax { kList, kMlsd };

// The columns of one line, as views into it.
struct EntryFields {
  std::string_view name;
  std::string_view link_target;  // UNIX "name -> target", MLSD "OS.unix=slink:target"
  std::string_view modified;     // the date/time as listed ("Mar  4 09:05", "20240105120000")
  std::string_view permissions;  // UNIX mode column ("-rw-r--r--"); "<DIR>" or "" for DOS
  std::string_view owner;        // UNIX owner column; empty when absent
  std::string_view group;        // UNIX group column; empty when absent
  std::string_view unique;       // MLSD "unique" fact: the same for every way into one folder
  std::int64_t size = 0;
  std::int64_t link_count = 0;
  std::int32_t permission_bits = 0;  // 0644 for "-rw-r--r--" or MLSD "UNIX.mode=0644"; else 0
  EntryType type = EntryType::kFile;
  LineFormat format = LineFormat::kUnix;
};

enum class LineVerdict {
  kEntry,     // `fields` holds an entry with a safe name
  kNothing,   // blank, "total N", ".", "..", MLSD "cdir"/"pdir": neither entry nor unparsed
  kUnsafe,    // a readable line whose name cannot be a local file name (`fields.name`)
  kUnparsed,  // in none of the forms this reader knows
};

struct LineResult {
  LineVerdict verdict = LineVerdict::kUnparsed;
  EntryFields fields;
};

// `line` comes without its line ending. A link target holding a control character is dropped
// (the link stays, as one whose target is not shown).
LineResult ReadListingLine(std::string_view line, ListingSyntax syntax);

// Why `name` cannot become a local file name inside the destination folder, or nullopt when it
// can: empty, "." or "..", holding "/", or holding a control character (C0 bytes, DEL, or the C1
// characters U+0080 to U+009F in UTF-8).
std::optional<std::string_view> UnsafeNameReason(std::string_view name);
inline bool IsSafeEntryName(std::string_view name) { return !UnsafeNameReason(name); }

}  // namespace pullwire::ftp
