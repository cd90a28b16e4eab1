// Tests of the listing parser: LIST and MLSD lines captured from real servers, tricky and hostile
// rows, mixed listings, line endings, lines split across pieces and the bounds on what is kept.
#include "ftp/listing_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace pullwire::ftp {

namespace {

using namespace std::string_literals;

// What the rest of the product reads of an entry, as one line; owner, group, link count and the
// mode letters are kept by the parser for other callers and not compared here.
std::string Used(const ListingEntry& e) {
  static constexpr const char* kTypes[] = {"file", "folder", "link"};
  static constexpr const char* kFormats[] = {"unix", "dos", "mlsd"};
  std::ostringstream out;
  out << kFormats[static_cast<int>(e.format)] << " " << kTypes[static_cast<int>(e.type)] << " '"
      << e.name << "' size=" << e.size << " modified='" << e.modified << "' bits=0" << std::oct
      << e.permission_bits << " target='" << e.link_target << "'";
  return out.str();
}

ListingEntry Entry(LineFormat format, std::string name, EntryType type, std::int64_t size,
                   std::string modified, std::int32_t bits, std::string target) {
  ListingEntry e;
  e.format = format;
  e.name = std::move(name);
  e.type = type;
  e.size = size;
  e.modified = std::move(modified);
  e.permission_bits = bits;
  e.link_target = std::move(target);
  return e;
}
ListingEntry Unix(std::string name, EntryType type, std::int64_t size, std::string modified,
                  std::int32_t bits, std::string target = "") {
  return Entry(LineFormat::kUnix, std::move(name), type, size, std::move(modified), bits,
               std::move(target));
}
ListingEntry Mlsd(std::string name, EntryType type, std::int64_t size, std::string modified,
                  std::int32_t bits = 0, std::string target = "") {
  return Entry(LineFormat::kMlsd, std::move(name), type, size, std::move(modified), bits,
               std::move(target));
}
ListingEntry Dos(std::string name, EntryType type, std::int64_t size, std::string modified) {
  return Entry(LineFormat::kDos, std::move(name), type, size, std::move(modified), 0, "");
}

constexpr auto kFile = EntryType::kFile;
constexpr auto kFolder = EntryType::kFolder;
constexpr auto kLink = EntryType::kLink;

struct GoodLine {
  std::string line;
  ListingEntry expected;
};

// Each line alone must give exactly its entry and nothing left out.
void ExpectEntries(const std::vector<GoodLine>& rows,
                   ListingSyntax syntax = ListingSyntax::kList) {
  for (const GoodLine& row : rows) {
    SCOPED_TRACE(row.line);
    const ParsedListing parsed = ParseListing(row.line, syntax);
    EXPECT_TRUE(parsed.unparsed_lines.empty());
    EXPECT_EQ(parsed.unparsed_count, 0u);
    EXPECT_EQ(parsed.unsafe_count, 0u);
    ASSERT_EQ(parsed.entries.size(), 1u);
    EXPECT_EQ(Used(parsed.entries[0]), Used(row.expected));
  }
}

// Each line alone must give no entry and come back verbatim as the one unparsed line.
void ExpectUnparsed(const std::vector<std::string>& lines,
                    ListingSyntax syntax = ListingSyntax::kList) {
  for (const std::string& line : lines) {
    SCOPED_TRACE(testing::PrintToString(line));
    const ParsedListing parsed = ParseListing(line + "\r\n", syntax);
    EXPECT_TRUE(parsed.entries.empty());
    EXPECT_EQ(parsed.unsafe_count, 0u);
    EXPECT_EQ(parsed.unparsed_count, 1u);
    EXPECT_EQ(parsed.unparsed_lines, std::vector<std::string>{line});
  }
}

struct UnsafeLine {
  std::string line;
  std::string name;
  std::string reason;
};

// Each line alone must give no entry, nothing unparsed, and its name noted with the reason.
void ExpectUnsafe(const std::vector<UnsafeLine>& rows,
                  ListingSyntax syntax = ListingSyntax::kList) {
  for (const UnsafeLine& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.line));
    const ParsedListing parsed = ParseListing(row.line + "\r\n", syntax);
    EXPECT_TRUE(parsed.entries.empty());
    EXPECT_EQ(parsed.unparsed_count, 0u);
    EXPECT_EQ(parsed.unsafe_count, 1u);
    EXPECT_EQ(parsed.unsafe_names, std::vector<std::string>{row.name});
    ASSERT_EQ(parsed.unsafe_reasons.size(), 1u);
    EXPECT_EQ(parsed.unsafe_reasons[0], row.reason);
  }
}

std::vector<std::string> Names(const ParsedListing& parsed) {
  std::vector<std::string> names;
  for (const ListingEntry& e : parsed.entries) names.push_back(e.name);
  return names;
}

TEST(list_parser, unix_lines_from_real_servers) {
  ExpectEntries({
      // vsftpd 3.0.3 (numeric owner and group, zero-padded day).
      {"-rw-r--r--    1 0        0               3 Dec 05 19:25 a file",
       Unix("a file", kFile, 3, "Dec 05 19:25", 0644)},
      {"-rw-r--r--    1 0        0        5000000000 Dec 05 19:25 big",
       Unix("big", kFile, 5000000000, "Dec 05 19:25", 0644)},
      {"-rw-r--r--    1 0        0               0 May 06  2019 old",
       Unix("old", kFile, 0, "May 06  2019", 0644)},
      {"drwxr-xr-x    2 0        0            4096 Dec 05 19:25 sub",
       Unix("sub", kFolder, 4096, "Dec 05 19:25", 0755)},
      // pyftpdlib 1.5.7.
      {"lrwxrwxrwx   1 root     root           11 Dec 05 19:25 abs -> /etc/passwd",
       Unix("abs", kLink, 11, "Dec 05 19:25", 0777, "/etc/passwd")},
      {"-rw-r--r--   1 root     root     5000000000 Dec 05 19:25 big",
       Unix("big", kFile, 5000000000, "Dec 05 19:25", 0644)},
      // ProFTPD / GNU ls (space-padded day).
      {"drwxr-xr-x   3 ftp      ftp          4096 Mar  4  2019 pub",
       Unix("pub", kFolder, 4096, "Mar  4  2019", 0755)},
      // Pure-FTPd (wide owner columns).
      {"-rw-r--r--    1 1000       1000             1234 Mar  4 09:05 notes.txt",
       Unix("notes.txt", kFile, 1234, "Mar  4 09:05", 0644)},
      // busybox ftpd.
      {"-rwxr-xr-x    1 root     root        812544 Jan  1  1970 busybox",
       Unix("busybox", kFile, 812544, "Jan  1  1970", 0755)},
      // ACL and SELinux marks after the mode, a lower-case month, seconds in the time.
      {"drwxrwxr-x+  4 ann staff 128 Oct 11 23:59 shared",
       Unix("shared", kFolder, 128, "Oct 11 23:59", 0775)},
      {"-rw-r--r--. 1 ann staff 5 oct 1 00:00:30 s", Unix("s", kFile, 5, "oct 1 00:00:30", 0644)},
      // Set-id and sticky bits, shown as s/S and t/T over the execute letters.
      {"drwxrwxrwt   9 root     root          4096 Mar  4 09:05 tmp",
       Unix("tmp", kFolder, 4096, "Mar  4 09:05", 01777)},
      {"-rwsr-Sr-T   1 root     root             1 Mar  4 09:05 odd",
       Unix("odd", kFile, 1, "Mar  4 09:05", 07744)},
  });
}

TEST(list_parser, unix_iso_dates) {
  ExpectEntries({
      // GNU ls --time-style=long-iso, as some embedded servers list.
      {"-rw-r--r--   1 root     other        531 2005-06-07 21:22 07-unix-date file",
       Unix("07-unix-date file", kFile, 531, "2005-06-07 21:22", 0644)},
      // Numeric owner and group, and a missing group column, with ISO dates.
      {"-rw-r--r-- 1 1000 1000 7 2024-01-05 12:00 numeric",
       Unix("numeric", kFile, 7, "2024-01-05 12:00", 0644)},
      {"drwxr-xr-x 2 1000 4096 2024-01-05 12:00:59 no group",
       Unix("no group", kFolder, 4096, "2024-01-05 12:00:59", 0755)},
      // --time-style=full-iso: seconds with a fraction, then the zone.
      {"lrwxrwxrwx 1 u g 3 2024-01-05 12:00:00.123456789 +0100 full -> iso",
       Unix("full", kLink, 3, "2024-01-05 12:00:00.123456789 +0100", 0777, "iso")},
      // A zone-like name after a time without a fraction is the name.
      {"-rw-r--r-- 1 u g 3 2024-01-05 12:00 +0100 x",
       Unix("+0100 x", kFile, 3, "2024-01-05 12:00", 0644)},
  });
  ExpectUnparsed({
      "-rw-r--r-- 1 u g 3 2024-13-05 12:00 month 13",
      "-rw-r--r-- 1 u g 3 2024-01-32 12:00 day 32",
      "-rw-r--r-- 1 u g 3 2024-01-05 25:00 hour 25",
      "-rw-r--r-- 1 u g 3 2024-01-05 12:00. empty fraction",
      "-rw-r--r-- 1 u g 3 24-01-05 12:00 short year",
  });
}

TEST(list_parser, unix_names_keep_blanks) {
  ExpectEntries({
      // The name starts exactly one blank after the time or year column.
      {"-rw-r--r--   1 root     root            2 Dec 05 19:25  lead",
       Unix(" lead", kFile, 2, "Dec 05 19:25", 0644)},
      {"-rw-r--r-- 1 u g 2 Mar  4  2020   three  inner  trail  ",
       Unix("  three  inner  trail  ", kFile, 2, "Mar  4  2020", 0644)},
      {"-rw-r--r-- 1 u g 2 Mar 04 2020 one word", Unix("one word", kFile, 2, "Mar 04 2020", 0644)},
      // A name that looks like date columns does not move the columns.
      {"-rw-r--r--   1 u   g   7 Dec 05 19:25 Jan 01  2020 x",
       Unix("Jan 01  2020 x", kFile, 7, "Dec 05 19:25", 0644)},
      {"-rw-r--r-- 1 5 Dec 05  2019 Jan 01 2020 x",
       Unix("Jan 01 2020 x", kFile, 5, "Dec 05  2019", 0644)},
      {"-rw-r--r-- 1 u 5 Dec 05  2019 Jan 01 2020 x",
       Unix("Jan 01 2020 x", kFile, 5, "Dec 05  2019", 0644)},
      // An owner called like a month and a group like a day.
      {"-rw-r--r--   1 Mar 12 4096 Apr  1 10:00 report",
       Unix("report", kFile, 4096, "Apr  1 10:00", 0644)},
      // Backslashes and non-ASCII bytes are ordinary name bytes on this side.
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 a\\b \xC3\xA9t\xC3\xA9",
       Unix("a\\b \xC3\xA9t\xC3\xA9", kFile, 1, "Mar 4 09:05", 0644)},
      // Three dots and a blank before a dot are names, not "." or "..".
      {"drwxr-xr-x 2 u g 1 Mar 4 09:05 ...", Unix("...", kFolder, 1, "Mar 4 09:05", 0755)},
      {"drwxr-xr-x 2 u g 1 Mar 4 09:05  .", Unix(" .", kFolder, 1, "Mar 4 09:05", 0755)},
  });
}

TEST(list_parser, unix_symlink) {
  ExpectEntries({
      {"lrwxrwxrwx 1 u g 6 Dec 05 19:25 lnk -> a file",
       Unix("lnk", kLink, 6, "Dec 05 19:25", 0777, "a file")},
      // Split at the first arrow: the target may hold one too.
      {"lrwxrwxrwx 1 u g 6 Dec 05 19:25 my link -> odd -> name",
       Unix("my link", kLink, 6, "Dec 05 19:25", 0777, "odd -> name")},
      {"lrwxrwxrwx 1 u g 6 Dec 05 19:25  lead -> ../up/there",
       Unix(" lead", kLink, 6, "Dec 05 19:25", 0777, "../up/there")},
      // A server that does not show the target.
      {"lrwxrwxrwx 1 u g 6 Dec 05 19:25 bare", Unix("bare", kLink, 6, "Dec 05 19:25", 0777)},
      // Only links are split: an arrow in a file's or a folder's name is part of it.
      {"-rw-r--r-- 1 u g 6 Dec 05 19:25 a -> b", Unix("a -> b", kFile, 6, "Dec 05 19:25", 0644)},
      {"drwxr-xr-x 1 u g 6 Dec 05 19:25 a -> b", Unix("a -> b", kFolder, 6, "Dec 05 19:25", 0755)},
  });
}

TEST(list_parser, unix_owner_and_group_columns_may_be_missing_or_extra) {
  ExpectEntries({
      {"dr-xr-xr-x   2 root                  512 Apr  8  1994 nogroup",
       Unix("nogroup", kFolder, 512, "Apr  8  1994", 0555)},
      {"-rw-r--r--   1   1234 Mar  4 09:05 noowner",
       Unix("noowner", kFile, 1234, "Mar  4 09:05", 0644)},
      {"-rw-r--r-- ftp ftp 1234 Mar  4 09:05 nolinks",
       Unix("nolinks", kFile, 1234, "Mar  4 09:05", 0644)},
      {"-rw-r--r-- 1234 Mar  4 09:05 onlysize",
       Unix("onlysize", kFile, 1234, "Mar  4 09:05", 0644)},
      // A Windows server's "group domain user" triple.
      {"-rw-r--r--   1 group domain user 531 Jan 29 03:26 domain file",
       Unix("domain file", kFile, 531, "Jan 29 03:26", 0644)},
  });
}

TEST(list_parser, unix_special_files_are_files) {
  ExpectEntries({
      // Devices list "major, minor" where the size stands: size 0.
      {"crw-rw-rw-   1 root     root       1,   3 Mar  4 09:05 null",
       Unix("null", kFile, 0, "Mar  4 09:05", 0666)},
      {"brw-rw----   1 root     disk       8,0 Mar  4 09:05 sda",
       Unix("sda", kFile, 0, "Mar  4 09:05", 0660)},
      {"prw-r--r--   1 u g 0 Mar  4 09:05 fifo", Unix("fifo", kFile, 0, "Mar  4 09:05", 0644)},
      {"srwxrwxrwx   1 u g 0 Mar  4 09:05 sock", Unix("sock", kFile, 0, "Mar  4 09:05", 0777)},
  });
}

TEST(list_parser, dos_lines) {
  ExpectEntries({
      // IIS, two-digit years, 12-hour times; names start in a fixed column.
      {"04-27-00  12:09PM       <DIR>          dos dir", Dos("dos dir", kFolder, 0, "04-27-00  12:09PM")},
      {"04-14-00  03:47PM                  589 dos file", Dos("dos file", kFile, 589, "04-14-00  03:47PM")},
      // IIS with four-digit years; a 24-hour server.
      {"05-17-2007  07:58PM       <DIR>          muntemp", Dos("muntemp", kFolder, 0, "05-17-2007  07:58PM")},
      {"09-09-2008  03:50AM                 1506 naxp11e.zip", Dos("naxp11e.zip", kFile, 1506, "09-09-2008  03:50AM")},
      {"05-27-11  19:31       <DIR>          3", Dos("3", kFolder, 0, "05-27-11  19:31")},
      // ISO dates and thousands separators; a separate, lower-case meridiem.
      {"2002-09-02  19:06                9,730 longyear", Dos("longyear", kFile, 9730, "2002-09-02  19:06")},
      {"2002-09-02  19:06        1,234,567,890 big", Dos("big", kFile, 1234567890, "2002-09-02  19:06")},
      {"03/04/26  9:05 am        12 slash", Dos("slash", kFile, 12, "03/04/26  9:05 am")},
      // Leading blanks in names: after the ten padding blanks of "<DIR>", one blank after sizes.
      {"04-27-00  12:09PM       <DIR>            two lead", Dos("  two lead", kFolder, 0, "04-27-00  12:09PM")},
      {"04-14-00  03:47PM                  589   two lead", Dos("  two lead", kFile, 589, "04-14-00  03:47PM")},
      // A server with less padding after "<DIR>".
      {"04-27-00  12:09PM <DIR> short", Dos("short", kFolder, 0, "04-27-00  12:09PM")},
  });
}

TEST(list_parser, malformed_lines_are_unparsed) {
  ExpectUnparsed({
      "hello world",
      "-rw-r--r--",
      "-rw-r--r-- 1 u g 12 Foo  4 09:05 x",         // no such month
      "-rw-r--r-- 1 u g 12 Mar 32 09:05 x",         // day out of range
      "-rw-r--r-- 1 u g 12 Mar  0 09:05 x",
      "-rw-r--r-- 1 u g 12 Mar  4 24:00 x",         // hour out of range
      "-rw-r--r-- 1 u g 12 Mar  4 09:60 x",
      "-rw-r--r-- 1 u g 12 Mar  4 9:5 x",
      "-rw-r--r-- 1 u g 12 Mar  4 209 x",           // neither a time nor a year
      "-rw-r--r-- 1 u g 1k Mar  4 09:05 x",         // size with a unit
      "-rw-r--r-- 1 u g -5 Mar  4 09:05 x",         // negative size
      "-rw-r--r-- 1 u g 9223372036854775808 Mar  4 09:05 x",   // one past INT64_MAX
      "-rw-r--r-- 1 u g 99999999999999999999999 Mar  4 09:05 x",
      "-rw-r--r-- 1 u g 1, 3 Mar  4 09:05 x",       // "major, minor" only for devices
      "-rw-r--r-- 1 a b c d e 12 Mar  4 09:05 x",   // too many columns before the size
      "-rw-r--r 1 u g 12 Mar  4 09:05 x",           // nine-letter mode
      "xrw-r--r-- 1 u g 12 Mar  4 09:05 x",         // unknown type letter
      "-rw-r--r--! 1 u g 12 Mar  4 09:05 x",
      "-rwqr--r-- 1 u g 12 Mar  4 09:05 x",
      " -rw-r--r-- 1 u g 12 Mar  4 09:05 x",        // indented
      "-rw-r--r--\t1 u g 12 Mar  4 09:05 x",        // tab-separated columns
      "+i8388621.48594,m825718503,r,s280,\t14-eplf file",
      "13-01-26  09:05AM       <DIR>          x",   // month 13
      "01-32-26  09:05AM       <DIR>          x",
      "01-01-2  09:05AM       <DIR>          x",
      "01-01-26  13:05PM                12 x",      // 13 o'clock with a meridiem
      "01-01-26  09:05XM                12 x",
      "01-01-26  09:05AM                1,23 x",    // bad thousands groups
      "01-01-26  09:05AM                12,3456 x",
      "01-01-26  09:05AM                ,123 x",
      "01-01-26  09:05AM",
      "01-01-26  09:05AM                99999999999999999999 x",
      "01-01-26  09:05AM       <FILE>         x",
      "totally 12",
      "total",
      "total abc",
      "total 12 files",
  });
}

TEST(list_parser, unsafe_names_are_left_out_and_noted) {
  const std::string kSlash = "the name holds \"/\"";
  const std::string kControl = "the name holds a control character";
  const std::string kEmpty = "the name is empty";
  ExpectUnsafe({
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 ../../etc/passwd", "../../etc/passwd", kSlash},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 /etc/passwd", "/etc/passwd", kSlash},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 sub/file", "sub/file", kSlash},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 trailing/", "trailing/", kSlash},
      {"drwxr-xr-x 1 u g 1 Mar 4 09:05 a/..", "a/..", kSlash},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 nul\0inside"s, "nul\0inside"s, kControl},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 cr\rinside", "cr\rinside", kControl},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 tab\tinside", "tab\tinside", kControl},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 esc\x1b[31mred", "esc\x1b[31mred", kControl},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 del\x7f", "del\x7f", kControl},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 bell\a", "bell\a", kControl},
      // C1 controls in UTF-8: CSI (U+009B) and NEL (U+0085) act like ESC sequences.
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 csi\xC2\x9B" "2J", "csi\xC2\x9B" "2J", kControl},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 nel\xC2\x85", "nel\xC2\x85", kControl},
      {"-rw-r--r-- 1 u g 12 Mar  4 09:05", "", kEmpty},
      {"-rw-r--r-- 1 u g 12 Mar  4 09:05 ", "", kEmpty},
      {"lrwxrwxrwx 1 u g 1 Mar 4 09:05  -> target", "", kEmpty},
      {"lrwxrwxrwx 1 u g 1 Mar 4 09:05 a/b -> target", "a/b", kSlash},
      {"04-27-00  12:09PM       <DIR>          a/b", "a/b", kSlash},
      {"04-14-00  03:47PM                  589 ..\\../x/y", "..\\../x/y", kSlash},
      {"04-14-00  03:47PM                  589 nul\0"s, "nul\0"s, kControl},
      {"01-01-26 09:05AM 12 x\x01", "x\x01", kControl},
      {"01-01-26  09:05AM                12", "", kEmpty},
      {"01-01-26  09:05AM       <DIR>", "", kEmpty},
      {"01-01-26  09:05AM       <DIR>          ", "", kEmpty},
  });
  // A lone CR before the line end is part of the name, not of the line ending.
  const ParsedListing parsed = ParseListing("-rw-r--r-- 1 u g 1 Mar 4 09:05 x\r\r\n");
  EXPECT_TRUE(parsed.entries.empty());
  EXPECT_EQ(parsed.unsafe_names, std::vector<std::string>{"x\r"});
}

TEST(list_parser, link_target_with_a_control_character_is_dropped) {
  ExpectEntries({
      {"lrwxrwxrwx 1 u g 1 Mar 4 09:05 lnk -> bad\x01target",
       Unix("lnk", kLink, 1, "Mar 4 09:05", 0777)},
      {"lrwxrwxrwx 1 u g 1 Mar 4 09:05 lnk -> bad\ttarget",
       Unix("lnk", kLink, 1, "Mar 4 09:05", 0777)},
  });
}

TEST(list_parser, mlsd_lines) {
  ExpectEntries(
      {
          // pyftpdlib 1.5.7 (with "OPTS MLST type;size;modify;unix.mode;"), which writes the
          // mode as Python's oct() does.
          {"type=file;size=156;modify=20071029155301;unix.mode=0o644; music.mp3",
           Mlsd("music.mp3", kFile, 156, "20071029155301", 0644)},
          {"type=dir;size=4096;modify=20071127230206; ebooks",
           Mlsd("ebooks", kFolder, 4096, "20071127230206")},
          // ProFTPD: facts in any order and case, links as OS.unix types.
          {"modify=20240105120000;perm=adfr;size=9;type=OS.unix=symlink;UNIX.mode=0777; lnk",
           Mlsd("lnk", kLink, 9, "20240105120000", 0777)},
          {"type=OS.unix=slink:/pub/target;size=7;UNIX.mode=0777; lnk",
           Mlsd("lnk", kLink, 7, "", 0777, "/pub/target")},
          {"Type=OS.unix=chardev;Size=0; null", Mlsd("null", kFile, 0, "")},
          // Names keep blanks, ";", " -> " and leading blanks: nothing is split off them.
          {"type=file;size=1;  lead", Mlsd(" lead", kFile, 1, "")},
          {"type=file;size=1; my link -> odd; name", Mlsd("my link -> odd; name", kFile, 1, "")},
          {"type=file; no size", Mlsd("no size", kFile, 0, "")},
      },
      ListingSyntax::kMlsd);
  ExpectUnparsed({"type=file;size=1;no-blank-before-the-name",
                  "size=1;modify=20240105120000; no type",
                  "type=file;size=-1; negative",
                  "type=file;size=12k; unit",
                  "type=file;sizeless; fact without value",
                  "type=;size=1; empty type",
                  "-rw-r--r-- 1 u g 1 Mar 4 09:05 a LIST line"},
                 ListingSyntax::kMlsd);
  ExpectUnsafe({{"type=file;size=1; a/b", "a/b", "the name holds \"/\""},
                {"type=file;size=1; tab\there", "tab\there", "the name holds a control character"},
                {"type=file;size=1; ", "", "the name is empty"}},
               ListingSyntax::kMlsd);
  const ParsedListing dots = ParseListing(
      "type=cdir;size=0; /pub\r\ntype=pdir;size=0; ..\r\ntype=dir;size=0; .\r\n"
      "type=file;size=2; x\r\n",
      ListingSyntax::kMlsd);
  EXPECT_EQ(Names(dots), std::vector<std::string>{"x"});
  EXPECT_EQ(dots.unparsed_count + dots.unsafe_count, 0u);
}

TEST(list_parser, dot_entries_are_dropped_silently) {
  const ParsedListing parsed = ParseListing(
      "drwxr-xr-x    3 0        0            4096 Dec 05 19:25 .\r\n"
      "drwxr-xr-x    3 0        0            4096 Dec 05 19:25 ..\r\n"
      "lrwxrwxrwx    1 0        0               1 Dec 05 19:25 . -> x\r\n"
      "04-27-00  12:09PM       <DIR>          .\r\n"
      "04-27-00  12:09PM       <DIR>          ..\r\n"
      "-rw-r--r--    1 0        0               1 Dec 05 19:25 .hidden\r\n"
      "-rw-r--r--    1 0        0               1 Dec 05 19:25 ..x\r\n");
  EXPECT_EQ(Names(parsed), (std::vector<std::string>{".hidden", "..x"}));
  EXPECT_TRUE(parsed.unparsed_lines.empty());
  EXPECT_EQ(parsed.unparsed_count, 0u);
}

TEST(list_parser, name_listed_twice_is_kept_once) {
  const ParsedListing parsed = ParseListing(
      "-rw-r--r-- 1 u g 10 Mar 4 09:05 twice\n"
      "drwxr-xr-x 2 u g 20 Mar 4 09:05 twice\n"
      "-rw-r--r-- 1 u g 30 Mar 4 09:05  twice\n"
      "04-14-00  03:47PM                  40 twice\n"
      "04-14-00  03:47PM                  50 Twice\n"
      "lrwxrwxrwx 1 u g 60 Mar 4 09:05  twice -> elsewhere\n");
  // Names are compared byte for byte: a leading blank or another case is another name.
  EXPECT_EQ(Names(parsed), (std::vector<std::string>{"twice", " twice", "Twice"}));
  ASSERT_EQ(parsed.entries.size(), 3u);
  EXPECT_EQ(parsed.entries[0].size, 10);  // the first occurrence wins
  EXPECT_EQ(parsed.entries[0].type, kFile);
  EXPECT_EQ(parsed.entries[1].size, 30);
  EXPECT_TRUE(parsed.unparsed_lines.empty());
}

TEST(list_parser, total_and_blank_lines_are_neither_entries_nor_unparsed) {
  const ParsedListing parsed = ParseListing(
      "total 20\r\n\r\n   \r\n\t\r\ntotal 0\r\ntotal 1.5M\r\ntotal  4,096 \r\n\n"
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 only\r\n\r\n");
  EXPECT_EQ(Names(parsed), std::vector<std::string>{"only"});
  EXPECT_TRUE(parsed.unparsed_lines.empty());
  EXPECT_EQ(parsed.unparsed_count, 0u);
}

TEST(list_parser, line_endings) {
  const std::string a = "-rw-r--r-- 1 u g 1 Mar 4 09:05 a";
  const std::string b = "04-14-00  03:47PM                  2 b";
  const std::vector<std::string> expected = {"a", "b"};
  for (const std::string& raw : {a + "\r\n" + b + "\r\n", a + "\n" + b + "\n", a + "\r\n" + b,
                                 a + "\n" + b, a + "\n" + b + "\r\n", "\n\n" + a + "\n\n" + b + "\n\n"}) {
    SCOPED_TRACE(testing::PrintToString(raw));
    const ParsedListing parsed = ParseListing(raw);
    EXPECT_EQ(Names(parsed), expected);
    EXPECT_TRUE(parsed.unparsed_lines.empty());
  }
  // Names never keep the CR of a CRLF, with or without a final line ending.
  EXPECT_EQ(ParseListing(a + "\r").entries.at(0).name, "a");
  for (const char* nothing : {"", "\n", "\r\n", "\r\n\r\n\n"}) {
    const ParsedListing parsed = ParseListing(nothing);
    EXPECT_TRUE(parsed.entries.empty());
    EXPECT_TRUE(parsed.unparsed_lines.empty());
  }
}

TEST(list_parser, lines_split_across_pieces_read_as_whole_ones) {
  const std::string raw =
      "total 8\r\n-rw-r--r-- 1 u g 1 Mar 4 09:05 first\r\nnot a line\r\n"
      "04-14-00  03:47PM                  2 second\r\n-rw-r--r-- 1 u g 1 Mar 4 09:05 last";
  const ParsedListing whole = ParseListing(raw);
  for (const std::size_t piece : {1u, 2u, 7u, 33u}) {
    SCOPED_TRACE(piece);
    ParsedListing parsed;
    EntryVectorStore store(parsed.entries);
    ListingBuilder builder(ListingSyntax::kList, store, parsed);
    for (std::size_t at = 0; at < raw.size(); at += piece) builder.Feed(raw.substr(at, piece));
    builder.Finish();
    EXPECT_EQ(parsed.entries, whole.entries);
    EXPECT_EQ(parsed.unparsed_lines, std::vector<std::string>{"not a line"});
  }
  EXPECT_EQ(Names(whole), (std::vector<std::string>{"first", "second", "last"}));
}

TEST(list_parser, mixed_listing_keeps_order_and_reports_the_rest) {
  const ParsedListing parsed = ParseListing(
      "total 8\r\n"
      "-rw-r--r--   1 root     root            3 Dec 05 19:25 unix file\r\n"
      "04-27-00  12:09PM       <DIR>          dos dir\r\n"
      "Garbage the server added\r\n"
      "lrwxrwxrwx   1 root     root            6 Dec 05 19:25 lnk -> unix file\r\n"
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 bad/name\r\n"
      "04-14-00  03:47PM                  589 dos file\r\n");
  EXPECT_EQ(Names(parsed), (std::vector<std::string>{"unix file", "dos dir", "lnk", "dos file"}));
  ASSERT_EQ(parsed.entries.size(), 4u);
  EXPECT_EQ(parsed.entries[0].format, LineFormat::kUnix);
  EXPECT_EQ(parsed.entries[1].format, LineFormat::kDos);
  EXPECT_EQ(parsed.entries[1].type, kFolder);
  EXPECT_EQ(parsed.entries[2].type, kLink);
  EXPECT_EQ(parsed.entries[2].link_target, "unix file");
  EXPECT_EQ(parsed.entries[3].format, LineFormat::kDos);
  EXPECT_EQ(parsed.unparsed_lines, std::vector<std::string>{"Garbage the server added"});
  EXPECT_EQ(parsed.unparsed_count, 1u);
  EXPECT_EQ(parsed.unsafe_names, std::vector<std::string>{"bad/name"});
}

TEST(list_parser, sizes_up_to_int64) {
  ExpectEntries({
      {"-rw-r--r-- 1 u g 9223372036854775807 Mar 4 09:05 max",
       Unix("max", kFile, INT64_MAX, "Mar 4 09:05", 0644)},
      {"-rw-r--r-- 1 u g 000000000000000000000042 Mar 4 09:05 zeros",
       Unix("zeros", kFile, 42, "Mar 4 09:05", 0644)},
      {"01-01-26  09:05AM  9,223,372,036,854,775,807 max", Dos("max", kFile, INT64_MAX, "01-01-26  09:05AM")},
  });
  ExpectUnparsed({"01-01-26  09:05AM  9,223,372,036,854,775,808 over"});
}

TEST(list_parser, unparsed_lines_are_bounded_but_all_counted) {
  std::string raw;
  for (int i = 0; i < 5000; ++i) raw += "garbage line " + std::to_string(i) + "\r\n";
  raw += std::string(3 * 1024 * 1024, 'x');  // one huge line, no line ending
  const ParsedListing parsed = ParseListing(raw);
  EXPECT_EQ(parsed.unparsed_count, 5001u);
  ASSERT_EQ(parsed.unparsed_lines.size(), kMaxKeptUnparsedLines);
  EXPECT_EQ(parsed.unparsed_lines.front(), "garbage line 0");
  EXPECT_EQ(parsed.unparsed_lines.back(), "garbage line 999");

  const ParsedListing huge = ParseListing("-rw-r--r-- 1 u g 1 Mar 4 09:05 " +
                                          std::string(2 * 1024 * 1024, 'y') + "/\n");
  EXPECT_TRUE(huge.entries.empty());
  ASSERT_EQ(huge.unparsed_lines.size(), 1u);
  EXPECT_EQ(huge.unparsed_lines[0].size(), kMaxKeptUnparsedLineBytes);
  EXPECT_EQ(huge.unparsed_lines[0].substr(0, 12), "-rw-r--r-- 1");
}

TEST(list_parser, twenty_thousand_entries) {
  std::string raw;
  for (int i = 0; i < 20000; ++i) {
    raw += (i % 2 == 0 ? "-rw-r--r--    1 0        0            " + std::to_string(i) +
                             " Dec 05 19:25 file " + std::to_string(i)
                       : "11-05-25  07:58PM       <DIR>          dir " + std::to_string(i));
    raw += "\r\n";
  }
  const ParsedListing parsed = ParseListing(raw);
  ASSERT_EQ(parsed.entries.size(), 20000u);
  EXPECT_TRUE(parsed.unparsed_lines.empty());
  EXPECT_EQ(parsed.entries[19998].name, "file 19998");
  EXPECT_EQ(parsed.entries[19998].size, 19998);
  EXPECT_EQ(parsed.entries[19999].name, "dir 19999");
  EXPECT_EQ(parsed.entries[19999].type, kFolder);
}

TEST(list_parser, safe_entry_name) {
  for (const char* safe : {"a", " ", " .", "...", "..a", "a..", "a\\b", "\xC3\xA9", "~",
                           "My File.txt", "-rf", "naïve.txt"}) {
    EXPECT_TRUE(IsSafeEntryName(safe)) << safe;
  }
  for (const std::string& unsafe :
       {""s, "."s, ".."s, "/"s, "a/"s, "/a"s, "a/b"s, "/etc"s, "a\0b"s, "a\nb"s, "a\rb"s,
        "tab\there"s, "esc\x1b"s, "\x1f"s, "\x7f"s}) {
    EXPECT_FALSE(IsSafeEntryName(unsafe)) << testing::PrintToString(unsafe);
  }
}

}  // namespace
}  // namespace pullwire::ftp
