// The per-file transfer over a scripted component: existing-file rule, temporary copies,
// completeness, rate, remote delete, variable slots and the partial-file clean-up.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "download/download_entry.h"
#include "download/local_copy.h"
#include "remote/local_paths.h"
#include "tests/download/run_fixture.h"

namespace pullwire::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;

using FileTransfer = RunFixture;

TEST_F(FileTransfer, ExistingFileRuleCountsFilesAndLinksButNotFolders) {
  ftp.AddFile("file", "new");
  ftp.AddFile("link", "new");
  ftp.AddFile("folder", "new");
  WriteFile(LocalPath("file"), "old");
  ASSERT_EQ(::symlink("/nonexistent-target", LocalPath("link").c_str()), 0);
  std::filesystem::create_directory(LocalPath("folder"));
  state.AutoLog = true;
  Run({{"Overwrite", "0"}});

  EXPECT_THAT(channel.sent, Contains(Info("Skipped file [file] - file exists and OVERWRITE=Off")));
  EXPECT_THAT(channel.sent, Contains(Info("Skipped file [link] - file exists and OVERWRITE=Off")));
  // The folder does not count as existing: the transfer is tried and cannot replace it.
  EXPECT_THAT(channel.sent, Contains(Info(Downloading("folder", 3))));
  EXPECT_EQ(channel.sent.back().mtype, 2);
  EXPECT_THAT(channel.sent.back().text, ::testing::StartsWith("ERROR_PULL-WIRE [cannot put the downloaded file"));
  EXPECT_EQ(ReadFile(LocalPath("file")), "old");
  EXPECT_TRUE(std::filesystem::is_symlink(LocalPath("link")));
  EXPECT_THAT(FolderNames(local), ElementsAre("file", "folder", "link"));
  EXPECT_THAT(FolderNames(LocalPath("folder")), IsEmpty());
}

TEST_F(FileTransfer, OverwriteReplacesAFileAndALinkWithoutFollowingIt) {
  TempDir elsewhere("elsewhere");
  WriteFile(elsewhere / "target", "outside");
  ftp.AddFile("a.txt", "new a");
  ftp.AddFile("b.txt", "new b");
  WriteFile(LocalPath("a.txt"), "old a");
  ASSERT_EQ(::symlink((elsewhere / "target").c_str(), LocalPath("b.txt").c_str()), 0);
  Run();
  EXPECT_EQ(ReadFile(LocalPath("a.txt")), "new a");
  EXPECT_FALSE(std::filesystem::is_symlink(LocalPath("b.txt")));
  EXPECT_EQ(ReadFile(LocalPath("b.txt")), "new b");
  EXPECT_EQ(ReadFile(elsewhere / "target"), "outside");
  EXPECT_FALSE(state.ErrorFlag);
}

TEST_F(FileTransfer, TheCopyIsWrittenUnderATemporaryNameInTheLocalFolder) {
  ftp.AddFile("a.txt", "x");
  Run();
  ASSERT_EQ(ftp.destinations.size(), 1u);
  const std::filesystem::path destination(ftp.destinations[0]);
  EXPECT_EQ(destination.parent_path(), local);
  EXPECT_NE(destination.filename(), "a.txt");
  EXPECT_THAT(FolderNames(local), ElementsAre("a.txt"));
}

TEST_F(FileTransfer, ZipEntriesInModeThreeGoToAFolderAndEndUpUnderTheirName) {
  ftp.AddFile("archive.zip", "zip 1");
  ftp.AddFile("ARCHIVE2.ZIP", "zip 2");
  ftp.AddFile("MYZIP", "zip 3");
  ftp.AddFile("data.gz", "gz");
  Run({{"TransferMode", "3"}});
  ASSERT_EQ(ftp.destinations.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    const std::filesystem::path destination(ftp.destinations[static_cast<std::size_t>(i)]);
    EXPECT_EQ(destination.parent_path(), local);
    EXPECT_FALSE(std::filesystem::exists(destination)) << "the temporary folder is gone";
  }
  EXPECT_THAT(ftp.calls, Contains("TransferType(3)"));
  EXPECT_EQ(ReadFile(LocalPath("archive.zip")), "zip 1");
  EXPECT_EQ(ReadFile(LocalPath("ARCHIVE2.ZIP")), "zip 2");
  EXPECT_EQ(ReadFile(LocalPath("MYZIP")), "zip 3");
  EXPECT_EQ(ReadFile(LocalPath("data.gz")), "gz");
  EXPECT_THAT(FolderNames(local), ElementsAre("ARCHIVE2.ZIP", "MYZIP", "archive.zip", "data.gz"));

  const std::vector<std::tuple<std::int32_t, std::string, bool>> rule = {
      {3, "a.zip", true}, {3, "A.Zip", true}, {3, "zip", true}, {3, "ip", false}, {3, "a.zip.gz", false},
      {1, "a.zip", false}, {0, "a.zip", false}};
  for (const auto& [mode, name, zip] : rule) EXPECT_EQ(IsZipEntry(mode, name), zip) << mode << " " << name;
}

TEST_F(FileTransfer, AsciiCopiesAreCheckedAgainstTheBytesReceived) {
  ftp.AddFile("crlf.txt", "one\r\ntwo\r\n");  // listed as 10 bytes, 8 on disk
  Run({{"TransferMode", "0"}, {"AutoDelete", "1"}});
  EXPECT_EQ(ReadFile(LocalPath("crlf.txt")), "one\ntwo\n");
  EXPECT_THAT(ftp.calls, Contains("DeleteFile(crlf.txt)"));
  EXPECT_THAT(channel.sent, Contains(Info("Deleting remote-file [crlf.txt] ...")));
}

// The short copy goes, and so does the earlier file it was to replace: nothing stale stays
// under the name for the host to take for new.
TEST_F(FileTransfer, ShortCopyIsRemovedWithTheEarlierFileCountedAndNeverDeletedRemotely) {
  ftp.AddFile("a.bin", std::string(100, 'a'));
  ftp.get_faults["a.bin"] = GetFault{60, std::nullopt};
  WriteFile(LocalPath("a.bin"), "previous");
  Run({{"AutoDelete", "1"}, {"SaveFilename", "1"}, {"ProcessAll", "0"}});
  EXPECT_THAT(
      channel.sent,
      ElementsAreArray(Then(
          Opening(),
          {Info("Number of files & directories found: 1"), Info(Downloading("a.bin", 100)),
           Warning("Download incomplete [a.bin]: 60 of 100 bytes received; the copy was discarded "
                   "and the earlier local file removed"),
           Info("Downloaded [a.bin] <unknown> kBps"), Info("Number of files downloaded : 1"),
           Info("Disconnecting from [ftp.example.net] ...")})));
  EXPECT_THAT(ftp.calls, Not(Contains("DeleteFile(a.bin)")));
  EXPECT_THAT(FolderNames(local), IsEmpty());
  EXPECT_EQ(state.LocalVars[0], (VariableSlot{true, "a.bin"}));
  EXPECT_FALSE(state.ErrorFlag);
}

TEST_F(FileTransfer, CompleteCopyIsDeletedRemotelyAfterTheDownloadedMessage) {
  ftp.AddFile("a.txt", "abc");
  Run({{"AutoDelete", "1"}});
  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 1"), Info(Downloading("a.txt", 3)),
      Info("Downloaded [a.txt] <unknown> kBps"), Info("Deleting remote-file [a.txt] ..."),
      Info("Number of files downloaded : 1"), Info("Disconnecting from [ftp.example.net] ...")})));
  EXPECT_TRUE(ftp.files.empty());
}

TEST_F(FileTransfer, TransferDroppedOnTheSecondOfFiveEndsTheRun) {
  for (const char* name : {"f1", "f2", "f3", "f4", "f5"}) ftp.AddFile(name, std::string(1000, name[1]));
  ftp.get_faults["f2"] = GetFault{400, FtpError(ErrorCode{426}, "426 Connection closed; transfer aborted.")};
  WriteFile(LocalPath("f2"), "earlier f2");
  Run();
  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 5"), Info(Downloading("f1", 1000)),
      Info("Downloaded [f1] <unknown> kBps"), Info(Downloading("f2", 1000)),
      Failure("ERROR_PULL-WIRE [426 Connection closed; transfer aborted.]")})));
  EXPECT_THAT(FolderNames(local), ElementsAre("f1", "f2"));
  EXPECT_EQ(ReadFile(LocalPath("f1")), std::string(1000, '1'));
  EXPECT_EQ(ReadFile(LocalPath("f2")), "earlier f2");
  EXPECT_EQ(ftp.calls.back(), "Logout");
  EXPECT_THAT(ftp.calls, Not(Contains("GetFile(f3)")));
  EXPECT_TRUE(state.ErrorFlag);
}

TEST_F(FileTransfer, VariableSlotRules) {
  struct Case {
    std::string scope, number;
    bool global;
    std::size_t slot;
  };
  const std::vector<Case> cases = {{"GLOBAL", "3", true, 2},  {"LOCAL", "3", false, 2}, {"", "3", false, 2},
                                   {"global", "16", false, 15}, {"GLOBAL", "16", true, 15}, {"GLOBAL", "1", true, 0}};
  ftp.AddFile("a.txt", "x");
  for (const Case& c : cases) {
    state.LocalVars = {};
    state.GlobalVars = {};
    Run({{"ProcessAll", "0"}, {"SaveFilename", "1"}, {"VarScope", c.scope}, {"VarNumber", c.number}});
    const auto& written = c.global ? state.GlobalVars : state.LocalVars;
    const auto& untouched = c.global ? state.LocalVars : state.GlobalVars;
    EXPECT_EQ(written[c.slot], (VariableSlot{true, "a.txt"})) << c.scope << c.number;
    EXPECT_EQ(untouched[c.slot], VariableSlot{}) << c.scope << c.number;
  }
  EXPECT_FALSE(state.ErrorFlag);
}

TEST_F(FileTransfer, VarNumberZeroFailsAfterTheDownloadAndTheRemoteDelete) {
  ftp.AddFile("a.txt", "x");
  Run({{"ProcessAll", "0"}, {"SaveFilename", "1"}, {"VarNumber", "0"}, {"AutoDelete", "1"}});
  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 1"), Info(Downloading("a.txt", 1)),
      Info("Downloaded [a.txt] <unknown> kBps"), Info("Deleting remote-file [a.txt] ..."),
      Failure("ERROR_PULL-WIRE [slot 20 (VarNumber): 0 is outside 1..16]")})));
  EXPECT_EQ(ReadFile(LocalPath("a.txt")), "x");
  EXPECT_EQ(ftp.calls.back(), "Logout");
  EXPECT_TRUE(state.ErrorFlag);
}

TEST_F(FileTransfer, RateIsTheListedSizeOverWholeSecondsInKibRoundedDown) {
  ftp.AddFile("big", std::string(1048576, 'b'));
  const auto start = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
  clock.times = {start + std::chrono::milliseconds(900), start + std::chrono::milliseconds(4100)};
  Run();
  EXPECT_THAT(channel.sent, Contains(Info("Downloaded [big] 256 kBps")));

  const std::vector<std::tuple<std::optional<std::int64_t>, std::int64_t, std::string>> table = {
      {1048576, 4, "256"}, {1000, 1, "<unknown>"}, {1048576, 0, "<unknown>"}, {5000, -1, "<unknown>"},
      {std::nullopt, 3, "<unknown>"}, {2047, 1, "1"}, {4'000'000'000'000LL, 2, "1953125000"}};
  for (const auto& [size, seconds, text] : table) EXPECT_EQ(RateText(size, seconds), text) << seconds;
}

TEST_F(FileTransfer, HostileNamesAreRefusedBeforeAnythingIsWritten) {
  for (const std::string& name : std::vector<std::string>{"../escape", "..", "a/b", "bad\nname", ""}) {
    ftp.listing.entries = {{name, "F", 4, 0, ""}};
    ftp.files = {{name, "evil"}};
    channel.sent.clear();
    Run();
    if (name == "..") {
      EXPECT_EQ(channel.sent.back(), Info("Disconnecting from [ftp.example.net] ..."));  // never listed
      continue;
    }
    EXPECT_EQ(channel.sent.back(), Failure("ERROR_PULL-WIRE [refused to write the file name \"" + name +
                                           "\": it would leave the local folder]"));
  }
  EXPECT_THAT(FolderNames(parent.path()), ElementsAre("local"));
  EXPECT_THAT(FolderNames(local), IsEmpty());
  EXPECT_THAT(ftp.calls, Not(Contains("GetFile(../escape)")));
}

TEST_F(FileTransfer, EmptyOrMissingLocalFolderEndsTheRunClearly) {
  ftp.AddFile("a.txt", "x");
  Run({{"LocalDir", ""}});
  EXPECT_EQ(channel.sent.back(), Failure("ERROR_PULL-WIRE [no local folder is set (LocalDir is empty)]"));
  channel.sent.clear();
  Run({{"LocalDir", (local / "missing").string()}});
  EXPECT_EQ(channel.sent.back(),
            Failure("ERROR_PULL-WIRE [cannot create a file in " + (local / "missing").string() +
                    ": No such file or directory]"));
  EXPECT_THAT(ftp.calls, Not(Contains("GetFile(a.txt)")));
}

TEST(LocalCopy, DiscardsWhatWasNotPlacedAndNeverFollowsLinks) {
  TempDir folder("copy");
  {
    LocalCopy copy = LocalCopy::Create(folder.path().string(), "a", LocalCopy::Destination::kFile);
    EXPECT_EQ(copy.Length(), 0);
    WriteFile(copy.written(), "12345");
    EXPECT_EQ(copy.Length(), 5);
  }
  EXPECT_THAT(FolderNames(folder.path()), IsEmpty());

  LocalCopy zip = LocalCopy::Create(folder.path().string(), "z.zip", LocalCopy::Destination::kFolder);
  EXPECT_EQ(zip.Length(), std::nullopt);
  WriteFile(zip.written(), "zz");
  zip.PlaceAt((folder / "z.zip").string());
  EXPECT_THAT(FolderNames(folder.path()), ElementsAre("z.zip"));

  EXPECT_TRUE(IsSafeLocalName("... "));
  EXPECT_TRUE(IsSafeLocalName(" ."));
  EXPECT_FALSE(IsSafeLocalName(std::string("a\0b", 3)));
  EXPECT_FALSE(IsSafeLocalName("a\x7f"));
}

// Temporary names carry the writer's process id; only ours of writers that are gone are removed
// (no process can have the id 4194305), files and a ZIP entry's folder alike.
TEST(LocalCopy, LeftoversOfWritersThatAreGoneAreRemoved) {
  TempDir folder("leftovers");
  const std::string mine =
      LocalCopy::Create(folder.path().string(), "a", LocalCopy::Destination::kFile)
          .written()
          .filename()
          .string();  // discarded again at once
  EXPECT_TRUE(mine.starts_with(".pullwire-" + std::to_string(::getpid()) + "-")) << mine;
  const std::string live = ".pullwire-" + std::to_string(::getppid()) + "-1.part";
  const std::vector<std::string> kept = {live,
                                         ".pullwire-0-1.part",
                                         ".pullwire-x-1.part",
                                         ".pullwire-4194305.part",
                                         "4194305-1.part",
                                         "a.txt"};
  for (const std::string& name : kept) WriteFile(folder / name, "kept");
  WriteFile(folder / ".pullwire-4194305-1.part", "gone");
  WriteFile(folder / ".pullwire-4194305-2.part" / "z.zip", "gone");
  std::filesystem::create_symlink(folder / "a.txt", folder / ".pullwire-4194305-3.part");
  EXPECT_EQ(RemoveLeftoverCopies(folder.path().string()), 2);
  std::vector<std::string> expected = kept;
  expected.push_back(".pullwire-4194305-3.part");  // a link is nothing this program made
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FolderNames(folder.path()), expected);
}

}  // namespace
}  // namespace pullwire::testing
