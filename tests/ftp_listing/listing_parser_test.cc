// Tests of the listing parser: LIST and MLSD lines captured from real servers, tricky and hostile
// rows, mixed listings, line endings, lines split across pieces and the bounds on what is kept.
#include "ftp/listing_parser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace pullwire::ftp {
namespace {

using namespace std::string_literals;

// What one line alone gives, as one text: an entry as "<format><type> <size> <mode bits in octal>
// <date>|<name>[ => <link target>]" (format u/d/m: UNIX, DOS, MLSD; type f/d/l: file, folder,
// link); "?" for a line left unparsed verbatim; "<why>|<name>" for a name left out (why: slash,
// control, empty); "-" for a line that is neither (dot entries, totals, blank lines).
std::string Outcome(const std::string& line, ListingSyntax syntax) {
  const ParsedListing p = ParseListing(line + "\r\n", syntax);
  std::ostringstream out;
  if (p.entries.size() + p.unparsed_count + p.unsafe_count == 0) return "-";
  if (p.entries.size() + p.unparsed_count + p.unsafe_count > 1) {
    out << p.entries.size() << " entries, " << p.unparsed_count << " unparsed, "
        << p.unsafe_count << " unsafe";
  } else if (p.unparsed_count == 1) {
    out << (p.unparsed_lines == std::vector<std::string>{line} ? "?" : "? not verbatim");
  } else if (p.unsafe_count == 1) {
    const std::string_view why = p.unsafe_reasons.at(0);
    out << (why == "the name holds \"/\""                   ? "slash"
            : why == "the name holds a control character" ? "control"
            : why == "the name is empty"                  ? "empty"
                                                          : why)
        << '|' << p.unsafe_names.at(0);
  } else {
    const ListingEntry& e = p.entries[0];
    out << "udm"[static_cast<int>(e.format)] << "fdl"[static_cast<int>(e.type)] << ' ' << e.size
        << ' ' << std::oct << e.permission_bits << ' ' << e.modified << '|' << e.name;
    if (!e.link_target.empty()) out << " => " << e.link_target;
  }
  return out.str();
}

struct Row {
  std::string line;
  std::string outcome;
};

void ExpectOutcomes(const std::vector<Row>& rows, ListingSyntax syntax) {
  for (const Row& row : rows) {
    EXPECT_EQ(Outcome(row.line, syntax), row.outcome) << ::testing::PrintToString(row.line);
  }
}

std::vector<std::string> Names(const ParsedListing& parsed) {
  std::vector<std::string> names;
  for (const ListingEntry& e : parsed.entries) names.push_back(e.name);
  return names;
}

TEST(ListParser, ListAndMlsdLinesTrickyMalformedAndUnsafe) {
  ExpectOutcomes({
      // vsftpd 3.0.3, pyftpdlib, ls; ACL/SELinux marks, set-id bits, seconds in the time.
      {"-rw-r--r--    1 0        0               3 Dec 05 19:25 a file", "uf 3 644 Dec 05 19:25|a file"},
      {"-rw-r--r--. 1 ann staff 5 oct 1 00:00:30 s", "uf 5 644 oct 1 00:00:30|s"},
      {"-rwsr-Sr-T   1 root     root             1 Mar  4 09:05 odd", "uf 1 7744 Mar  4 09:05|odd"},
      {"drwxr-xr-x 2 1000 4096 2024-01-05 12:00:59 no group", "ud 4096 755 2024-01-05 12:00:59|no group"},
      {"lrwxrwxrwx 1 u g 3 2024-01-05 12:00:00.123456789 +0100 full -> iso", "ul 3 777 2024-01-05 12:00:00.123456789 +0100|full => iso"},
      {"-rw-r--r-- 1 u g 2 Mar  4  2020   three  inner  trail  ", "uf 2 644 Mar  4  2020|  three  inner  trail  "},
      {"-rw-r--r--   1 Mar 12 4096 Apr  1 10:00 report", "uf 4096 644 Apr  1 10:00|report"},
      {"drwxr-xr-x 2 u g 1 Mar 4 09:05 ...", "ud 1 755 Mar 4 09:05|..."},
      // Links split at the first arrow; only links are split; a target with a control is dropped.
      {"lrwxrwxrwx 1 u g 6 Dec 05 19:25 my link -> odd -> name", "ul 6 777 Dec 05 19:25|my link => odd -> name"},
      {"-rw-r--r-- 1 u g 6 Dec 05 19:25 a -> b", "uf 6 644 Dec 05 19:25|a -> b"},
      {"lrwxrwxrwx 1 u g 1 Mar 4 09:05 lnk -> bad\x01target", "ul 1 777 Mar 4 09:05|lnk"},
      {"-rw-r--r-- 1234 Mar  4 09:05 onlysize", "uf 1234 644 Mar  4 09:05|onlysize"},
      {"-rw-r--r--   1 group domain user 531 Jan 29 03:26 dom", "uf 531 644 Jan 29 03:26|dom"},
      {"crw-rw-rw-   1 root     root       1,   3 Mar  4 09:05 null", "uf 0 666 Mar  4 09:05|null"},
      {"brw-rw----   1 root     disk       8,0 Mar  4 09:05 sda", "uf 0 660 Mar  4 09:05|sda"},
      {"-rw-r--r-- 1 u g 9223372036854775807 Mar 4 09:05 max", "uf 9223372036854775807 644 Mar 4 09:05|max"},
      {"04-27-00  12:09PM       <DIR>          dos dir", "dd 0 0 04-27-00  12:09PM|dos dir"},
      {"2002-09-02  19:06                9,730 longyear", "df 9730 0 2002-09-02  19:06|longyear"},
      {"03/04/26  9:05 am        12 slash", "df 12 0 03/04/26  9:05 am|slash"},
      {"04-27-00  12:09PM       <DIR>            two lead", "dd 0 0 04-27-00  12:09PM|  two lead"},
      {"total 1.5M", "-"}, {"total  4,096 ", "-"}, {"totally 12", "?"}, {"total abc", "?"},
      {"drwxr-xr-x 3 0 0 4096 Dec 05 19:25 .", "-"}, {"", "-"}, {"   ", "-"}, {"\t", "-"},
      // Malformed lines are left unparsed, verbatim.
      {"-rw-r--r--", "?"},
      {"-rw-r--r-- 1 u g 12 Mar 32 09:05 x", "?"},  // day out of range
      {"-rw-r--r-- 1 u g 12 Mar  4 209 x", "?"},  // neither a time nor a year
      {"-rw-r--r-- 1 u g 9223372036854775808 Mar  4 09:05 x", "?"},  // one past INT64_MAX
      {"-rw-r--r-- 1 u g 1, 3 Mar  4 09:05 x", "?"},  // "major, minor" only for devices
      {"-rw-r--r-- 1 a b c d e 12 Mar  4 09:05 x", "?"},  // too many columns before the size
      {"xrw-r--r-- 1 u g 12 Mar  4 09:05 x", "?"},  // unknown type letter
      {"-rwqr--r-- 1 u g 12 Mar  4 09:05 x", "?"},
      {"01-01-26  09:05AM                1,23 x", "?"},  // bad thousands groups
      {"total 12 files", "?"},
      // Unsafe names are left out and noted.
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 ../../etc/passwd", "slash|../../etc/passwd"},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 nul\0inside"s, "control|nul\0inside"s},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 x\r", "control|x\r"},  // a lone CR before the CRLF
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 csi\xC2\x9B" "2J", "control|csi\xC2\x9B" "2J"},
      {"-rw-r--r-- 1 u g 12 Mar  4 09:05", "empty|"},
      {"lrwxrwxrwx 1 u g 1 Mar 4 09:05  -> target", "empty|"},
  }, ListingSyntax::kList);
  ExpectOutcomes({
      // pyftpdlib (after "OPTS MLST type;size;modify;unix.mode;"), its mode as Python's oct().
      {"type=file;size=156;modify=20071029155301;unix.mode=0o644; music.mp3", "mf 156 644 20071029155301|music.mp3"},
      {"type=dir;size=4096;modify=20071127230206; ebooks", "md 4096 0 20071127230206|ebooks"},
      {"modify=20240105120000;perm=adfr;size=9;type=OS.unix=symlink;UNIX.mode=0777; lnk", "ml 9 777 20240105120000|lnk"},
      {"type=OS.unix=slink:/pub/target;size=7;UNIX.mode=0777; lnk", "ml 7 777 |lnk => /pub/target"},
      {"Type=OS.unix=chardev;Size=0; null", "mf 0 0 |null"},
      // Names keep blanks, ";", " -> " and leading blanks: nothing is split off them.
      {"type=file;size=1;  lead", "mf 1 0 | lead"},
      {"type=file;size=1; my link -> odd; name", "mf 1 0 |my link -> odd; name"},
      {"type=cdir;size=0; /pub", "-"}, {"type=pdir;size=0; ..", "-"},
      {"type=file;size=1;no-blank-before-the-name", "?"},
      {"type=file;size=-1; negative", "?"},
      {"type=;size=1; empty type", "?"},
      {"-rw-r--r-- 1 u g 1 Mar 4 09:05 a LIST line", "?"},
      {"type=file;size=1; a/b", "slash|a/b"},
      {"type=file;size=1; ", "empty|"},
  }, ListingSyntax::kMlsd);
}

TEST(ListParser, MixedListingsReadTheSameWhateverThePiecesAndNotesAreBounded) {
  const std::string raw =
      "total 8\r\n-rw-r--r--   1 root     root            3 Dec 05 19:25 unix file\r\n"
      "04-27-00  12:09PM       <DIR>          dos dir\r\nGarbage the server added\r\n"
      "lrwxrwxrwx   1 root     root            6 Dec 05 19:25 lnk -> unix file\r\n"
      "-rw-r--r-- 1 u g 1 Mar 4 09:05 bad/name\r\n04-14-00  03:47PM                  589 dos file\n"
      // A name listed twice is kept once, as first listed; a leading blank or a case differs.
      "-rw-r--r-- 1 u g 10 Mar 4 09:05 twice\ndrwxr-xr-x 2 u g 20 Mar 4 09:05 twice\n"
      "-rw-r--r-- 1 u g 30 Mar 4 09:05  twice\n04-14-00  03:47PM                  40 twice\n"
      "04-14-00  03:47PM                  50 Twice\nlrwxrwxrwx 1 u g 6 Mar 4 09:05  twice -> x";
  const ParsedListing whole = ParseListing(raw);
  EXPECT_EQ(Names(whole), (std::vector<std::string>{"unix file", "dos dir", "lnk", "dos file",
                                                     "twice", " twice", "Twice"}));
  ASSERT_EQ(whole.entries.size(), 7u);
  EXPECT_EQ(whole.entries[4].size, 10);
  EXPECT_EQ(whole.entries[4].type, EntryType::kFile);
  EXPECT_EQ(whole.entries[5].size, 30);
  EXPECT_EQ(whole.unparsed_lines, std::vector<std::string>{"Garbage the server added"});
  EXPECT_EQ(whole.unsafe_names, std::vector<std::string>{"bad/name"});
  for (const std::size_t piece : {1u, 2u, 7u, 33u}) {
    ParsedListing parsed;
    EntryVectorStore store(parsed.entries);
    ListingBuilder builder(ListingSyntax::kList, store, parsed);
    for (std::size_t at = 0; at < raw.size(); at += piece) builder.Feed(raw.substr(at, piece));
    builder.Finish();
    EXPECT_EQ(parsed.entries, whole.entries) << piece;
    EXPECT_EQ(parsed.unparsed_lines, whole.unparsed_lines) << piece;
    EXPECT_EQ(parsed.unsafe_names, whole.unsafe_names) << piece;
  }
  // Unparsed lines are counted, but kept only up to a bound, each cut to a bound.
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += "garbage line " + std::to_string(i) + "\r\n";
  garbage += std::string(3 * 1024 * 1024, 'x');  // one huge line, no line ending
  const ParsedListing bounded = ParseListing(garbage);
  EXPECT_EQ(bounded.unparsed_count, 5001u);
  ASSERT_EQ(bounded.unparsed_lines.size(), kMaxKeptUnparsedLines);
  EXPECT_EQ(bounded.unparsed_lines.front(), "garbage line 0");
  EXPECT_EQ(bounded.unparsed_lines.back(), "garbage line 999");
  const ParsedListing huge = ParseListing("-rw-r--r-- 1 u g 1 Mar 4 09:05 " +
                                          std::string(2 * 1024 * 1024, 'y') + "/\n");
  EXPECT_TRUE(huge.entries.empty());
  ASSERT_EQ(huge.unparsed_lines.size(), 1u);
  EXPECT_EQ(huge.unparsed_lines[0].size(), kMaxKeptUnparsedLineBytes);
  EXPECT_EQ(huge.unparsed_lines[0].substr(0, 12), "-rw-r--r-- 1");
}

}  // namespace
}  // namespace pullwire::ftp
