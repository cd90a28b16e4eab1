// Execute through libpullwire.so loaded as a host loads it (dlopen and the exports), against
// pyftpdlib and vsftpd, with a recording message daemon: the typical road as the host's daemon
// gets it (texts, types, order, timestamps, variable slots, no Qt loaded), a hostile listing, the
// folder mode with AutoLog off, and vsftpd with AutoDelete. The selection modes, the drop on the
// second of five files, short copies and the variable slot rules are stated once, over the
// scripted component (download_run_test.cc, download_entry_test.cc).
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
