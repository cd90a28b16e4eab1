// The run over a scripted component, as exact message and call sequences: the flat run's roads,
// the folder mode's delete pass.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fmt/format.h>

#include <functional>

#include "download/download_entry.h"
#include "remote/folder_download.h"
#include "tests/download/run_fixture.h"

namespace pullwire::testing {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::Not;
using ::testing::StartsWith;

SentMessage Found(int n) { return Info(fmt::format("Number of files & directories found: {}", n)); }
SentMessage Count(int n) { return Info(fmt::format("Number of files downloaded : {}", n)); }
SentMessage Done(const std::string& f) { return Info("Downloaded [" + f + "] <unknown> kBps"); }
SentMessage Fail(const std::string& text) { return Failure("ERROR_PULL-WIRE [" + text + "]"); }
SentMessage Skipped(const std::string& name) {
  return Info("Skipped file [" + name + "] - file exists and OVERWRITE=Off");
}

class FlatRun : public RunFixture<ScriptedComponent, ScriptedClock> {
 protected:
  void Reset() {
    ftp = ScriptedComponent();
    state = ModuleState();
    state.AutoLog = true;
    channel.sent.clear();
    std::filesystem::remove_all(local);
    std::filesystem::create_directory(local);
  }
  SentMessage Get(const std::string& name, std::size_t size) const {
    return Info("Downloading [" + name + "] to [" + LocalPath(name) + "] (" + std::to_string(size) +
                " Bytes) ...");
  }
  std::string Temporary() const {
    return local.string() + "/.pullwire-" + std::to_string(::getpid()) + "-";
  }
  void FileA() { ftp.AddFile("a.txt", "x"); }
};

TEST_F(FlatRun, TypicalRoadSendsEveryStepAndCallsTheComponentInOrderByTheSettings) {
  ftp.AddFile("a.txt", "hello");
  Run({{"ProcessAll", "0"}, {"Passive", "0"}, {"ProxyType", "2"}, {"ProxyHost", "socks.lan"},
       {"ProxyPort", "1080"}, {"ProxyUsername", "pu"}, {"ProxyPassword", "pp"}});
  EXPECT_THAT(channel.sent, ElementsAreArray(Opening({Found(1), Get("a.txt", 5), Done("a.txt"),
                                                      Count(1), Closing()})));
  EXPECT_THAT(ftp.calls, ElementsAre("OperationTimeout(30000)", "PassiveMode(false)",
      "ProxyKind(2)", "ProxyLoginName(pu)", "ProxyLoginPassword(pp)", "ProxyServer(socks.lan)",
      "ProxyServerPort(1080)", "Login(ftp.example.net,reader,s3cret,,21)",
      "WorkingDirectory(/pub)", "TransferType(0)", "ListDirectory", "TransferType(1)",
      "GetFile(a.txt)", "Logout"));
  EXPECT_THAT(ftp.destinations, ElementsAre(StartsWith(Temporary())));  // beside the final name
  EXPECT_EQ(Contents(local), (Files{{"a.txt", "hello"}}));
  EXPECT_EQ(state.DownloadedCount, 1);
  EXPECT_FALSE(state.ErrorFlag);

  // A Timeout outside 1..999 becomes 60, also in the settings; ProxyServerPort only above 0.
  for (const auto& [text, seconds] : {std::pair{"-3", 60}, {"1000", 60}, {"1", 1}, {"999", 999}}) {
    ftp.calls.clear();
    Run({{"Timeout", text}, {"ProxyPort", "0"}});
    ASSERT_GT(ftp.calls.size(), 6u);
    EXPECT_EQ(ftp.calls[0], fmt::format("OperationTimeout({})", seconds * 1000)) << text;
    EXPECT_EQ(state.Settings.Timeout, seconds) << text;
    EXPECT_EQ(ftp.calls[6], "Login(ftp.example.net,reader,s3cret,,21)") << text;
  }
}

struct Outcome {
  std::string name;
  std::map<std::string, std::string> slots;
  std::function<void()> setup;
  std::vector<SentMessage> sent;
  std::vector<std::string> last_calls;  // how the component's calls end; none: no call at all
  Files local;                          // the local folder afterwards
  bool error = false;
};

TEST_F(FlatRun, EachRoadEndsWithItsMessagesCallsAndLocalFiles) {
  const std::vector<std::string> listed = {"ListDirectory", "Logout"};
  const TempDir elsewhere("elsewhere");
  // Temporary names carry the writer's process id; a run removes only ours of writers that are
  // gone (no process can have the id 4194305), files and a ZIP entry's folder alike.
  const Files kept = {{".pullwire-" + std::to_string(::getppid()) + "-1.part", "live"},
                      {".pullwire-0-1.part", "k"}, {".pullwire-x-1.part", "k"}, {"4194305-1.part", "k"},
                      {".pullwire-4194305.part", "k"}, {".pullwire-4194305-3.part", "-> a"}};
  std::vector<Outcome> rows = {
      {"first mode: the first file, even if skipped", {{"ProcessAll", "0"}, {"Overwrite", "0"}},
       [&] { ftp.AddFolder("sub"); ftp.AddFile("a.txt", "new a"); ftp.AddFile("b.txt", "new b");
             WriteFile(LocalPath("a.txt"), "old a"); },
       Opening({Found(3), Skipped("a.txt"), Count(0), Closing()}), listed, {{"a.txt", "old a"}}},
      {"specific mode: the exact name, before all",
       {{"CopySpecific", "1"}, {"SpecificFilename", "Report.csv"}},
       [&] { ftp.AddFile("report.csv", "lower"); ftp.AddFile("Report.csv", "upper"); },
       Opening({Found(2), Get("Report.csv", 5), Done("Report.csv"), Count(1), Closing()}),
       {"GetFile(Report.csv)", "Logout"}, {{"Report.csv", "upper"}}},
      {"only folders: no count message", {},
       [&] { ftp.AddFolder("x"); ftp.AddFolder("y"); }, Opening({Found(2), Closing()}), listed, {}},
      {"empty listing; \"..\" is never listed", {},
       [&] { ftp.listing.entries = {{".", "D", 0, 0, ""}, {"..", "F", 4, 0, ""}}; },
       Opening({Info("No files found."), Count(0), Closing()}), listed, {}},
      {"unsupported listing", {},
       [&] { FileA(), ftp.listing.style = kListingStyleMixed, ftp.listing.unparsed = "x\ny"; },
       Opening({Warning("Some non-UNIX or non-DOS listing were encountered."),
                Warning("This plugin only supports UNIX and DOS listings."),
                Warning("Here are some of the lines that failed:"), Warning("x\ny"),
                Info("No files found."), Count(0), Closing()}),
       listed, {}},
      {"a short copy goes with the earlier file and stays remote", {{"AutoDelete", "1"}},
       [&] { ftp.AddFile("a.bin", std::string(100, 'a')); ftp.get_faults["a.bin"] = {60, {}};
             WriteFile(LocalPath("a.bin"), "previous"); },
       Opening({Found(1), Get("a.bin", 100), Warning("Download incomplete [a.bin]: 60 of 100 "
                "bytes received; the copy was discarded and the earlier local file removed"),
                Done("a.bin"), Count(1), Closing()}), {"GetFile(a.bin)", "Logout"}, {}},
      {"overwrite replaces a file and a link, never following it", {},
       [&] { ftp.AddFile("a.txt", "new a"); ftp.AddFile("b.txt", "new b");
             WriteFile(LocalPath("a.txt"), "old a"); WriteFile(elsewhere / "target", "outside");
             std::filesystem::create_symlink(elsewhere / "target", LocalPath("b.txt")); },
       Opening({Found(2), Get("a.txt", 5), Done("a.txt"), Get("b.txt", 5), Done("b.txt"), Count(2),
                Closing()}),
       {"GetFile(b.txt)", "Logout"}, {{"a.txt", "new a"}, {"b.txt", "new b"}}},
      {"files and links exist, folders do not", {{"Overwrite", "0"}},
       [&] { ftp.AddFile("file", "new"); ftp.AddFile("link", "new"); ftp.AddFile("folder", "new");
             WriteFile(LocalPath("file"), "old");
             std::filesystem::create_directory(LocalPath("folder"));
             std::filesystem::create_symlink("/nonexistent", LocalPath("link")); },
       Opening({Found(3), Skipped("file"), Skipped("link"), Get("folder", 3), Fail("cannot put the "
                "downloaded file in place as " + LocalPath("folder") + ": Is a directory")}),
       {"GetFile(folder)", "Logout"},
       {{"file", "old"}, {"folder", "/"}, {"link", "-> /nonexistent"}}, true},
      {"a drop on the second of five ends the run", {},
       [&] { for (std::string f : {"f1", "f2", "f3", "f4", "f5"}) ftp.AddFile(f, f + ".......");
             ftp.get_faults["f2"] = {4, FtpError(ErrorCode{426}, "426 Connection closed.")};
             WriteFile(LocalPath("f2"), "earlier f2"); },
       Opening({Found(5), Get("f1", 9), Done("f1"), Get("f2", 9), Fail("426 Connection closed.")}),
       {"GetFile(f2)", "Logout"}, {{"f1", "f1......."}, {"f2", "earlier f2"}}, true},
      {"VarNumber 0 fails after the download and the remote delete",
       {{"ProcessAll", "0"}, {"SaveFilename", "1"}, {"VarNumber", "0"}, {"AutoDelete", "1"}},
       [&] { FileA(); },
       Opening({Found(1), Get("a.txt", 1), Done("a.txt"), Info("Deleting remote-file [a.txt] ..."),
                Fail("slot 20 (VarNumber): 0 is outside 1..16")}), {"DeleteFile(a.txt)", "Logout"},
       {{"a.txt", "x"}}, true},
      {"no LocalDir", {{"LocalDir", ""}}, [&] { FileA(); },
       Opening({Found(1), Fail("no local folder is set (LocalDir is empty)")}), listed, {}, true},
      {"a missing LocalDir", {{"LocalDir", LocalPath("missing")}}, [&] { FileA(); },
       Opening({Found(1),
                Info("Downloading [a.txt] to [" + LocalPath("missing/a.txt") + "] (1 Bytes) ..."),
                Fail("cannot create a file in " + LocalPath("missing") +
                     ": No such file or directory")}),
       {"TransferType(1)", "Logout"}, {}, true},
      {"not connected before the listing", {},
       [&] { FileA(), ftp.drop_at = "WorkingDirectory"; },
       Opening({Failure("ERROR_PULL-WIRE: Cannot get listing: NOT CONNECTED!"), Fail("")}),
       {"WorkingDirectory(/pub)"}, {}, true},
      {"a listing that cannot be read", {}, [&] { FileA(); ftp.listing.fail_entries_call = 1; },
       Opening({Failure("ERROR_PULL-WIRE: Error getting remote listing [listing unreadable]"),
                Fail("")}), listed, {}, true},
      {"a refused login", {},
       [&] { ftp.Fail("Login(ftp.example.net,reader,s3cret,,21)", 530, "530 Login incorrect."); },
       {Opening()[0], Opening()[1], Fail("530 Login incorrect.")},
       {"Login(ftp.example.net,reader,s3cret,,21)"}, {}, true},
      {"a Port that is no number", {{"Port", "twenty-one"}}, [] {},
       {Fail("slot 4 (Port): \"twenty-one\" is not a number")}, {}, {}, true},
      {"a RemoteDir that cannot be entered", {},
       [&] { ftp.Fail("WorkingDirectory(/pub)", 11101, "550 /pub: No such file or directory."); },
       {Opening()[0], Opening()[1], Opening()[2], Fail("550 /pub: No such file or directory.")},
       {"WorkingDirectory(/pub)", "Logout"}, {}, true},
      {"no connection left to close: silence", {},
       [&] { FileA(), ftp.drop_at = "GetFile"; },
       Opening({Found(1), Get("a.txt", 1), Done("a.txt"), Count(1)}), {"GetFile(a.txt)"},
       {{"a.txt", "x"}}},
      {"a failed logout is retried", {},
       [&] { FileA(); ftp.before = [n = 0](const std::string& m) mutable {
               if (m == "Logout" && ++n == 1) throw FtpError(ErrorCode{421}, "421 Bye."); }; },
       Opening({Found(1), Get("a.txt", 1), Done("a.txt"), Count(1), Closing(), Fail("421 Bye.")}),
       {"GetFile(a.txt)", "Logout", "Logout"}, {{"a.txt", "x"}}, true},
      {"leftovers of gone writers go, odd names are fine", {},
       [&] { ftp.AddFile("... ", "odd"), ftp.AddFile(" .", "odd");
             WriteFile(LocalPath(".pullwire-4194305-1.part"), "gone");
             WriteFile(LocalPath(".pullwire-4194305-2.part/z.zip"), "gone");
             for (const auto& [name, bytes] : kept) {
               bytes == "-> a" ? std::filesystem::create_symlink("a", LocalPath(name))
                               : WriteFile(LocalPath(name), bytes);
             } },
       Opening({Found(2), Get("... ", 3), Done("... "), Get(" .", 3), Done(" ."), Count(2), Closing()}),
       {"GetFile( .)", "Logout"}, [&] { Files f = kept; f["... "] = f[" ."] = "odd"; return f; }()},
      {"AutoLog off: nothing said; nothing clears the flag, a good run neither", {},
       [&] { FileA(), state.AutoLog = false, state.ErrorFlag = true; },
       {}, {"GetFile(a.txt)", "Logout"}, {{"a.txt", "x"}}, true},
  };
  for (const std::string name : {"../escape", "a/b", "bad\nname", "", "a\x7f"}) {
    rows.push_back({"hostile name " + name, {},
                    [=, this] { ftp.listing.entries = {{name, "F", 4, 0, ""}}; },
                    Opening({Found(1), Fail("refused to write the file name \"" + name +
                                            "\": it would leave the local folder")}),
                    listed, {}, true});
  }
  for (const Outcome& row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    row.setup();
    Run(row.slots);
    EXPECT_THAT(channel.sent, ElementsAreArray(row.sent));
    ASSERT_GE(ftp.calls.size(), row.last_calls.size());
    EXPECT_THAT(std::vector(ftp.calls.end() - std::ssize(row.last_calls), ftp.calls.end()),
                ElementsAreArray(row.last_calls));
    if (row.last_calls.empty()) {
      EXPECT_THAT(ftp.calls, ::testing::IsEmpty());
    }
    EXPECT_EQ(Contents(local), row.local);
    EXPECT_EQ(Contents(parent.path()).size(), row.local.size() + 1) << "a write beside LocalDir";
    EXPECT_EQ(state.ErrorFlag, row.error);
  }
  EXPECT_EQ(ReadFile(elsewhere / "target"), "outside");
}

// Only a one-file mode with SaveFilename stores the name: in GLOBAL (exactly that) or else LOCAL.
TEST_F(FlatRun, TheNameGoesIntoTheSlotTheRecordNames) {
  const std::vector<std::tuple<std::map<std::string, std::string>, bool, int>> rows = {
      {{{"VarScope", "global"}, {"VarNumber", "16"}}, false, 15}, {{{"VarScope", "GLOBAL"}}, true, 0},
      {{{"ProcessAll", "1"}}, false, -1}, {{{"SaveFilename", "0"}}, false, -1},  // -1: none
      {{{"CopySpecific", "1"}, {"SpecificFilename", "a.txt"}, {"VarNumber", "2"}}, false, 1}};
  ftp.AddFile("a.txt", "x");
  for (auto [slots, global, slot] : rows) {
    slots.insert({{"ProcessAll", "0"}, {"SaveFilename", "1"}});
    state.LocalVars = state.GlobalVars = {};
    Run(slots);
    decltype(state.LocalVars) local_vars{}, global_vars{};
    if (slot >= 0) (global ? global_vars : local_vars).at(slot) = {true, "a.txt"};
    EXPECT_EQ(state.LocalVars, local_vars) << slot << global;
    EXPECT_EQ(state.GlobalVars, global_vars) << slot << global;
  }
  EXPECT_FALSE(state.ErrorFlag);
}

// The rate is the listed size over whole seconds in KiB, rounded down.
TEST_F(FlatRun, RateAndZipEntriesInModeThreeFetchedIntoAFolderOfTheirOwn) {
  ftp.AddFile("big", std::string(1048576, 'b'));
  const auto start = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
  clock.times = {start + std::chrono::milliseconds(900), start + std::chrono::milliseconds(4100)};
  Run();
  EXPECT_THAT(channel.sent, Contains(Info("Downloaded [big] 256 kBps")));

  Reset();
  for (const char* name : {"A.ZIP", "data.gz"}) ftp.AddFile(name, name);
  Run({{"TransferMode", "3"}});
  EXPECT_THAT(ftp.calls, Contains("TransferType(3)"));
  const auto temporary = StartsWith(Temporary());  // a ZIP entry's is a folder
  EXPECT_THAT(ftp.destinations, ElementsAre(AllOf(temporary, EndsWith("/")),
                                            AllOf(temporary, Not(EndsWith("/")))));
  EXPECT_EQ(Contents(local), (Files{{"A.ZIP", "A.ZIP"}, {"data.gz", "data.gz"}}));
}

TEST(RunRules, ZipEntriesRateTextAndReturnPath) {
  const std::vector<std::tuple<std::int32_t, std::string, bool>> zips = {
      {3, "a.zip", true}, {3, "A.Zip", true}, {3, "zip", true}, {3, "ip", false},
      {3, "a.zip.gz", false}, {1, "a.zip", false}, {0, "a.zip", false}};
  for (const auto& [mode, name, zip] : zips) EXPECT_EQ(IsZipEntry(mode, name), zip) << mode << name;
  const std::vector<std::tuple<std::optional<std::int64_t>, std::int64_t, std::string>> rates = {
      {1048576, 4, "256"}, {1000, 1, "<unknown>"}, {1048576, 0, "<unknown>"},
      {5000, -1, "<unknown>"}, {std::nullopt, 3, "<unknown>"}, {2047, 1, "1"},
      {4'000'000'000'000LL, 2, "1953125000"}};
  for (const auto& [size, seconds, text] : rates) EXPECT_EQ(RateText(size, seconds), text) << text;
  const std::vector<std::pair<std::string, std::string>> paths = {
      {"/pub/", "/pub/"}, {"", "/"}, {"  /pub  ", "/pub/"}, {"/a [x] b", "/a  b/"},
      {"a]b[c", "a]bb[c/"}, {"/pub [open", "/pub [open/"}, {"/a[1][2]", "/a[2]/"}};
  for (const auto& [given, normalised] : paths) {
    std::string variable = given;
    EXPECT_EQ(ReturnPath(variable), normalised) << '"' << given << '"';
    EXPECT_EQ(variable, normalised) << '"' << given << '"';
  }
}

ListEntry Folder(const std::string& name) { return {name, "D", 0, 0, ""}; }
ListEntry File(const std::string& name, std::int64_t size) { return {name, "F", size, 0, ""}; }
using FolderMode = RunFixture<ScriptedComponent, ScriptedClock>;

// The delete pass's per-item texts and rules: a folder gone already and a path the component
// calls invalid count as deleted; a copy that changed since, or a refusal, is denied.
TEST_F(FolderMode, DeletePassRemovesOnlyWhatTheRunCopiedAndSaysSoPerItem) {
  ftp.folder_listings["/pub"] = {Folder("gone")};
  for (const std::string name : {"a.txt", "b.txt", "c.txt", "e.txt"}) {
    ftp.folder_listings["/pub"].push_back(File(name, 5));
    ftp.files["/pub/" + name] = "12345";
  }
  std::filesystem::create_directory(LocalPath("gone"));  // what the scripted GetMatching copied
  ftp.matched_items["/pub/gone/*"] = {{"", LocalPath("gone"), 0, true}};
  ftp.folder_listings["/pub/gone"] = {};
  ftp.Fail("RemoveDirectory(/pub/gone)", 11101, "cannot remove /pub/gone: 550 No such directory.");
  ftp.Fail("DeleteFile(/pub/c.txt)", 380, "invalid path");
  ftp.Fail("DeleteFile(/pub/e.txt)", 11011, "cannot delete /pub/e.txt: 550 Permission denied.");
  int entered = 0;  // the delete pass enters /pub second: b.txt's copy has changed by then
  ftp.before = [&](const std::string& member) {
    if (member == "WorkingDirectory" && ++entered == 2) WriteFile(LocalPath("b.txt"), "12");
  };
  Run({{"IncludeSubdir", "1"}, {"AutoDelete", "1"}});

  const auto downloading = [&](const std::string& name, const std::string& kind) {
    return Info("Downloading " + kind + " [/pub/" + name + "] to [" + LocalPath(name) + "]" +
                (kind == "folder" ? "..." : " (5 Bytes) ..."));
  };
  EXPECT_THAT(channel.sent, ElementsAreArray(Opening({
      downloading("gone", "folder"), downloading("a.txt", "file"), downloading("b.txt", "file"),
      downloading("c.txt", "file"), downloading("e.txt", "file"),
      Info("Delete ftp.example.net:/pub/gone"), Info("Delete ftp.example.net:/pub/a.txt"),
      Warning("Delete denied: /pub/b.txt"), Info("Delete ftp.example.net:/pub/c.txt"),
      Warning("Delete denied: /pub/e.txt"), Closing()})));
  EXPECT_EQ(state.Settings.LocalDir, local.string() + "/");  // normalised in place
  EXPECT_FALSE(state.ErrorFlag) << "a denied delete is no error";

  // A folder is listed in TYPE A and the top entered again before it is removed.
  const auto walk = std::find(ftp.calls.begin(), ftp.calls.end(), "WorkingDirectory(/pub/gone)");
  EXPECT_THAT(std::vector(walk, ftp.calls.end()), ElementsAre(
      "WorkingDirectory(/pub/gone)", "TransferType(0)", "ListDirectory", "WorkingDirectory(/pub/)",
      "RemoveDirectory(/pub/gone)", "DeleteFile(/pub/a.txt)", "DeleteFile(/pub/c.txt)",
      "DeleteFile(/pub/e.txt)", "Logout"));

  channel.sent.clear();  // with no RemoteDir no listed entry is fetched or told
  ftp.folder_listings[""] = {Folder("x"), File("y", 1)};
  Run({{"IncludeSubdir", "1"}, {"RemoteDir", ""}});
  EXPECT_THAT(channel.sent, ElementsAreArray(Opening({Closing()})));
}

}  // namespace
}  // namespace pullwire::testing
