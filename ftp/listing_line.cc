// Reads single listing lines: per-line format detection and column scanning with string_view
// (no regex, no copies), MLSD facts, and the safe-name rule.
#include "ftp/listing_line.h"

#include <algorithm>
#include <array>

#include "ftp/errors.h"

namespace pullwire::ftp {
namespace {

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
                       EntryFields& fields) {
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

// "2024-01-05": GNU ls --time-style=long-iso and some embedded servers.
bool IsIsoDate(std::string_view text) {
  return text.size() == 10 && text[4] == '-' && text[7] == '-' && AllDigits(text.substr(0, 4)) &&
         SmallNumberIn(text.substr(5, 2), 1, 12) && SmallNumberIn(text.substr(8, 2), 1, 31);
}

// "12:00", "12:00:59", or full-iso's "12:00:59.123456789".
bool IsIsoTime(std::string_view text, bool& fraction) {
  const std::size_t dot = text.find('.');
  fraction = dot != std::string_view::npos;
  if (fraction && (dot + 1 == text.size() || !AllDigits(text.substr(dot + 1)))) return false;
  return IsClockTime(text.substr(0, dot), 23);
}

// "+0100", "-0500": the zone column of full-iso times.
bool IsZone(std::string_view text) {
  return text.size() == 5 && (text[0] == '+' || text[0] == '-') && AllDigits(text.substr(1));
}

// The last column of a date starting at column `first`, or nullopt when no date starts there:
// "Mar  4 09:05", "Mar  4  2019", "2024-01-05 12:00", "2024-01-05 12:00:00.000000000 +0100".
std::optional<std::size_t> DateEnd(std::string_view line, const Tokens& tokens, std::size_t first) {
  if (first + 1 >= tokens.count) return std::nullopt;
  const std::string_view head = Text(line, tokens.at[first]);
  if (IsIsoDate(head)) {
    bool fraction = false;
    if (!IsIsoTime(Text(line, tokens.at[first + 1]), fraction)) return std::nullopt;
    if (fraction && first + 2 < tokens.count && IsZone(Text(line, tokens.at[first + 2]))) {
      return first + 2;
    }
    return first + 1;
  }
  if (first + 2 >= tokens.count || !IsMonthName(head) ||
      !SmallNumberIn(Text(line, tokens.at[first + 1]), 1, 31) ||
      !IsUnixTimeOrYear(Text(line, tokens.at[first + 2]))) {
    return std::nullopt;
  }
  return first + 2;
}

// Where the date may start. The common "mode links owner group size" layout wins, so an owner
// called "Mar" with a group "12" cannot pose as a date; otherwise the leftmost date wins, so a
// name that itself looks like a date ("Jan 01 2020 x") never moves the columns.
constexpr std::array<std::size_t, 6> kDateColumns = {5, 2, 3, 4, 6, 7};

// "-rw-r--r--" -> 0644; "drwxr-sr-x" -> 02755. Unknown letters count as not set.
std::int32_t PermissionBits(std::string_view mode) {
  std::int32_t bits = 0;
  for (std::size_t i = 0; i < 9; ++i) {
    const char c = mode[1 + i];
    if (c != '-' && c != 'S' && c != 'T') bits |= 1 << (8 - i);
  }
  if (mode[3] == 's' || mode[3] == 'S') bits |= 04000;
  if (mode[6] == 's' || mode[6] == 'S') bits |= 02000;
  if (mode[9] == 't' || mode[9] == 'T') bits |= 01000;
  return bits;
}

// vsftpd:    "-rw-r--r--    1 0        0               3 Dec 05 19:25 a file"
// pyftpdlib: "lrwxrwxrwx   1 root     root            6 Dec 05 19:25 lnk -> a file"
// ls/busybox/ProFTPD: "drwxr-xr-x    2 root     root          4096 Mar  4  2019 pub"
// ISO dates (a sample in FileZilla's parser tests):
//            "-rw-r--r--   1 root     other        531 2005-06-07 21:22 07-unix-date file"
std::optional<EntryFields> ParseUnixLine(std::string_view line) {
  const Tokens tokens = SplitColumns(line);
  if (tokens.count < 5 || tokens.at[0].begin != 0) return std::nullopt;
  const std::string_view mode = Text(line, tokens.at[0]);
  if (!IsUnixMode(mode)) return std::nullopt;
  for (std::size_t date : kDateColumns) {
    const std::optional<std::size_t> date_end = DateEnd(line, tokens, date);
    if (!date_end) continue;
    EntryFields fields;
    std::size_t size_first = 0;
    if (!ReadUnixSize(line, tokens, date - 1, mode[0], size_first, fields.size) ||
        size_first < 1 || !ReadUnixOwnership(line, tokens, size_first, fields)) {
      continue;
    }
    const Token last = tokens.at[*date_end];
    fields.permissions = mode;
    fields.permission_bits = PermissionBits(mode);
    fields.modified = line.substr(tokens.at[date].begin, last.end - tokens.at[date].begin);
    fields.name = NameAfter(line, last.end);
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
std::optional<EntryFields> ParseDosLine(std::string_view line) {
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

  EntryFields fields;
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


// MLSD's UNIX.mode fact to permission bits: "0644", "644", or pyftpdlib's "0o644".
std::optional<std::int32_t> ParseOctalMode(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'o' || text[1] == 'O')) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 6) return std::nullopt;
  std::int32_t bits = 0;
  for (char c : text) {
    if (c < '0' || c > '7') return std::nullopt;
    bits = bits * 8 + (c - '0');
  }
  return bits & 07777;
}

// RFC 3659 "type" values; links as ProFTPD and Pure-FTPd show them ("OS.unix=symlink",
// "OS.unix=slink:/target"). Other "OS." kinds (devices, pipes) are files, as in UNIX listings.
bool ReadMlsdType(std::string_view value, EntryFields& fields, bool& dot) {
  constexpr std::string_view kSlink = "os.unix=slink";
  if (EqualsNoCase(value, "file")) return true;
  if (EqualsNoCase(value, "dir")) {
    fields.type = EntryType::kFolder;
  } else if (EqualsNoCase(value, "cdir") || EqualsNoCase(value, "pdir")) {
    dot = true;
  } else if (EqualsNoCase(value, "os.unix=symlink")) {
    fields.type = EntryType::kLink;
  } else if (value.size() >= kSlink.size() &&
             EqualsNoCase(value.substr(0, kSlink.size()), kSlink)) {
    fields.type = EntryType::kLink;
    if (value.size() > kSlink.size() && value[kSlink.size()] == ':') {
      fields.link_target = value.substr(kSlink.size() + 1);
    }
  } else if (value.empty()) {
    return false;
  }
  return true;
}

// pyftpdlib: "type=file;size=156;perm=r;modify=20071029155301;unique=8012; music.mp3"
// ProFTPD:   "modify=20240105120000;perm=adfrw;size=0;type=OS.unix=symlink;UNIX.mode=0777; lnk"
// Facts, one blank, the name (which may hold blanks, ";" and " -> "). "type" is required.
std::optional<EntryFields> ParseMlsdLine(std::string_view line, bool& dot) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  EntryFields fields;
  fields.format = LineFormat::kMlsd;
  fields.name = line.substr(blank + 1);
  bool typed = false;
  std::string_view facts = line.substr(0, blank);
  while (!facts.empty()) {
    const std::size_t end = std::min(facts.find(';'), facts.size());
    const std::string_view fact = facts.substr(0, end);
    facts.remove_prefix(std::min(end + 1, facts.size()));
    if (fact.empty()) continue;
    const std::size_t equals = fact.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = fact.substr(0, equals);
    const std::string_view value = fact.substr(equals + 1);
    if (EqualsNoCase(key, "type")) {
      if (!ReadMlsdType(value, fields, dot)) return std::nullopt;
      typed = true;
    } else if (EqualsNoCase(key, "size")) {
      const auto size = ParseCount(value);
      if (!size) return std::nullopt;
      fields.size = *size;
    } else if (EqualsNoCase(key, "modify")) {
      fields.modified = value;
    } else if (EqualsNoCase(key, "unix.mode")) {
      if (const auto bits = ParseOctalMode(value)) fields.permission_bits = *bits;
    } else if (EqualsNoCase(key, "unique")) {
      fields.unique = value;
    }
  }
  if (!typed) return std::nullopt;
  return fields;
}

std::optional<EntryFields> ParseListLine(std::string_view line) {
  return IsDigit(line.front()) ? ParseDosLine(line) : ParseUnixLine(line);
}

}  // namespace

std::optional<std::string_view> UnsafeNameReason(std::string_view name) {
  if (name.empty()) return "the name is empty";
  if (name == "." || name == "..") return "the name leads out of the folder";
  if (name.find('/') != std::string_view::npos) return "the name holds \"/\"";
  if (HasControlCharacter(name)) return "the name holds a control character";
  return std::nullopt;
}

LineResult ReadListingLine(std::string_view line, ListingSyntax syntax) {
  LineResult result;
  if (IsBlankLine(line) || (syntax == ListingSyntax::kList && IsTotalLine(line))) {
    result.verdict = LineVerdict::kNothing;
    return result;
  }
  bool dot = false;
  std::optional<EntryFields> fields =
      syntax == ListingSyntax::kMlsd ? ParseMlsdLine(line, dot) : ParseListLine(line);
  if (!fields) return result;
  result.fields = *fields;
  if (dot || fields->name == "." || fields->name == "..") {
    result.verdict = LineVerdict::kNothing;
  } else if (!IsSafeEntryName(fields->name)) {
    result.verdict = LineVerdict::kUnsafe;
  } else {
    if (HasControlCharacter(fields->link_target)) result.fields.link_target = {};
    result.verdict = LineVerdict::kEntry;
  }
  return result;
}

}  // namespace pullwire::ftp
