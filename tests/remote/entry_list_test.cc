// Building the remote entry lists, probing links and selecting the folder mode's item.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "remote/entry_list.h"
#include "remote/remote_selection.h"
#include "tests/download/run_test_support.h"
#include "tests/download/scripted_component.h"

namespace pullwire::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class EntryListTest : public ::testing::Test {
 protected:
  EntryListTest() {
    state.Settings.RemoteDir = "/pub";
    state.Settings.Filter = "*";
    ftp.working_directory = "/pub";  // where the run's WorkingDirectory left the session
  }

  bool Build(RemoteList target = RemoteList::kEntryList, bool filter = true) {
    return BuildEntryList(state, ftp, channel, ftp.listing, target, filter);
  }
  std::vector<std::string> Names(RemoteList which = RemoteList::kEntryList) const {
    std::vector<std::string> names;
    for (const RemoteEntry& e : ListOf(state, which)) names.push_back(e.Name);
    return names;
  }

  ModuleState state;
  ScriptedComponent ftp;
  RecordingChannel channel;
};

TEST_F(EntryListTest, FoldersFirstThenEverythingElseInListingOrder) {
  ftp.listing.entries = {{"a", "F", 1, 0, ""}, {"B", "D", 0, 0, ""}, {"c", "-", 2, 0, ""},
                         {"D", "d", 0, 0, ""}, {".", "D", 0, 0, ""}, {"..", "d", 0, 0, ""},
                         {"...", "F", 3, 0, ""}, {" .", "F", 4, 0, ""}, {"dir2", "DIR", 5, 0, ""}};
  ASSERT_TRUE(Build());
  EXPECT_THAT(Names(), ElementsAre("", "B", "D", "a", "c", "...", " .", "dir2"));
  EXPECT_EQ(state.EntryList[0], RemoteEntry{});
  EXPECT_TRUE(state.EntryList[1].IsFolder);
  EXPECT_FALSE(state.EntryList[7].IsFolder);  // only the letter D makes a folder
  EXPECT_THAT(channel.sent, IsEmpty());
}

TEST_F(EntryListTest, RecordsCarrySizesAndExtrasAsDecimalText) {
  ftp.listing.entries = {{"big", "F", 5'000'000'000LL, -7, "rw-r--r--"}, {"neg", "F", -1, 0, ""}};
  ASSERT_TRUE(Build());
  EXPECT_EQ(state.EntryList[1], (RemoteEntry{"big", "5000000000", false, false, false, "rw-r--r--", "-7"}));
  EXPECT_EQ(state.EntryList[2].Size, "-1");
}

TEST_F(EntryListTest, TheFilterAppliesToFoldersAndOnlyToEntryList) {
  state.Settings.Filter = ".zip";
  ftp.listing.entries = {{"backup", "D", 0, 0, ""}, {"a.ZIP", "F", 1, 0, ""}, {"b.txt", "F", 1, 0, ""}};
  ASSERT_TRUE(Build());
  EXPECT_THAT(Names(), ElementsAre("", "a.ZIP"));
  ASSERT_TRUE(Build(RemoteList::kSubEntryList, false));
  EXPECT_THAT(Names(RemoteList::kSubEntryList), ElementsAre("", "backup", "a.ZIP", "b.txt"));
  EXPECT_THAT(Names(), ElementsAre("", "a.ZIP"));
}

TEST_F(EntryListTest, UnsupportedListingWarnsOnlyWithLinesAndLeavesTheListEmpty) {
  ftp.listing.entries = {{"a", "F", 1, 0, ""}};
  ftp.listing.style = kListingStyleMixed;
  ASSERT_TRUE(Build());
  EXPECT_THAT(Names(), ElementsAre(""));
  EXPECT_THAT(channel.sent, IsEmpty());

  ftp.listing.unparsed = "this is not a listing line";
  ASSERT_TRUE(Build());
  EXPECT_THAT(Names(), ElementsAre(""));
  EXPECT_THAT(channel.sent, ElementsAre(SentMessage{"Some non-UNIX or non-DOS listing were encountered.", 1},
                                        SentMessage{"This plugin only supports UNIX and DOS listings.", 1},
                                        SentMessage{"Here are some of the lines that failed:", 1},
                                        SentMessage{"this is not a listing line", 1}));
  EXPECT_FALSE(state.ErrorFlag);
}

TEST_F(EntryListTest, LinksAreProbedAgainstRemoteDirAndTheSessionReturns) {
  state.Settings.RemoteDir = "/pub/";  // joined as it is: "//"
  ftp.listing.entries = {{"to-dir", "l", 0, 0, ""}, {"to-file", "L", 9, 0, ""}, {"plain", "F", 1, 0, ""}};
  ftp.unenterable = {"/pub//to-file"};
  ASSERT_TRUE(Build());
  EXPECT_THAT(ftp.calls, ElementsAre("CurrentDirectory", "WorkingDirectory(/pub//to-dir)",
                                     "WorkingDirectory(/pub)", "WorkingDirectory(/pub//to-file)"));
  EXPECT_EQ(ftp.working_directory, "/pub");
  EXPECT_EQ(state.EntryList[1], (RemoteEntry{"to-dir", "0", false, false, true, "", "0"}));
  EXPECT_EQ(state.EntryList[2], (RemoteEntry{"to-file", "9", false, true, false, "", "0"}));
  EXPECT_EQ(state.EntryList[3], (RemoteEntry{"plain", "1", false, false, false, "", "0"}));
  EXPECT_THAT(channel.sent, IsEmpty());
}

TEST_F(EntryListTest, FailuresEndTheBuildWithOneMessageAndKeepWhatWasAppended) {
  ftp.listing.entries = {{"sub", "D", 0, 0, ""}, {"a", "F", 1, 0, ""}};
  ftp.listing.fail_entries_call = 3;  // the second pass
  EXPECT_FALSE(Build());
  EXPECT_THAT(Names(), ElementsAre("", "sub"));
  EXPECT_THAT(channel.sent,
              ElementsAre(SentMessage{"ERROR_PULL-WIRE: Error getting remote listing [listing entry unreadable]", 2}));
  EXPECT_TRUE(state.ErrorFlag);

  // A session that cannot go back after a probe would fetch from the wrong folder: a failure.
  channel.sent.clear();
  ftp.listing.fail_entries_call = 0;
  ftp.listing.entries = {{"link", "L", 0, 0, ""}, {"after", "F", 1, 0, ""}};
  ftp.before = [&](const std::string& member) {
    if (member == "WorkingDirectory" && ftp.working_directory == "/pub/link") {
      throw FtpError(ErrorCode{421}, "421 Service not available, closing control connection.");
    }
  };
  EXPECT_FALSE(Build());
  EXPECT_THAT(Names(), ElementsAre("", "link"));
  EXPECT_THAT(channel.sent, ElementsAre(SentMessage{
      "ERROR_PULL-WIRE: Error getting remote listing [421 Service not available, closing control connection.]", 2}));

  // A component that cannot tell its working folder leaves no way back from an entered link.
  channel.sent.clear();
  state.Settings.RemoteDir = "pub";
  ftp.working_directory = "/pub";
  ftp.forced_state = kConnectionStateConnected;
  ftp.before = [](const std::string& member) {
    if (member == "CurrentDirectory") throw FtpError(ErrorCode{502}, "502 Command not implemented.");
  };
  EXPECT_FALSE(Build());
  EXPECT_THAT(channel.sent, ElementsAre(SentMessage{
      "ERROR_PULL-WIRE: Error getting remote listing [cannot go back to the listed folder after "
      "entering the link pub/link: its path is not known (the server does not answer PWD)]", 2}));
}

TEST_F(EntryListTest, WarningsAboutLeftOutEntriesComeFirst) {
  ftp.listing.entries = {{"a", "F", 1, 0, ""}};
  ftp.listing.warnings = {"Remote entry \"a/b\" left out: the name holds \"/\""};
  ASSERT_TRUE(Build());
  EXPECT_THAT(Names(), ElementsAre("", "a"));
  EXPECT_THAT(channel.sent,
              ElementsAre(SentMessage{"Remote entry \"a/b\" left out: the name holds \"/\"", 1}));
}

TEST_F(EntryListTest, RemoteSelFilesCopiesTheEntryWithItsKind) {
  ftp.listing.entries = {{"sub", "D", 0, 0, ""}, {"ln", "L", 0, 0, ""}, {"f", "F", 7, 0, ""}};
  ASSERT_TRUE(Build());
  ASSERT_TRUE(Build(RemoteList::kSubEntryList, false));
  ftp.unenterable = {"/pub/ln"};
  ASSERT_TRUE(Build(RemoteList::kSubEntryList, false));

  RemoteSelFiles(state, channel, RemoteList::kEntryList, "/remote", 1);
  EXPECT_EQ(state.Selected, (SelectedItem{"sub", "/remote", "FolderClose", "0"}));
  RemoteSelFiles(state, channel, RemoteList::kEntryList, "/remote", 2);
  EXPECT_EQ(state.Selected, (SelectedItem{"ln", "/remote", "FolderLink", "0"}));
  RemoteSelFiles(state, channel, RemoteList::kSubEntryList, "x", 2);
  EXPECT_EQ(state.Selected, (SelectedItem{"ln", "x", "File", "0"}));
  RemoteSelFiles(state, channel, RemoteList::kEntryList, "/remote", 3);
  EXPECT_EQ(state.Selected, (SelectedItem{"f", "/remote", "File", "7"}));
  EXPECT_THAT(channel.sent, IsEmpty());

  RemoteSelFiles(state, channel, RemoteList::kEntryList, "/remote", 4);
  EXPECT_EQ(state.Selected, SelectedItem{});
  EXPECT_THAT(channel.sent, ElementsAre(SentMessage{"ERROR_RemoteSelFiles: Subscript out of range", 2}));
  EXPECT_TRUE(state.ErrorFlag);
}

}  // namespace
}  // namespace pullwire::testing
