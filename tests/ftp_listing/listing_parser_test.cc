// Tests of the LIST parser: lines captured from real servers, tricky and hostile rows, mixed
// listings, line endings and the bounds on what is kept.
#include "ftp/listing_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace pullwire::ftp {

void PrintTo(const ListingEntry& e, std::ostream* os) {
  static constexpr const char* kTypes[] = {"file", "folder", "link"};
  *os << "{name='" << e.name << "' " << kTypes[static_cast<int>(e.type)] << " size=" << e.size
      << " target='" << e.link_target << "' modified='" << e.modified << "' perms='"
      << e.permissions << "' " << (e.format == LineFormat::kUnix ? "unix" : "dos")
      << " links=" << e.link_count << " owner='" << e.owner << "' group='" << e.group << "'}";
}

namespace {

using namespace std::string_literals;

ListingEntry Unix(std::string name, EntryType type, std::int64_t size, std::string modified,
                  std::string permissions, std::int64_t links, std::string owner,
                  std::string group, std::string target = "") {
  ListingEntry e;
  e.name = std::move(name);
  e.type = type;
  e.size = size;
  e.link_target = std::move(target);
  e.modified = std::move(modified);
  e.permissions = std::move(permissions);
  e.format = LineFormat::kUnix;
  e.link_count = links;
  e.owner = std::move(owner);
  e.group = std::move(group);
  return e;
}

ListingEntry Dos(std::string name, EntryType type, std::int64_t size, std::string modified) {
  ListingEntry e;
  e.name = std::move(name);
  e.type = type;
  e.size = size;
  e.modified = std::move(modified);
  e.permissions = type == EntryType::kFolder ? "<DIR>" : "";
  e.format = LineFormat::kDos;
  return e;
}

constexpr auto kFile = EntryType::kFile;
constexpr auto kFolder = EntryType::kFolder;
constexpr auto kLink = EntryType::kLink;

struct GoodLine {
  std::string line;
  ListingEntry expected;
};

// Each line alone must give exactly its entry and nothing unparsed.
void ExpectEntries(const std::vector<GoodLine>& rows) {
  for (const GoodLine& row : rows) {
    SCOPED_TRACE(row.line);
    const ParsedListing parsed = ParseListing(row.line);
    EXPECT_TRUE(parsed.unparsed_lines.empty());
    EXPECT_EQ(parsed.unparsed_count, 0u);
    ASSERT_EQ(parsed.entries.size(), 1u);
    EXPECT_EQ(parsed.entries[0], row.expected);
  }
}

// Each line alone must give no entry and come back verbatim as the one unparsed line.
void ExpectUnparsed(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    SCOPED_TRACE(testing::PrintToString(line));
    const ParsedListing parsed = ParseListing(line + "\r\n");
    EXPECT_TRUE(parsed.entries.empty());
    EXPECT_EQ(parsed.unparsed_count, 1u);
    EXPECT_EQ(parsed.unparsed_lines, std::vector<std::string>{line});
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
       Unix("a file", kFile, 3, "Dec 05 19:25", "-rw-r--r--", 1, "0", "0")},
      {"-rw-r--r--    1 0        0        5000000000 Dec 05 19:25 big",
       Unix("big", kFile, 5000000000, "Dec 05 19:25", "-rw-r--r--", 1, "0", "0")},
      {"-rw-r--r--    1 0        0               0 May 06  2019 old",
       Unix("old", kFile, 0, "May 06  2019", "-rw-r--r--", 1, "0", "0")},
      {"drwxr-xr-x    2 0        0            4096 Dec 05 19:25 sub",
       Unix("sub", kFolder, 4096, "Dec 05 19:25", "drwxr-xr-x", 2, "0", "0")},
      // pyftpdlib 1.5.7.
      {"lrwxrwxrwx   1 root     root           11 Dec 05 19:25 abs -> /etc/passwd",
       Unix("abs", kLink, 11, "Dec 05 19:25", "lrwxrwxrwx", 1, "root", "root", "/etc/passwd")},
      {"-rw-r--r--   1 root     root     5000000000 Dec 05 19:25 big",
       Unix("big", kFile, 5000000000, "Dec 05 19:25", "-rw-r--r--", 1, "root", "root")},
      // ProFTPD / GNU ls (space-padded day).
      {"drwxr-xr-x   3 ftp      ftp          4096 Mar  4  2019 pub",
       Unix("pub", kFolder, 4096, "Mar  4  2019", "drwxr-xr-x", 3, "ftp", "ftp")},
      // Pure-FTPd (wide owner columns).
      {"-rw-r--r--    1 1000       1000             1234 Mar  4 09:05 notes.txt",
       Unix("notes.txt", kFile, 1234, "Mar  4 09:05", "-rw-r--r--", 1, "1000", "1000")},
      // busybox ftpd.
      {"-rwxr-xr-x    1 root     root        812544 Jan  1  1970 busybox",
       Unix("busybox", kFile, 812544, "Jan  1  1970", "-rwxr-xr-x", 1, "root", "root")},
      // ACL and SELinux marks after the mode, a lower-case month, seconds in the time.
      {"drwxrwxr-x+  4 ann staff 128 Oct 11 23:59 shared",
       Unix("shared", kFolder, 128, "Oct 11 23:59", "drwxrwxr-x+", 4, "ann", "staff")},
      {"-rw-r--r--. 1 ann staff 5 oct 1 00:00:30 s",
       Unix("s", kFile, 5, "oct 1 00:00:30", "-rw-r--r--.", 1, "ann", "staff")},
  });
}

TEST(list_parser, unix_names_keep_blanks) {
  ExpectEntries({
      // The name starts exactly one blank after the time or year column.
      {"-rw-r--r--   1 root     root            2 Dec 05 19:25  lead",
       Unix(" lead", kFile, 2, "Dec 05 19:25", "-rw-r--r--", 1, "root", "root")},
      {"-rw-r--r-- 1 u g 2 Mar  4  2020   three  inner  trail  ",
       Unix("  three  inner  trail  ", kFile, 2, "Mar  4  2020", "-rw-r--r--", 1, "u", "g")},
      {"-rw-r--r-- 1 u g 2 Mar 04 2020 one word", Unix("one word", kFile, 2, "Mar 04 2020",
                                                       "-rw-r--r--", 1, "u", "g")},
      // A name that looks like date columns does not move the columns.
      {"-rw-r--r--   1 u   g   7 Dec 05 19:25 Jan 01  2020 x",
       Unix("Jan 01  2020 x", kFile, 7, "Dec 05 19:25", "-rw-r--r--", 1, "u", "g")},
      {"-rw-r--r-- 1 5 Dec 05  2019 Jan 01 2020 x",
       Unix("Jan 01 2020 x", kFile, 5, "Dec 05  2019", "-rw-r--r--", 1, "", "")},
      {"-rw-r--r-- 1 u 5 Dec 05  2019 Jan 01 2020 x",
       Unix("Jan 01 2020 x", kFile, 5, "Dec 05  2019", "-rw-r--r--", 1, "u", "")},
      // An owner called like a month and a group like a day.
      {"-rw-r--r--   1 Mar 12 4096 Apr  1 10:00 report",
       Unix("report", kFile, 4096, "Apr  1 10:00", "-rw-r--r--", 1, "Mar", "12")},
      // Backslashes and non-ASCII bytes are ordinary name bytes on this side.
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 a\\b \xC3\xA9t\xC3\xA9",
       Unix("a\\b \xC3\xA9t\xC3\xA9", kFile, 1, "Mar 4 09:05", "-rw-r--r--", 1, "u", "g")},
      // Three dots and a blank before a dot are names, not "." or "..".
      {"drwxr-xr-x 2 u g 1 Mar 4 09:05 ...",
       Unix("...", kFolder, 1, "Mar 4 09:05", "drwxr-xr-x", 2, "u", "g")},
      {"drwxr-xr-x 2 u g 1 Mar 4 09:05  .",
       Unix(" .", kFolder, 1, "Mar 4 09:05", "drwxr-xr-x", 2, "u", "g")},
  });
}

TEST(list_parser, unix_symlink) {
  ExpectEntries({
      {"lrwxrwxrwx 1 u g 6 Dec 05 19:25 lnk -> a file",
       Unix("lnk", kLink, 6, "Dec 05 19:25", "lrwxrwxrwx", 1, "u", "g", "a file")},
      // Split at the first arrow: the target may hold one too.
      {"lrwxrwxrwx 1 u g 6 Dec 05 19:25 my link -> odd -> name",
       Unix("my link", kLink, 6, "Dec 05 19:25", "lrwxrwxrwx", 1, "u", "g", "odd -> name")},
      {"lrwxrwxrwx 1 u g 6 Dec 05 19:25  lead -> ../up/there",
       Unix(" lead", kLink, 6, "Dec 05 19:25", "lrwxrwxrwx", 1, "u", "g", "../up/there")},
      // A server that does not show the target.
      {"lrwxrwxrwx 1 u g 6 Dec 05 19:25 bare",
       Unix("bare", kLink, 6, "Dec 05 19:25", "lrwxrwxrwx", 1, "u", "g")},
      // Only links are split: an arrow in a file's or a folder's name is part of it.
      {"-rw-r--r-- 1 u g 6 Dec 05 19:25 a -> b",
       Unix("a -> b", kFile, 6, "Dec 05 19:25", "-rw-r--r--", 1, "u", "g")},
      {"drwxr-xr-x 1 u g 6 Dec 05 19:25 a -> b",
       Unix("a -> b", kFolder, 6, "Dec 05 19:25", "drwxr-xr-x", 1, "u", "g")},
  });
}

TEST(list_parser, unix_owner_and_group_columns_may_be_missing_or_extra) {
  ExpectEntries({
      {"dr-xr-xr-x   2 root                  512 Apr  8  1994 nogroup",
       Unix("nogroup", kFolder, 512, "Apr  8  1994", "dr-xr-xr-x", 2, "root", "")},
      {"-rw-r--r--   1   1234 Mar  4 09:05 noowner",
       Unix("noowner", kFile, 1234, "Mar  4 09:05", "-rw-r--r--", 1, "", "")},
      {"-rw-r--r-- ftp ftp 1234 Mar  4 09:05 nolinks",
       Unix("nolinks", kFile, 1234, "Mar  4 09:05", "-rw-r--r--", 0, "ftp", "ftp")},
      {"-rw-r--r-- 1234 Mar  4 09:05 onlysize",
       Unix("onlysize", kFile, 1234, "Mar  4 09:05", "-rw-r--r--", 0, "", "")},
      // A Windows server's "group domain user" triple.
      {"-rw-r--r--   1 group domain user 531 Jan 29 03:26 domain file",
       Unix("domain file", kFile, 531, "Jan 29 03:26", "-rw-r--r--", 1, "group", "domain user")},
  });
}

TEST(list_parser, unix_special_files_are_files) {
  ExpectEntries({
      // Devices list "major, minor" where the size stands: size 0.
      {"crw-rw-rw-   1 root     root       1,   3 Mar  4 09:05 null",
       Unix("null", kFile, 0, "Mar  4 09:05", "crw-rw-rw-", 1, "root", "root")},
      {"brw-rw----   1 root     disk       8,0 Mar  4 09:05 sda",
       Unix("sda", kFile, 0, "Mar  4 09:05", "brw-rw----", 1, "root", "disk")},
      {"prw-r--r--   1 u g 0 Mar  4 09:05 fifo",
       Unix("fifo", kFile, 0, "Mar  4 09:05", "prw-r--r--", 1, "u", "g")},
      {"srwxrwxrwx   1 u g 0 Mar  4 09:05 sock",
       Unix("sock", kFile, 0, "Mar  4 09:05", "srwxrwxrwx", 1, "u", "g")},
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
      "-rw-r--r-- 1 u g 12 Mar  4 09:05",           // no name
      "-rw-r--r-- 1 u g 12 Mar  4 09:05 ",          // empty name
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
      "01-01-26  09:05AM                12",        // no name
      "01-01-26  09:05AM       <DIR>",
      "01-01-26  09:05AM       <DIR>          ",
      "01-01-26  09:05AM",
      "01-01-26  09:05AM                99999999999999999999 x",
      "01-01-26  09:05AM       <FILE>         x",
      "01-01-26 09:05AM 12 x\x01",
      "totally 12",
      "total",
      "total abc",
      "total 12 files",
  });
}

TEST(list_parser, unsafe_names_are_unparsed_never_entries) {
  ExpectUnparsed({
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 ../../etc/passwd",
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 /etc/passwd",
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 sub/file",
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 trailing/",
      "drwxr-xr-x 1 u g 1 Mar 4 09:05 a/..",
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 nul\0inside"s,
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 cr\rinside",
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 tab\tinside",
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 esc\x1b[31mred",
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 del\x7f",
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 bell\a",
      "lrwxrwxrwx 1 u g 1 Mar 4 09:05  -> target",             // empty link name
      "lrwxrwxrwx 1 u g 1 Mar 4 09:05 a/b -> target",
      "lrwxrwxrwx 1 u g 1 Mar 4 09:05 lnk -> bad\x01target",   // the target is guarded too
      "lrwxrwxrwx 1 u g 1 Mar 4 09:05 lnk -> bad\ttarget",
      "04-27-00  12:09PM       <DIR>          a/b",
      "04-14-00  03:47PM                  589 ..\\../x/y",
      "04-14-00  03:47PM                  589 nul\0"s,
  });
  // A lone CR before the line end is part of the name, not of the line ending.
  const ParsedListing parsed = ParseListing("-rw-r--r-- 1 u g 1 Mar 4 09:05 x\r\r\n");
  EXPECT_TRUE(parsed.entries.empty());
  EXPECT_EQ(parsed.unparsed_lines, std::vector<std::string>{"-rw-r--r-- 1 u g 1 Mar 4 09:05 x\r"});
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
  EXPECT_EQ(parsed.unparsed_lines, (std::vector<std::string>{
                                       "Garbage the server added",
                                       "-rw-r--r-- 1 u g 1 Mar 4 09:05 bad/name"}));
  EXPECT_EQ(parsed.unparsed_count, 2u);
}

TEST(list_parser, sizes_up_to_int64) {
  ExpectEntries({
      {"-rw-r--r-- 1 u g 9223372036854775807 Mar 4 09:05 max",
       Unix("max", kFile, INT64_MAX, "Mar 4 09:05", "-rw-r--r--", 1, "u", "g")},
      {"-rw-r--r-- 1 u g 000000000000000000000042 Mar 4 09:05 zeros",
       Unix("zeros", kFile, 42, "Mar 4 09:05", "-rw-r--r--", 1, "u", "g")},
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
