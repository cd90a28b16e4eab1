// Pure engine rules: reply framing and meaning, wildcard paths, ASCII conversion, local
// destinations, time-out wording, and local files under injected system-call faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "ftp/ascii_filter.h"
#include "ftp/data_sink.h"
#include "ftp/deadline.h"
#include "ftp/entry_table.h"
#include "ftp/errors.h"
#include "ftp/get_file.h"
#include "ftp/local_file.h"
#include "ftp/reply.h"
#include "ftp/reply_meaning.h"
#include "ftp/wildcard.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_files.h"

namespace pullwire::ftp {
namespace {

namespace fs = std::filesystem;
using namespace pullwire::testing;
using namespace test;
using std::string_literals::operator""s;

// A reply of `lines`, its code taken from the first.
Reply Lines(std::vector<std::string> lines) {
  return Reply{std::stoi(lines.at(0)), std::move(lines)};
}
Reply R(std::string line) { return Lines({std::move(line)}); }

// What FrameReply makes of `input`: status, bytes taken, code, lines ("complete 11 220|220 Ready").
std::string Framed(const std::string& input, const FrameLimits& limits = {}) {
  static constexpr const char* kStatus[] = {"incomplete", "complete", "malformed", "too long"};
  const FrameResult result = FrameReply(input, limits);
  std::string out = kStatus[static_cast<int>(result.status)];
  out += " " + std::to_string(result.consumed);
  if (result.status == FrameStatus::kComplete || result.status == FrameStatus::kMalformed) {
    out += " " + std::to_string(result.reply.code);
    for (const std::string& line : result.reply.lines) out += "|" + line;
  }
  return out;
}

TEST(ReplyFraming, FramesCompleteIncompleteAndBrokenReplies) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"220 Rea", "incomplete 0"},
      // Inner lines may start with anything, even another code or the same code and a hyphen.
      {"230-Hello\r\n 220 indented\r\n550 other\r\n230-more\r\n230 End\r\n",
       "complete 56 230|230-Hello| 220 indented|550 other|230-more|230 End"},
      {"220 Rea\0dy\r\n"s, "complete 12 220|220 Ready"},  // NUL bytes dropped
      {"220x\r\n", "malformed 6 0|220x"},
      {"220 " + std::string(5000, 'a') + "\r\n", "too long 0"},
  };
  for (const auto& [input, framed] : cases) {
    EXPECT_EQ(Framed(input), framed) << ::testing::PrintToString(input.substr(0, 40));
  }
}

TEST(ReplyMeaning, QuotesRepliesAndNumbersRefusalsByVerbAndText) {
  EXPECT_EQ(Lines({"530-Login incorrect.", "530 Bye."}).Quote(), "530 Login incorrect. Bye.");
  EXPECT_EQ(R("550 evil\x1b[31m name").Quote(), "550 evil?[31m name");
  // C1 controls in UTF-8 (CSI U+009B, NEL U+0085) are controls too; "é" (C3 A9) is not.
  EXPECT_EQ(R("550 evil\xC2\x9B" "31m \xC2\x85x \xC3\xA9").Quote(), "550 evil?31m ?x \xC3\xA9");
  EXPECT_LE(R("220 " + std::string(2000, 'x')).Quote().size(), 403u);
  EXPECT_EQ(EscapedText("tab\there \"q\" back\\slash"), "tab\\there \\\"q\\\" back\\\\slash");
  EXPECT_EQ(EscapedText("nul\0\x1b[2J\x7f\r\n"s), "nul\\x00\\x1b[2J\\x7f\\r\\n");
  EXPECT_EQ(EscapedText("csi\xC2\x9B \xC3\xA9"), "csi\\xc2\\x9b \xC3\xA9");
  EXPECT_EQ(EscapedText(std::string(50, 'x'), 10), "xxxxxxxxxx...");
  // A bare 550 to a lookup means missing (vsftpd's RETR); other verbs need a missing phrase.
  EXPECT_EQ(RefusalCode("RETR", R("550 Failed to open file.")), ErrorCode::kNoSuchFile);
  EXPECT_EQ(RefusalCode("DELE", R("550 Delete operation failed.")), ErrorCode::kCommandFailed);
  EXPECT_EQ(RefusalCode("RMD", R("550 x: The system cannot find the file specified.")),
            ErrorCode::kNoSuchFile);
}

TEST(ReplyMeaning, ReadsPassivePortsPwdPathsAndAnnouncedSizes) {
  EXPECT_EQ(ParseEpsvPort(R("229 ok (!!!1025!)")), 1025);
  EXPECT_FALSE(ParseEpsvPort(R("229 x (|||70000|)")));
  EXPECT_EQ(ParsePasvPort(R("227 Entering Passive Mode 127,0,0,1,4,51")), 1075);
  EXPECT_FALSE(ParsePasvPort(R("227 Entering Passive Mode (127,0,0,1,400,1)")));
  EXPECT_EQ(ParsePwdPath(R("257 \"/a \"\"b\"\" c\" is current")), "/a \"b\" c");
  EXPECT_EQ(ParsePwdPath(R("257 /plain is current")), "/plain");
  EXPECT_FALSE(ParsePwdPath(R("257 \"/unterminated")));
  EXPECT_EQ(ParseAnnouncedSize(R("150 Opening data for (1) x (42 BYTES)")), 42);
  EXPECT_FALSE(ParseAnnouncedSize(R("150 x 12 bytes)")));
}

TEST(Wildcard, MatchesAndParsesPaths) {
  const std::vector<std::tuple<const char*, std::string, bool>> matches = {
      {"*", "", true}, {"*.txt", ".txt", true}, {"*.txt", "a.TXT", false}, {"a?c", "abc", true},
      {"a?c", "ac", false}, {"a*b*c", "axxbyyc", true}, {"a*b*c", "axxbyy", false},
      {"", "x", false}, {"[a]", "[a]", true}, {"*a*a*a*b", std::string(41, 'a'), false},
  };
  for (const auto& [pattern, name, match] : matches) {
    EXPECT_EQ(WildcardMatch(pattern, name), match) << pattern << " vs " << name;
  }
  const std::vector<std::pair<const char*, const char*>> paths = {  // wildcard, folder|pattern
      {"/pub/*", "/pub|*"}, {"\"/pub/My Files/*\"", "/pub/My Files|*"}, {"*.zip", "|*.zip"},
      {"  /pub/My Files/*.txt  ", "/pub/My Files|*.txt"}, {"/*", "/|*"}, {"/pub/", "/pub|*"},
  };
  for (const auto& [wildcard, parsed] : paths) {
    const WildcardPath path = ParseWildcardPath(wildcard);
    EXPECT_EQ(path.folder + "|" + path.pattern, parsed) << wildcard;
  }
  for (const char* empty : {"  ", "\"\""}) {
    ExpectFtpError([&] { ParseWildcardPath(empty); }, ErrorCode::kInvalidValue,
                   "the wildcard path is empty");
  }
  ExpectFtpError([] { ParseWildcardPath("/pu*/x/*.txt"); }, ErrorCode::kInvalidValue,
                 "wildcards are allowed in the last part of the path only: /pu*/x/*.txt");
}

// CRLF split between reads, a bare CR (data), CR CR LF, data ending in CR, an empty read.
TEST(AsciiFilter, TurnsCrLfIntoLfAcrossChunkBoundaries) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"a\r\nb\r\n"}, "a\nb\n"}, {{"a\r", "\nb"}, "a\nb"}, {{"a\r", "b"}, "a\rb"},
      {{"a\r", "\r\n"}, "a\r\n"}, {{"a\r"}, "a\r"}, {{"\r", "", "\n"}, "\n"},
  };
  for (const auto& [chunks, expected] : cases) {
    CrLfToLf filter;
    std::string out;
    for (const std::string& chunk : chunks) filter.Convert(chunk, out);
    filter.Finish(out);
    EXPECT_EQ(out, expected);
  }
}

TEST(LocalNames, ResolveDestinationsAndSayWhatTimedOut) {
  TempDir dir;
  EXPECT_EQ(ResolveDestination("/pub/a.txt", (dir / "b.txt").string()), dir / "b.txt");
  EXPECT_EQ(ResolveDestination("/pub/a.txt", dir.path().string()), dir / "a.txt");
  ExpectFtpError([&] { ResolveDestination("/pub/..", dir.path().string()); },
                 ErrorCode::kUnsafeName,
                 "the remote name \"..\" cannot be used as a file name in " + dir.path().string());
  ExpectFtpError([&] { ResolveDestination("a", ""); }, ErrorCode::kInvalidValue,
                 "the local destination is empty");
  EXPECT_EQ(FormatSpan(Milliseconds(1500)), "1.5 s");
  EXPECT_EQ(Deadline::After(Milliseconds(-5)).Left(), Milliseconds(0));
  EXPECT_EQ(ErrorTitle(ErrorCode::kNoSuchFile), "The file or folder does not exist");
}

// Caps on kept text and bytes received (small here); a repeated name keeps nothing new.
TEST(ListingLimits, KeptTextAndReceivedBytesAreCapped) {
  const std::string entry = "-rw-r--r-- 1 u g 0 Jan 01 00:00 ";
  for (const auto& [name, error] : std::vector<std::pair<std::string, std::string>>{
           {std::string(200, 'n'), "the listing is larger than 1 MiB of text, the most this "
                                   "client keeps: list a smaller folder"},
           {std::string(60'000, 'x'), "the server sent more than 4 MiB of listing, the most this "
                                      "client reads: list a smaller folder"}}) {
    EntryTable table;
    ListingBuilder builder(ListingSyntax::kList, table, table.notes);
    ListingSink sink(builder, ListingLimits{std::size_t{1} << 20, std::size_t{4} << 20});
    ExpectFtpError([&] {
      for (int n = 0; n < 10000; ++n) {  // 2.3 MB or 600 MB: past either limit
        const std::string line = entry + name + (name[0] == 'n' ? std::to_string(n) : "") + "\r\n";
        sink.Write(line.data(), line.size());
      }
    }, ErrorCode::kListingTooLarge, error);
  }
}

// Replace: retried writes, the old file kept until the commit renames over it (never through a
// link), whole on a full disk. Continue: cut at the offset only when data starts.
TEST(LocalFiles, ReplaceRenamesOnCommitAndContinueCutsOnlyWhenDataStarts) {
  TempDir dir;
  WriteFile(dir / "outside.txt", "keep");
  fs::create_symlink(dir / "outside.txt", dir / "a.bin");
  FaultySysIo sys;
  sys.max_write = 3;
  sys.interrupted_writes = 2;
  {
    LocalFile file = LocalFile::Replace(dir / "a.bin", sys);
    file.Write("new content", 11);
    EXPECT_EQ(ReadFile(dir / "a.bin"), "keep");
    file.Commit();
  }
  EXPECT_EQ(ReadFile(dir / "a.bin"), "new content");
  EXPECT_FALSE(fs::is_symlink(dir / "a.bin"));
  EXPECT_EQ(ReadFile(dir / "outside.txt"), "keep");
  sys.disk_room = 4;
  ExpectFtpError([&] { LocalFile::Replace(dir / "a.bin", sys).Write("0123456789", 10); },
                 ErrorCode::kLocalFileError,
                 "cannot write " + (dir / "a.bin").string() + ": No space left on device");
  EXPECT_EQ(ReadFile(dir / "a.bin"), "new content");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

  SysIo& io = DefaultSysIo();
  const fs::path part = dir / "part.bin";
  WriteFile(part, "0123456789");
  LocalFile::Continue(part, 4, io).Abandon();  // a refused transfer: nothing cut
  EXPECT_EQ(ReadFile(part), "0123456789");
  {
    LocalFile file = LocalFile::Continue(part, 4, io);
    FileSink(file, false).Write("abc", 3);
    file.Abandon();  // a broken transfer keeps what arrived, for the next attempt
  }
  EXPECT_EQ(ReadFile(part), "0123abc");
  fs::create_symlink(part, dir / "link.bin");
  for (const auto& [path, offset, code, text] :
       std::vector<std::tuple<fs::path, int, ErrorCode, std::string>>{
           {part, 100, ErrorCode::kInvalidValue, " from byte 100: the file has only 7 bytes"},
           {dir / "missing", 5, ErrorCode::kInvalidValue, " from byte 5: the file does not exist"},
           {dir / "link.bin", 2, ErrorCode::kLocalFileError, ""}}) {
    ExpectFtpError([&] { LocalFile::Continue(path, offset, io); }, code,
                   text.empty() ? "the local file " + path.string() +
                                      " is a symbolic link, which is not written through"
                                : "cannot continue " + path.string() + text);
  }
  {
    LocalFile file = LocalFile::Continue(dir / "fresh.bin", 0, io);
    EXPECT_FALSE(fs::exists(dir / "fresh.bin"));
    FileSink sink(file, true);
    sink.Write("x\r\ny\r", 5);
    sink.Finish();
    file.Commit();
  }
  EXPECT_EQ(ReadFile(dir / "fresh.bin"), "x\ny\r");
}

}  // namespace
}  // namespace pullwire::ftp
