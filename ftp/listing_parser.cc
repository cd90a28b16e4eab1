// Parses a LIST reply body into entries: per-line format detection, column scanning with
// string_view (no regex, no copies until a line is accepted), safe-name checks and de-duplication.
#include "ftp/listing_parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <random>
#include <utility>

namespace pullwire::ftp {
namespace {

constexpr std::size_t kNoIndex = static_cast<std::size_t>(-1);

// A column of a line: [begin, end) byte offsets.
struct Token {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Enough columns for mode, links, owner, a two-word group, "major, minor", month, day, time.
constexpr std::size_t kMaxTokens = 10;

struct Tokens {
  std::array<Token, kMaxTokens> at;
  std::size_t count = 0;
};

// Splits the first kMaxTokens blank-separated columns of `line`; the rest is left unscanned so
// a long name costs nothing here.
Tokens SplitColumns(std::string_view line) {
  Tokens tokens;
  std::size_t pos = 0;
  while (tokens.count < kMaxTokens) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos == line.size()) break;
    const std::size_t begin = pos;
    while (pos < line.size() && line[pos] != ' ') ++pos;
    tokens.at[tokens.count++] = {begin, pos};
  }
  return tokens;
}

std::string_view Text(std::string_view line, Token token) {
  return line.substr(token.begin, token.end - token.begin);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool OneOf(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (Lower(text[i]) != lower_word[i]) return false;
  }
  return true;
}

// Decimal digits to a non-negative 64-bit value; nullopt when empty, not digits, or beyond
// INT64_MAX (a size no file has: the line is then not trusted at all).
std::optional<std::int64_t> ParseCount(std::string_view digits) {
  if (!AllDigits(digits)) return std::nullopt;
  constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(INT64_MAX);
  std::uint64_t value = 0;
  for (char c : digits) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kLimit - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return static_cast<std::int64_t>(value);
}

// A size with optional thousands separators, as Windows servers print it ("9,730"): groups of
// three after the first, which holds one to three digits.
std::optional<std::int64_t> ParseGroupedCount(std::string_view text) {
  if (text.find(',') == std::string_view::npos) return ParseCount(text);
  std::int64_t value = 0;
  std::size_t group_start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != ',') continue;
    const std::size_t length = i - group_start;
    if (length == 0 || length > 3 || (group_start > 0 && length != 3)) return std::nullopt;
    const auto group = ParseCount(text.substr(group_start, length));
    if (!group || value > (INT64_MAX - *group) / 1000) return std::nullopt;
    value = value * (group_start > 0 ? 1000 : 1) + *group;
    group_start = i + 1;
  }
  return value;
}

// Two-digit-or-fewer number within [low, high].
bool SmallNumberIn(std::string_view text, int low, int high) {
  if (text.empty() || text.size() > 2 || !AllDigits(text)) return false;
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value >= low && value <= high;
}

bool IsMonthName(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  for (std::string_view month : kMonths) {
    if (EqualsNoCase(text, month)) return true;
  }
  return false;
}

// "9:05", "09:05", "09:05:59"; the hour at most `max_hour`.
bool IsClockTime(std::string_view text, int max_hour) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  if (!SmallNumberIn(text.substr(0, colon), 0, max_hour)) return false;
  std::string_view rest = text.substr(colon + 1);
  if (rest.size() == 5 && rest[2] == ':') {
    if (!SmallNumberIn(rest.substr(3), 0, 59)) return false;
    rest = rest.substr(0, 2);
  }
  return rest.size() == 2 && SmallNumberIn(rest, 0, 59);
}

bool IsUnixTimeOrYear(std::string_view text) {
  return (text.size() == 4 && AllDigits(text)) || IsClockTime(text, 23);
}

// The mode column: a type letter, nine permission letters, and an optional ACL/SELinux mark
// ("drwxr-xr-x+", "-rw-r--r--.", "-rw-r--r--@" on macOS).
bool IsUnixMode(std::string_view text) {
  if (text.size() == 11) {
    if (!OneOf(text[10], "+.@")) return false;
    text.remove_suffix(1);
  }
  if (text.size() != 10) return false;
  if (!OneOf(text[0], "-dlbcps")) return false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (!OneOf(text[i], "-rwxsStTlL")) return false;
  }
  return true;
}

// The columns a line yields, as views into it; copied into an entry only once accepted.
struct LineFields {
  std::string_view name;
  std::string_view link_target;
  std::string_view modified;
  std::string_view permissions;
  std::string_view owner;
  std::string_view group;
  std::int64_t size = 0;
  std::int64_t link_count = 0;
  EntryType type = EntryType::kFile;
  LineFormat format = LineFormat::kUnix;
};

// The size column of a UNIX line ending at token `last`; sets `first` to the size's first
// column. Device files ("b", "c") list "major, minor" there: "1, 3" or "1,3", size 0.
bool ReadUnixSize(std::string_view line, const Tokens& tokens, std::size_t last, char type,
                  std::size_t& first, std::int64_t& size) {
  const std::string_view text = Text(line, tokens.at[last]);
  first = last;
  if (type == 'b' || type == 'c') {
    const std::size_t comma = text.find(',');
    if (comma != std::string_view::npos && comma > 0 && AllDigits(text.substr(0, comma)) &&
        AllDigits(text.substr(comma + 1))) {
      size = 0;
      return true;
    }
    if (last >= 2 && AllDigits(text)) {
      const std::string_view major = Text(line, tokens.at[last - 1]);
      if (major.size() >= 2 && major.back() == ',' && AllDigits(major.substr(0, major.size() - 1))) {
        first = last - 1;
        size = 0;
        return true;
      }
    }
  }
  const auto parsed = ParseCount(text);
  if (!parsed) return false;
  size = *parsed;
  return true;
}

// The columns between the mode and the size: [links] [owner] [group...]. Servers drop the
// group ("-rw-r--r-- 1 ftp 12 ..."), the owner too, or add a domain ("1 group domain user").
bool ReadUnixOwnership(std::string_view line, const Tokens& tokens, std::size_t size_first,
                       LineFields& fields) {
  if (size_first > 5) return false;
  // A column ending in "," is a device's "major," that only devices may carry.
  for (std::size_t i = 1; i < size_first; ++i) {
    if (Text(line, tokens.at[i]).back() == ',') return false;
  }
  std::size_t next = 1;
  if (next < size_first && AllDigits(Text(line, tokens.at[next]))) {
    const auto links = ParseCount(Text(line, tokens.at[next]));
    if (!links) return false;
    fields.link_count = *links;
    ++next;
  }
  if (next < size_first) {
    fields.owner = Text(line, tokens.at[next]);
    ++next;
  }
  if (next < size_first) {
    const std::size_t begin = tokens.at[next].begin;
    fields.group = line.substr(begin, tokens.at[size_first - 1].end - begin);
  }
  return true;
}

// The name starts exactly one blank after `after` (the time/year or size column), so leading
// blanks in a name survive. A line that ends there yields an empty (unsafe) name.
std::string_view NameAfter(std::string_view line, std::size_t after) {
  return after + 1 <= line.size() ? line.substr(after + 1) : std::string_view();
}

// Where the month column may stand. The common "mode links owner group size" layout wins, so an
// owner called "Mar" with a group "12" cannot pose as a date; otherwise the leftmost date wins,
// so a name that itself looks like a date ("Jan 01 2020 x") never moves the columns.
constexpr std::array<std::size_t, 6> kMonthColumns = {5, 2, 3, 4, 6, 7};

// vsftpd:    "-rw-r--r--    1 0        0               3 Dec 05 19:25 a file"
// pyftpdlib: "lrwxrwxrwx   1 root     root            6 Dec 05 19:25 lnk -> a file"
// ls/busybox/ProFTPD: "drwxr-xr-x    2 root     root          4096 Mar  4  2019 pub"
std::optional<LineFields> ParseUnixLine(std::string_view line) {
  const Tokens tokens = SplitColumns(line);
  if (tokens.count < 5 || tokens.at[0].begin != 0) return std::nullopt;
  const std::string_view mode = Text(line, tokens.at[0]);
  if (!IsUnixMode(mode)) return std::nullopt;
  for (std::size_t month : kMonthColumns) {
    if (month + 2 >= tokens.count) continue;
    const Token time = tokens.at[month + 2];
    if (!IsMonthName(Text(line, tokens.at[month])) ||
        !SmallNumberIn(Text(line, tokens.at[month + 1]), 1, 31) ||
        !IsUnixTimeOrYear(Text(line, time))) {
      continue;
    }
    LineFields fields;
    std::size_t size_first = 0;
    if (!ReadUnixSize(line, tokens, month - 1, mode[0], size_first, fields.size) ||
        size_first < 1 || !ReadUnixOwnership(line, tokens, size_first, fields)) {
      continue;
    }
    fields.permissions = mode;
    fields.modified = line.substr(tokens.at[month].begin, time.end - tokens.at[month].begin);
    fields.name = NameAfter(line, time.end);
    fields.format = LineFormat::kUnix;
    if (mode[0] == 'd') fields.type = EntryType::kFolder;
    if (mode[0] == 'l') {
      fields.type = EntryType::kLink;
      const std::size_t arrow = fields.name.find(" -> ");
      if (arrow != std::string_view::npos) {
        fields.link_target = fields.name.substr(arrow + 4);
        fields.name = fields.name.substr(0, arrow);
      }
    }
    return fields;
  }
  return std::nullopt;
}

// "MM-DD-YY", "MM-DD-YYYY" (IIS with four-digit years) or "YYYY-MM-DD"; "-" or "/" between.
bool IsDosDate(std::string_view text) {
  if (text.size() < 8 || text.size() > 10) return false;
  const char separator = text[2] == '-' || text[2] == '/' ? text[2] : text[4];
  if (separator != '-' && separator != '/') return false;
  const std::size_t first = text.find(separator);
  const std::size_t second = text.find(separator, first + 1);
  if (second == std::string_view::npos || text.find(separator, second + 1) != std::string_view::npos) {
    return false;
  }
  const std::string_view a = text.substr(0, first);
  const std::string_view b = text.substr(first + 1, second - first - 1);
  const std::string_view c = text.substr(second + 1);
  if (a.size() == 4) {
    return AllDigits(a) && SmallNumberIn(b, 1, 12) && SmallNumberIn(c, 1, 31) && c.size() == 2;
  }
  return a.size() == 2 && b.size() == 2 && SmallNumberIn(a, 1, 12) && SmallNumberIn(b, 1, 31) &&
         (c.size() == 2 || c.size() == 4) && AllDigits(c);
}

bool IsMeridiem(std::string_view text) {
  return EqualsNoCase(text, "am") || EqualsNoCase(text, "pm");
}

// IIS pads "<DIR>" with ten blanks so names start in a fixed column; a name's own leading blanks
// follow those ten. Servers that pad less are read as if the name started after all the blanks.
constexpr std::size_t kIisDirPadding = 10;

// IIS:   "04-27-00  12:09PM       <DIR>          16-dos dir"
//        "04-14-00  03:47PM                  589 17-dos file"
// Other: "2002-09-02  19:06                9,730 19-dos file"
std::optional<LineFields> ParseDosLine(std::string_view line) {
  const Tokens tokens = SplitColumns(line);
  if (tokens.count < 3 || tokens.at[0].begin != 0) return std::nullopt;
  if (!IsDosDate(Text(line, tokens.at[0]))) return std::nullopt;
  std::string_view time = Text(line, tokens.at[1]);
  std::size_t time_end = tokens.at[1].end;
  std::size_t size_column = 2;
  bool meridiem = false;
  if (time.size() > 2 && IsMeridiem(time.substr(time.size() - 2))) {
    time.remove_suffix(2);
    meridiem = true;
  } else if (tokens.count > 3 && IsMeridiem(Text(line, tokens.at[2]))) {
    time_end = tokens.at[2].end;
    size_column = 3;
    meridiem = true;
  }
  if (!IsClockTime(time, meridiem ? 12 : 23) || size_column >= tokens.count) return std::nullopt;

  LineFields fields;
  fields.format = LineFormat::kDos;
  fields.modified = line.substr(0, time_end);
  const Token size = tokens.at[size_column];
  const std::string_view size_text = Text(line, size);
  if (EqualsNoCase(size_text, "<dir>")) {
    fields.type = EntryType::kFolder;
    fields.permissions = size_text;
    std::size_t blanks = 0;
    while (size.end + blanks < line.size() && line[size.end + blanks] == ' ') ++blanks;
    fields.name = line.substr(size.end + (blanks >= kIisDirPadding ? kIisDirPadding : blanks));
    return fields;
  }
  const auto parsed = ParseGroupedCount(size_text);
  if (!parsed) return std::nullopt;
  fields.size = *parsed;
  fields.name = NameAfter(line, size.end);
  return fields;
}

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

bool HasControl(std::string_view text) {
  for (char c : text) {
    if (IsControl(c)) return true;
  }
  return false;
}

bool IsBlankLine(std::string_view line) {
  for (char c : line) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

// "total 1234" heads `ls -l` output; some servers print it with a unit ("total 1.5M").
bool IsTotalLine(std::string_view line) {
  constexpr std::string_view kTotal = "total ";
  if (line.substr(0, kTotal.size()) != kTotal) return false;
  std::string_view rest = line.substr(kTotal.size());
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);
  if (!rest.empty() && OneOf(rest.back(), "KMGTPEkmgtpe")) rest.remove_suffix(1);
  if (rest.empty() || !IsDigit(rest.front()) || !IsDigit(rest.back())) return false;
  for (char c : rest) {
    if (!IsDigit(c) && c != '.' && c != ',') return false;
  }
  return true;
}

// A per-process random key, so a hostile server cannot precompute names that all collide.
std::uint64_t HashKey() {
  static const std::uint64_t key = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }();
  return key;
}

std::uint64_t HashName(std::string_view name, std::uint64_t key) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
  std::uint64_t hash = key ^ (name.size() * kMultiplier);
  std::size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, name.data() + i, 8);
    hash = (hash ^ chunk) * kMultiplier;
    hash ^= hash >> 29;
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, name.data() + i, name.size() - i);
  hash = (hash ^ tail) * kMultiplier;
  hash ^= hash >> 32;
  hash *= 0xD6E8FEB86659FD93ULL;
  return hash ^ (hash >> 32);
}

// The names already kept, as an open-addressing table of entry indices: no allocation per name,
// and names are compared through the entries, whose index stays valid as the vector grows.
class KeptNames {
 public:
  explicit KeptNames(const std::vector<ListingEntry>& entries)
      : entries_(entries), key_(HashKey()), slots_(64, kNoIndex) {}

  // Records entries_[index] unless its name is already kept; true when it was new.
  bool Insert(std::size_t index) {
    if ((used_ + 1) * 2 > slots_.size()) Grow();
    if (!Place(index, slots_)) return false;
    ++used_;
    return true;
  }

 private:
  bool Place(std::size_t index, std::vector<std::size_t>& slots) const {
    const std::string_view name = entries_[index].name;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t slot = HashName(name, key_) & mask;; slot = (slot + 1) & mask) {
      if (slots[slot] == kNoIndex) {
        slots[slot] = index;
        return true;
      }
      if (entries_[slots[slot]].name == name) return false;
    }
  }

  void Grow() {
    std::vector<std::size_t> bigger(slots_.size() * 2, kNoIndex);
    for (std::size_t index : slots_) {
      if (index != kNoIndex) Place(index, bigger);
    }
    slots_ = std::move(bigger);
  }

  const std::vector<ListingEntry>& entries_;
  std::uint64_t key_;
  std::vector<std::size_t> slots_;
  std::size_t used_ = 0;
};

ListingEntry MakeEntry(const LineFields& fields) {
  ListingEntry entry;
  entry.name = fields.name;
  entry.type = fields.type;
  entry.size = fields.size;
  entry.link_target = fields.link_target;
  entry.modified = fields.modified;
  entry.permissions = fields.permissions;
  entry.format = fields.format;
  entry.link_count = fields.link_count;
  entry.owner = fields.owner;
  entry.group = fields.group;
  return entry;
}

// The shortest line that can hold an entry ("1-1-00 1:00 1 x" is 15 bytes); bounds the
// reservation so a listing of empty lines does not reserve an entry per line.
constexpr std::size_t kShortestEntryLine = 15;

class ListingBuilder {
 public:
  explicit ListingBuilder(std::string_view raw) : names_(out_.entries) {
    std::size_t lines = 1;
    for (std::size_t pos = raw.find('\n'); pos != std::string_view::npos;
         pos = raw.find('\n', pos + 1)) {
      ++lines;
    }
    out_.entries.reserve(std::min(lines, raw.size() / kShortestEntryLine + 1));
  }

  void AddLine(std::string_view line) {
    if (IsBlankLine(line) || IsTotalLine(line)) return;
    std::optional<LineFields> fields;
    if (IsDigit(line.front())) {
      fields = ParseDosLine(line);
    } else {
      fields = ParseUnixLine(line);
    }
    if (fields && (fields->name == "." || fields->name == "..")) return;
    if (!fields || !IsSafeEntryName(fields->name) || HasControl(fields->link_target)) {
      AddUnparsed(line);
      return;
    }
    out_.entries.push_back(MakeEntry(*fields));
    if (!names_.Insert(out_.entries.size() - 1)) out_.entries.pop_back();
  }

  ParsedListing Take() { return std::move(out_); }

 private:
  void AddUnparsed(std::string_view line) {
    ++out_.unparsed_count;
    if (out_.unparsed_lines.size() < kMaxKeptUnparsedLines) {
      out_.unparsed_lines.emplace_back(line.substr(0, kMaxKeptUnparsedLineBytes));
    }
  }

  ParsedListing out_;
  KeptNames names_;
};

}  // namespace

bool IsSafeEntryName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '/' || IsControl(c)) return false;
  }
  return true;
}

ParsedListing ParseListing(std::string_view raw) {
  ListingBuilder builder(raw);
  std::size_t pos = 0;
  while (pos < raw.size()) {
    const std::size_t newline = raw.find('\n', pos);
    const std::size_t end = newline == std::string_view::npos ? raw.size() : newline;
    std::string_view line = raw.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    builder.AddLine(line);
    pos = end + 1;
  }
  return builder.Take();
}

}  // namespace pullwire::ftp
