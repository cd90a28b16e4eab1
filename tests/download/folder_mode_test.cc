// The folder mode over a scripted component: the path rule, the order and texts of the fetch,
// and the delete pass's exact messages, restricted to what the run copied.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "remote/folder_download.h"
#include "tests/download/run_fixture.h"
#include "tests/download/scripted_component.h"

namespace pullwire::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

using FolderMode = RunFixture<ScriptedComponent, ScriptedClock>;

TEST(ReturnPath, CutsTheFirstBracketsTrimsAndEndsInASlash) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"/pub", "/pub/"}, {"/pub/", "/pub/"}, {"", "/"}, {"  /pub  ", "/pub/"},
      {"/pub [note]", "/pub/"}, {"/a [x] b", "/a  b/"}, {"a]b[c", "a]bb[c/"},
      {"/pub [open", "/pub [open/"}, {"[all]", "/"}, {"/a[1][2]", "/a[2]/"}};
  for (const auto& [given, normalised] : rows) {
    std::string variable = given;
    EXPECT_EQ(ReturnPath(variable), normalised) << '"' << given << '"';
    EXPECT_EQ(variable, normalised) << '"' << given << '"';
  }
}

ListEntry Folder(const std::string& name) { return {name, "D", 0, 0, ""}; }
ListEntry File(const std::string& name, std::int64_t size) { return {name, "F", size, 0, ""}; }

TEST_F(FolderMode, EntriesGoInListOrderAndAFailureEndsOnlyItsEntry) {
  ftp.folder_listings["/pub"] = {File("a.txt", 5), Folder("docs"), File("b.txt", 2),
                                 Folder("My Files")};
  ftp.files["/pub/a.txt"] = "hello";  // b.txt is missing on the server
  ftp.failing_calls.emplace("GetMatching(/pub/docs/*," + LocalPath("docs") + ")",
                            FtpError(ErrorCode{11013}, "RETR x failed: 426 Connection closed."));
  WriteFile(LocalPath("a.txt"), "he");
  Run({{"IncludeSubdir", "1"}, {"Overwrite", "0"}, {"AutoDelete", "yes"}});

  EXPECT_THAT(channel.sent, ElementsAreArray(Opening({
      Info("Downloading folder [/pub/docs] to [" + LocalPath("docs") + "]..."),
      Failure("ERROR_GetFolder: RETR x failed: 426 Connection closed."),
      Info("Downloading folder [/pub/My Files] to [" + LocalPath("My Files") + "]..."),
      Info("Downloading file [/pub/a.txt] to [" + LocalPath("a.txt") + "] (5 Bytes) ..."),
      Info("Downloading file [/pub/b.txt] to [" + LocalPath("b.txt") + "] (2 Bytes) ..."),
      Failure("ERROR_RetrieveItem: 550 /pub/b.txt: No such file or directory."), Closing()})));
  EXPECT_THAT(ftp.calls, Contains("GetMatching(\"/pub/My Files/*\"," + LocalPath("My Files") + ")"));
  EXPECT_THAT(ftp.calls, Contains("GetFile(/pub/a.txt,2)"));  // continued
  EXPECT_THAT(ftp.calls, Contains("ContinuePartialCopies(true)"));
  EXPECT_EQ(Contents(local), (std::map<std::string, std::string>{
      {"My Files", "/"}, {"a.txt", "hello"}, {"docs", "/"}}));
  EXPECT_EQ(state.Settings.LocalDir, local.string() + "/");  // normalised in place
  EXPECT_TRUE(state.ErrorFlag);

  // Overwrite fetches from the first byte; with AutoLog off only the failures are told.
  ftp.calls.clear();
  channel.sent.clear();
  state.AutoLog = false;
  Run({{"IncludeSubdir", "1"}, {"Overwrite", "1"}, {"AutoDelete", "1"}});
  EXPECT_THAT(ftp.calls, Contains("GetFile(/pub/a.txt,0)"));
  EXPECT_THAT(ftp.calls, Contains("ContinuePartialCopies(false)"));
  EXPECT_THAT(channel.sent,
              ElementsAre(Failure("ERROR_GetFolder: RETR x failed: 426 Connection closed."),
                          Failure("ERROR_RetrieveItem: 550 /pub/b.txt: No such file or directory.")));

  channel.sent.clear();
  state.AutoLog = true;
  Run({{"IncludeSubdir", "1"}, {"RemoteDir", ""}});  // no folder: nothing is fetched or said
  EXPECT_THAT(channel.sent, ElementsAreArray(Opening({Closing()})));
}

// Copies the scripted GetMatching reports complete: a journal the test writes the local side of.
MatchedItem Copied(const std::filesystem::path& top, const std::string& path, std::string bytes) {
  WriteFile(top / path, bytes);
  return {path, (top / path).string(), std::ssize(bytes), false};
}
MatchedItem Mirrored(const std::filesystem::path& top, const std::string& path) {
  std::filesystem::create_directories(top / path);
  return {path, (top / path).string(), 0, true};
}

TEST_F(FolderMode, DeletePassRemovesOnlyWhatTheRunCopiedAndSaysSoPerItem) {
  ftp.folder_listings["/pub"] = {Folder("tree"), Folder("partial"), Folder("gone"),
                                 Folder("unfetched")};
  for (const std::string name : {"a.txt", "b.txt", "c.txt", "e.txt"}) {
    ftp.folder_listings["/pub"].push_back(File(name, 5));
    ftp.files["/pub/" + name] = "12345";
  }
  const std::filesystem::path tree = local / "tree", partial = local / "partial";
  ftp.matched_items["/pub/tree/*"] = {Mirrored(tree, ""), Copied(tree, "x.bin", "xxx"),
                                      Mirrored(tree, "sub"), Copied(tree, "sub/y.bin", "yy")};
  ftp.folder_listings["/pub/tree"] = {Folder("sub"), File("x.bin", 3)};
  ftp.folder_listings["/pub/tree/sub"] = {File("y.bin", 2)};
  ftp.folder_listings["/pub/tree/"] = {File("x.bin", 3)};  // the second look, sub removed
  ftp.matched_items["/pub/partial/*"] = {Mirrored(partial, ""), Copied(partial, "p1.bin", "p")};
  ftp.folder_listings["/pub/partial"] = {File("p1.bin", 1), File("p2.bin", 1)};
  ftp.matched_items["/pub/gone/*"] = {Mirrored(local / "gone", "")};
  ftp.folder_listings["/pub/gone"] = {};
  const auto fail = [&](const std::string& call, std::int32_t number, const std::string& text) {
    ftp.failing_calls.emplace(call, FtpError(ErrorCode{number}, text));
  };
  fail("GetMatching(/pub/partial/*," + LocalPath("partial") + ")", 11013, "RETR p2.bin failed: 426.");
  fail("GetMatching(/pub/unfetched/*," + LocalPath("unfetched") + ")", 11101, "cannot enter it");
  fail("RemoveDirectory(/pub/partial)", 11011, "cannot remove /pub/partial: 550 Not empty.");
  fail("RemoveDirectory(/pub/gone)", 11101, "cannot remove /pub/gone: 550 No such directory.");
  fail("DeleteFile(/pub/c.txt)", 380, "invalid path");
  fail("DeleteFile(/pub/e.txt)", 11011, "cannot delete /pub/e.txt: 550 Permission denied.");
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
      downloading("tree", "folder"), downloading("partial", "folder"),
      Failure("ERROR_GetFolder: RETR p2.bin failed: 426."), downloading("gone", "folder"),
      downloading("unfetched", "folder"), Failure("ERROR_GetFolder: cannot enter it"),
      downloading("a.txt", "file"), downloading("b.txt", "file"), downloading("c.txt", "file"),
      downloading("e.txt", "file"),
      Info("Delete ftp.example.net:/pub/tree/"), Warning("Delete denied: /pub/partial"),
      Info("Delete ftp.example.net:/pub/gone"), Info("Delete ftp.example.net:/pub/a.txt"),
      Warning("Delete denied: /pub/b.txt"), Info("Delete ftp.example.net:/pub/c.txt"),
      Warning("Delete denied: /pub/e.txt"), Closing()})));

  // Each folder is listed in TYPE A, the top entered again before a folder is removed, and a
  // folder looked at again after a subfolder went.
  const auto walk = std::find(ftp.calls.begin(), ftp.calls.end(), "WorkingDirectory(/pub/tree)");
  EXPECT_THAT(std::vector(walk, ftp.calls.end()), ElementsAre(
      "WorkingDirectory(/pub/tree)", "TransferType(0)", "ListDirectory",
      "WorkingDirectory(/pub/tree/sub)", "TransferType(0)", "ListDirectory",
      "DeleteFile(/pub/tree/sub/y.bin)", "WorkingDirectory(/pub/)", "RemoveDirectory(/pub/tree/sub)",
      "WorkingDirectory(/pub/tree/)", "TransferType(0)", "ListDirectory",
      "DeleteFile(/pub/tree/x.bin)", "WorkingDirectory(/pub/)", "RemoveDirectory(/pub/tree)",
      "WorkingDirectory(/pub/partial)", "TransferType(0)", "ListDirectory",
      "DeleteFile(/pub/partial/p1.bin)", "WorkingDirectory(/pub/)", "RemoveDirectory(/pub/partial)",
      "WorkingDirectory(/pub/gone)", "TransferType(0)", "ListDirectory", "WorkingDirectory(/pub/)",
      "RemoveDirectory(/pub/gone)", "DeleteFile(/pub/a.txt)", "DeleteFile(/pub/c.txt)",
      "DeleteFile(/pub/e.txt)", "Logout"));
}

}  // namespace
}  // namespace pullwire::testing
