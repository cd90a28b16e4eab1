// Execute through libpullwire.so loaded as a host loads it (dlopen and the exports), against
// pyftpdlib and vsftpd, with a recording message daemon: the messages as the host's daemon gets
// them (texts, types, order, timestamps), the files on disk, the server's remaining files, Error
// and the variable slots.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>

#include "loaded_library.h"
#include "private_environment.h"
#include "recording_daemon.h"
#include "tests/download/run_test_support.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

constexpr char kInstance[] = "e2e";

PyFtpdOptions LowPort(PyFtpdOptions options = {}) {
  options.low_port = true;  // the record's Port is 16-bit
  return options;
}

class PluginRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(daemon_.Start(), com::S_OK);
    library_ = std::make_unique<LoadedLibrary>(library_folder_.path());
    box_ = library_->NewToolbox();
    ASSERT_EQ(box_->put_dInstance(kInstance), com::S_OK);
    ASSERT_EQ(box_->put_AutoLog(com::kVariantTrue), com::S_OK);
    std::filesystem::create_directory(local_);
  }
  void TearDown() override {
    box_ = nullptr;
    library_.reset();
  }

  // Executes a flat "all files" record against `server` (RemoteDir /pub); returns the messages
  // this Execute sent.
  template <typename Server>
  std::vector<SentMessage> Execute(const Server& server, std::map<std::string, std::string> slots = {}) {
    const std::size_t before = daemon_.log().Calls().size();
    com::Variant result;
    EXPECT_EQ(box_->Execute("PULLWIRE", MakeRecord(ServerSlots(server, local_, std::move(slots))), &result),
              com::S_OK);
    const std::vector<DaemonCall> calls = daemon_.log().Calls();
    std::vector<SentMessage> sent;
    static const std::regex kTimestamp(R"(\d\d-[A-Z][a-z][a-z]-\d{4} \d\d:\d\d\.\d\d)");
    for (std::size_t i = before; i < calls.size(); ++i) {
      const auto& args = calls[i].args;
      EXPECT_EQ(args.size(), 3u);
      if (args.size() != 3 || !args[0].Get<std::int16_t>() || !args[1].Get<std::string>() ||
          !args[2].Get<std::string>()) {
        ADD_FAILURE() << "SetMessage(type, text, timestamp) arrived with other kinds";
        continue;
      }
      EXPECT_TRUE(std::regex_match(*args[2].Get<std::string>(), kTimestamp)) << *args[2].Get<std::string>();
      sent.push_back({*args[1].Get<std::string>(), *args[0].Get<std::int16_t>()});
    }
    return sent;
  }

  bool Error() {
    com::VariantBool error = com::kVariantFalse;
    EXPECT_EQ(box_->get_Error(&error), com::S_OK);
    return error != com::kVariantFalse;
  }
  VarType LocalVar(std::int16_t index) {
    VarType slot{};
    EXPECT_EQ(box_->get_LocalVar(index, &slot), com::S_OK);
    return slot;
  }
  VarType GlobalVar(std::int16_t index) {
    VarType slot{};
    EXPECT_EQ(box_->get_GlobalVar(index, &slot), com::S_OK);
    return slot;
  }
  std::string LocalPath(const std::string& name) const { return local_.string() + "/" + name; }
  std::string Downloading(const std::string& name, std::size_t size) const {
    return DownloadingText(local_, name, size);
  }
  static std::vector<SentMessage> Opening() { return OpeningFor("127.0.0.1"); }
  static VarType Used(const std::string& value) { return VarType{com::kVariantTrue, value}; }
  static VarType Unused() { return VarType{com::kVariantFalse, ""}; }

  PrivateEnvironment environment_;
  RecordingDaemon daemon_{std::string("nrvd") + kInstance + ".IPCdaemon"};
  TempDir library_folder_{"e2e-library"};
  std::unique_ptr<LoadedLibrary> library_;
  com::ComPtr<_Toolbox> box_;
  TempDir parent_{"e2e-local"};  // holds local_ and nothing else
  std::filesystem::path local_ = parent_ / "local";
};

// Whether a Qt library is mapped into this process.
bool QtLoaded() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find("libQt6") != std::string::npos) return true;
  }
  return false;
}

TEST_F(PluginRun, TypicalRoadOfOneFile) {
  PyFtpd server(LowPort());
  WriteFile(server.root() / "pub" / "a.txt", "hello");
  const auto sent = Execute(server, {{"ProcessAll", "0"}, {"SaveFilename", "1"}, {"VarScope", "GLOBAL"},
                                     {"VarNumber", "3"}});
  EXPECT_THAT(sent, ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 1"), Info(Downloading("a.txt", 5)),
      Info("Downloaded [a.txt] <unknown> kBps"), Info("Number of files downloaded : 1"),
      Info("Disconnecting from [127.0.0.1] ...")})));
  EXPECT_EQ(ReadFile(LocalPath("a.txt")), "hello");
  EXPECT_TRUE(std::filesystem::exists(server.root() / "pub" / "a.txt"));
  EXPECT_EQ(GlobalVar(2), Used("a.txt"));
  EXPECT_EQ(LocalVar(2), Unused());
  EXPECT_FALSE(Error());
  // The dialogs (and Qt with them) are loaded only by Setup: a run must not pay for them.
  EXPECT_FALSE(QtLoaded());
}

TEST_F(PluginRun, FirstAllAndSpecificModes) {
  PyFtpd server(LowPort());
  std::filesystem::create_directories(server.root() / "pub" / "dir");
  for (const char* name : {"B.txt", "a.txt", "c.txt"}) WriteFile(server.root() / "pub" / name, name);

  auto sent = Execute(server, {{"ProcessAll", "0"}});  // folders first, then "B.txt" "a.txt" "c.txt"
  EXPECT_THAT(FolderNames(local_), ElementsAre("B.txt"));
  EXPECT_THAT(sent, Contains(Info("Number of files & directories found: 4")));

  sent = Execute(server, {{"CopySpecific", "1"}, {"SpecificFilename", "C.TXT"}});
  EXPECT_THAT(sent, Contains(Info("Number of files downloaded : 0")));
  sent = Execute(server, {{"CopySpecific", "1"}, {"SpecificFilename", "c.txt"}, {"SaveFilename", "1"}});
  EXPECT_THAT(FolderNames(local_), ElementsAre("B.txt", "c.txt"));
  EXPECT_EQ(LocalVar(0), Used("c.txt"));

  sent = Execute(server);
  EXPECT_THAT(FolderNames(local_), ElementsAre("B.txt", "a.txt", "c.txt"));
  EXPECT_THAT(sent, Contains(Info("Number of files downloaded : 3")));
  EXPECT_FALSE(Error());
}

TEST_F(PluginRun, SkipVersusOverwrite) {
  PyFtpd server(LowPort());
  WriteFile(server.root() / "pub" / "a.txt", "server copy");
  WriteFile(LocalPath("a.txt"), "local copy");
  auto sent = Execute(server, {{"Overwrite", "0"}, {"AutoDelete", "1"}});
  EXPECT_THAT(sent, ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 1"),
      Info("Skipped file [a.txt] - file exists and OVERWRITE=Off"), Info("Number of files downloaded : 0"),
      Info("Disconnecting from [127.0.0.1] ...")})));
  EXPECT_EQ(ReadFile(LocalPath("a.txt")), "local copy");
  EXPECT_TRUE(std::filesystem::exists(server.root() / "pub" / "a.txt"));

  sent = Execute(server, {{"Overwrite", "1"}});
  EXPECT_EQ(ReadFile(LocalPath("a.txt")), "server copy");
}

TEST_F(PluginRun, FolderOnlyAndEmptyListings) {
  PyFtpd server(LowPort());
  for (const char* name : {"x", "y", "z"}) std::filesystem::create_directories(server.root() / "pub" / name);
  std::filesystem::create_directories(server.root() / "empty");
  EXPECT_THAT(Execute(server), ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 3"), Info("Disconnecting from [127.0.0.1] ...")})));
  EXPECT_THAT(Execute(server, {{"RemoteDir", "/empty"}}), ElementsAreArray(Then(Opening(), {
      Info("No files found."), Info("Number of files downloaded : 0"),
      Info("Disconnecting from [127.0.0.1] ...")})));
  EXPECT_THAT(FolderNames(local_), IsEmpty());
  EXPECT_FALSE(Error());
}

TEST_F(PluginRun, FilterCases) {
  PyFtpd server(LowPort());
  for (const char* name : {"A.TXT", "notes.txt.bak", "txt", "odd*.txt", "x b", "ab"}) {
    WriteFile(server.root() / "pub" / name, name);
  }
  Execute(server, {{"Filter", ".txt"}});
  EXPECT_THAT(FolderNames(local_), ElementsAre("A.TXT", "notes.txt.bak", "odd*.txt"));
  std::filesystem::remove_all(local_);
  std::filesystem::create_directory(local_);
  Execute(server, {{"Filter", "*.txt; b"}});
  EXPECT_THAT(FolderNames(local_), ElementsAre("odd*.txt", "x b"));
  EXPECT_THAT(Execute(server, {{"Filter", ";"}}), Contains(Info("No files found.")));
}

TEST_F(PluginRun, AutoLogOffSendsNothingOnSuccess) {
  PyFtpd server(LowPort());
  WriteFile(server.root() / "pub" / "a.txt", "a");
  ASSERT_EQ(box_->put_AutoLog(com::kVariantFalse), com::S_OK);
  EXPECT_THAT(Execute(server), IsEmpty());
  EXPECT_EQ(ReadFile(LocalPath("a.txt")), "a");
  EXPECT_FALSE(Error());
}

TEST_F(PluginRun, FailedLoginSendsOnlyTheError) {
  PyFtpd server(LowPort());
  ASSERT_EQ(box_->put_AutoLog(com::kVariantFalse), com::S_OK);
  const auto sent = Execute(server, {{"Password", "wrong"}});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].mtype, 2);
  EXPECT_THAT(sent[0].text, StartsWith("ERROR_PULL-WIRE ["));
  EXPECT_THAT(sent[0].text, ::testing::HasSubstr("530"));
  EXPECT_TRUE(Error());
}

TEST_F(PluginRun, DropOnTheSecondOfFiveFiles) {
  PyFtpdOptions options = LowPort();
  options.retr_fault = RetrFault::kReset;
  options.fault_nth = 2;
  PyFtpd server(options);
  for (int i = 1; i <= 5; ++i) {
    WriteFile(server.root() / "pub" / ("f" + std::to_string(i)), PatternBytes(300'000, static_cast<std::uint32_t>(i)));
  }
  WriteFile(LocalPath("f2"), "the earlier f2");
  auto sent = Execute(server);
  ASSERT_EQ(sent.size(), 9u);
  EXPECT_THAT(std::vector<SentMessage>(sent.begin(), sent.end() - 1), ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 5"), Info(Downloading("f1", 300'000)),
      Info("Downloaded [f1] <unknown> kBps"), Info(Downloading("f2", 300'000))})));
  EXPECT_EQ(sent.back().mtype, 2);
  EXPECT_THAT(sent.back().text, StartsWith("ERROR_PULL-WIRE ["));
  EXPECT_THAT(FolderNames(local_), ElementsAre("f1", "f2"));
  EXPECT_EQ(ReadFile(LocalPath("f1")), PatternBytes(300'000, 1));
  EXPECT_EQ(ReadFile(LocalPath("f2")), "the earlier f2");
  EXPECT_TRUE(Error());

  sent = Execute(server);
  EXPECT_THAT(sent, Contains(Info("Number of files downloaded : 5")));
  EXPECT_EQ(ReadFile(LocalPath("f2")), PatternBytes(300'000, 2));
  EXPECT_TRUE(Error()) << "Error stays True after a later good run";
}

TEST_F(PluginRun, ShortCopyWithAutoDeleteKeepsTheRemoteFile) {
  PyFtpdOptions options = LowPort();
  options.retr_fault = RetrFault::kSilent226;
  PyFtpd server(options);
  WriteFile(server.root() / "pub" / "log.txt", std::string(50'000, 'x'));
  const auto sent = Execute(server, {{"TransferMode", "0"}, {"AutoDelete", "1"}});
  EXPECT_THAT(sent, Contains(Info("Number of files downloaded : 1")));
  EXPECT_THAT(sent, Not(Contains(Info("Deleting remote-file [log.txt] ..."))));
  EXPECT_TRUE(std::filesystem::exists(server.root() / "pub" / "log.txt"));
  EXPECT_THAT(FolderNames(local_), IsEmpty());
}

TEST_F(PluginRun, VarNumberSixteenAndZero) {
  PyFtpd server(LowPort());
  WriteFile(server.root() / "pub" / "a.txt", "a");
  Execute(server, {{"ProcessAll", "0"}, {"SaveFilename", "1"}, {"VarScope", "GLOBAL"}, {"VarNumber", "16"}});
  EXPECT_EQ(GlobalVar(15), Used("a.txt"));
  EXPECT_FALSE(Error());

  const auto sent = Execute(server, {{"ProcessAll", "0"}, {"SaveFilename", "1"}, {"VarNumber", "0"}});
  EXPECT_THAT(sent, ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 1"), Info(Downloading("a.txt", 1)),
      Info("Downloaded [a.txt] <unknown> kBps"),
      Failure("ERROR_PULL-WIRE [slot 20 (VarNumber): 0 is outside 1..16]")})));
  EXPECT_TRUE(Error());
}

TEST_F(PluginRun, TimeoutOutsideTheRangeStillRuns) {
  PyFtpd server(LowPort());
  WriteFile(server.root() / "pub" / "a.txt", "a");
  for (const char* timeout : {"0", "1000"}) {
    EXPECT_THAT(Execute(server, {{"Timeout", timeout}}), Contains(Info("Number of files downloaded : 1"))) << timeout;
  }
  EXPECT_FALSE(Error());
}

TEST_F(PluginRun, DosListingServer) {
  PyFtpdOptions options = LowPort();
  options.listing = ListingFormat::kDos;
  PyFtpd server(options);
  WriteFile(server.root() / "pub" / "My Report.csv", PatternBytes(12'345));
  std::filesystem::create_directories(server.root() / "pub" / "Archive");
  const auto sent = Execute(server);
  EXPECT_THAT(sent, Contains(Info("Number of files & directories found: 2")));
  EXPECT_EQ(ReadFile(LocalPath("My Report.csv")), PatternBytes(12'345));
  EXPECT_FALSE(Error());
}

// Entries whose names would leave LocalDir are left out, each named in a warning, and the rest
// of the folder is fetched. Regression: one such line made the whole folder "unparsed".
TEST_F(PluginRun, HostileListingWritesNothingOutsideLocalDir) {
  PyFtpdOptions options = LowPort();
  options.list_inject = {"-rw-r--r--   1 u g        4 Jan 01 00:00 ../escape",
                         std::string("-rw-r--r--   1 u g        4 Jan 01 00:00 tab\there\x1b[2J")};
  PyFtpd server(options);
  WriteFile(server.root() / "pub" / "ok.txt", "ok");
  const auto sent = Execute(server);
  EXPECT_THAT(sent, ElementsAreArray(Then(Opening(), {
      Warning("Remote entry \"../escape\" left out: the name holds \"/\""),
      Warning("Remote entry \"tab\\there\\x1b[2J\" left out: the name holds a control character"),
      Info("Number of files & directories found: 1"), Info(Downloading("ok.txt", 2)),
      Info("Downloaded [ok.txt] <unknown> kBps"), Info("Number of files downloaded : 1"),
      Info("Disconnecting from [127.0.0.1] ...")})));
  EXPECT_THAT(FolderNames(parent_.path()), ElementsAre("local"));
  EXPECT_THAT(FolderNames(local_), ElementsAre("ok.txt"));
  EXPECT_FALSE(Error());
}

TEST_F(PluginRun, FolderModeWithAutoLogOffSaysNothingWhenAllGoesWell) {
  PyFtpd server(LowPort());
  WriteFile(server.root() / "pub" / "sub" / "deep" / "a.bin", PatternBytes(10'000));
  WriteFile(server.root() / "pub" / "b.txt", "b");
  ASSERT_EQ(box_->put_AutoLog(com::kVariantFalse), com::S_OK);
  EXPECT_THAT(Execute(server, {{"IncludeSubdir", "1"}, {"AutoDelete", "1"}}), IsEmpty());
  EXPECT_EQ(ReadFile(LocalPath("sub/deep/a.bin")), PatternBytes(10'000));
  EXPECT_EQ(ReadFile(LocalPath("b.txt")), "b");
  EXPECT_THAT(FolderNames(server.root() / "pub"), IsEmpty());
  EXPECT_FALSE(Error());
}

TEST_F(PluginRun, VsftpdAllFilesWithAutoDelete) {
  std::string why;
  if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  VsftpdOptions options;
  options.low_port = true;
  Vsftpd server(options);
  WriteFile(server.root() / "pub" / "one.bin", PatternBytes(500'000, 3));
  WriteFile(server.root() / "pub" / "two.txt", "two");
  server.GrantTree();
  const auto sent = Execute(server, {{"AutoDelete", "1"}, {"SaveFilename", "1"}});
  EXPECT_THAT(sent, ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 2"), Info(Downloading("one.bin", 500'000)),
      Info("Downloaded [one.bin] <unknown> kBps"), Info("Deleting remote-file [one.bin] ..."),
      Info(Downloading("two.txt", 3)), Info("Downloaded [two.txt] <unknown> kBps"),
      Info("Deleting remote-file [two.txt] ..."), Info("Number of files downloaded : 2"),
      Info("Disconnecting from [127.0.0.1] ...")})));
  EXPECT_EQ(ReadFile(LocalPath("one.bin")), PatternBytes(500'000, 3));
  EXPECT_THAT(FolderNames(server.root() / "pub"), IsEmpty());
  EXPECT_EQ(LocalVar(0), Unused());  // the all-files mode stores no name
  EXPECT_FALSE(Error());
}

}  // namespace
}  // namespace pullwire::testing
