// Pure engine rules: wildcard paths, ASCII conversion, local destinations, time-out wording, and
// local files under injected system-call faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ftp/ascii_filter.h"
#include "ftp/data_sink.h"
#include "ftp/deadline.h"
#include "ftp/errors.h"
#include "ftp/get_file.h"
#include "ftp/local_file.h"
#include "ftp/wildcard.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_files.h"

namespace pullwire::ftp {
namespace {

namespace fs = std::filesystem;
using pullwire::testing::ReadFile;
using pullwire::testing::TempDir;
using pullwire::testing::WriteFile;
using namespace test;

TEST(Wildcard, MatchesStarAndQuestionMarkWithCaseCounting) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const std::vector<Case> cases = {
      {"*", "anything", true},      {"*", "", true},          {"*.txt", "a.txt", true},
      {"*.txt", "a.TXT", false},    {"*.txt", ".txt", true},  {"a?c", "abc", true},
      {"a?c", "ac", false},         {"a*b*c", "axxbyyc", true}, {"a*b*c", "axxbyy", false},
      {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
      {"My Files", "My Files", true}, {"[a]", "[a]", true},   {"", "", true},
      {"", "x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
  }
}

TEST(Wildcard, ParsesPathsQuotedOrNot) {
  const std::vector<std::vector<const char*>> cases = {  // wildcard, folder, pattern
      {"/pub/*", "/pub", "*"},
      {"\"/pub/My Files/*\"", "/pub/My Files", "*"},
      {"  /pub/My Files/*.txt  ", "/pub/My Files", "*.txt"},
      {"*.zip", "", "*.zip"},
      {"/*", "/", "*"},
      {"/pub/", "/pub", "*"},
      {"sub/a?.bin", "sub", "a?.bin"},
  };
  for (const auto& c : cases) {
    const WildcardPath path = ParseWildcardPath(c[0]);
    EXPECT_EQ(path.folder + "|" + path.pattern, std::string(c[1]) + "|" + c[2]) << c[0];
  }
  for (const char* empty : {"  ", "\"\""}) {
    ExpectFtpError([&] { ParseWildcardPath(empty); }, ErrorCode::kInvalidValue,
                   "the wildcard path is empty");
  }
  ExpectFtpError([] { ParseWildcardPath("/pu*/x/*.txt"); }, ErrorCode::kInvalidValue,
                 "wildcards are allowed in the last part of the path only");
}

TEST(AsciiFilter, TurnsCrLfIntoLfAcrossChunkBoundaries) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"a\r\nb\r\n"}, "a\nb\n"},
      {{"a\r", "\nb"}, "a\nb"},           // CRLF split between two reads
      {{"a\r", "b"}, "a\rb"},             // a bare CR is data
      {{"a\r", "\r\n"}, "a\r\n"},         // CR CR LF: the first CR stays
      {{"a\r"}, "a\r"},                   // data ending in CR
      {{"\r", "", "\n"}, "\n"},           // an empty read in between changes nothing
      {{"a\n\r\n\n"}, "a\n\n\n"},
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
  EXPECT_EQ(ResolveDestination("a.txt", dir.path().string()), dir / "a.txt");
  ExpectFtpError([&] { ResolveDestination("/pub/..", dir.path().string()); },
                 ErrorCode::kUnsafeName, "the remote name \"..\" cannot be used");
  ExpectFtpError([&] { ResolveDestination("/pub/", dir.path().string()); },
                 ErrorCode::kUnsafeName, "cannot be used as a file name");
  ExpectFtpError([&] { ResolveDestination("", dir.path().string()); }, ErrorCode::kInvalidValue,
                 "the remote file name is empty");
  ExpectFtpError([&] { ResolveDestination("a", ""); }, ErrorCode::kInvalidValue,
                 "the local destination is empty");
  EXPECT_EQ(TimeoutText("no reply to RETR", Deadline::After(Milliseconds(30000))),
            "no reply to RETR within 30 s");
  EXPECT_EQ(FormatSpan(Milliseconds(1500)), "1.5 s");
  EXPECT_EQ(FormatSpan(Milliseconds(250)), "250 ms");
  EXPECT_EQ(Deadline::After(Milliseconds(-5)).Left(), Milliseconds(0));
  EXPECT_EQ(ErrorTitle(ErrorCode::kNoSuchFile), "The file or folder does not exist");
}

std::size_t EntriesIn(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Short and interrupted writes are retried; the earlier file stays until the commit renames the
// new one over it, never through a symbolic link (the link itself is replaced), and stays whole
// when the disk is full.
TEST(LocalFiles, ReplaceWritesBesideTheTargetAndRenamesOnCommit) {
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
                 ErrorCode::kLocalFileError, "a.bin: No space left on device");
  EXPECT_EQ(ReadFile(dir / "a.bin"), "new content");
  EXPECT_EQ(EntriesIn(dir.path()), 2u);
}

TEST(LocalFiles, ContinueCutsAtTheOffsetOnlyWhenDataStarts) {
  TempDir dir;
  const fs::path target = dir / "part.bin";
  WriteFile(target, "0123456789");
  LocalFile::Continue(target, 4, DefaultSysIo()).Abandon();  // a refused transfer: nothing cut
  EXPECT_EQ(ReadFile(target), "0123456789");
  {
    LocalFile file = LocalFile::Continue(target, 4, DefaultSysIo());
    FileSink(file, false).Write("abc", 3);
    file.Abandon();  // a broken transfer keeps what arrived, for the next attempt
  }
  EXPECT_EQ(ReadFile(target), "0123abc");
  ExpectFtpError([&] { LocalFile::Continue(target, 100, DefaultSysIo()); },
                 ErrorCode::kInvalidValue, "the file has only 7 bytes");
  ExpectFtpError([&] { LocalFile::Continue(dir / "missing", 5, DefaultSysIo()); },
                 ErrorCode::kInvalidValue, "the file does not exist");
  fs::create_symlink(target, dir / "link.bin");
  ExpectFtpError([&] { LocalFile::Continue(dir / "link.bin", 2, DefaultSysIo()); },
                 ErrorCode::kLocalFileError, "is a symbolic link");
  {
    LocalFile file = LocalFile::Continue(dir / "fresh.bin", 0, DefaultSysIo());
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
