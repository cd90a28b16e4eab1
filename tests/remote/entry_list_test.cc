// Building the remote entry lists, probing links, the name filter and selecting an item.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "remote/entry_list.h"
#include "remote/name_filter.h"
#include "remote/remote_selection.h"
#include "tests/download/run_fixture.h"

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
    for (const RemoteEntry& e : ListOf(state, which)) {
      names.push_back(e.Name + (e.IsFolder ? "/" : ""));  // a folder's name ends in "/"
    }
    return names;
  }

  ModuleState state;
  ScriptedComponent ftp;
  RecordingChannel channel;
};

// Only the letter D makes a folder; the filter applies to folders too, and only to EntryList.
TEST_F(EntryListTest, FoldersFirstInListingOrderAndTheFilterOnlyInEntryList) {
  ftp.listing.entries = {{"a", "F", 1, 0, ""}, {"B", "D", 0, 0, ""}, {"c", "-", 2, 0, ""},
                         {"D", "d", 0, 0, ""}, {".", "D", 0, 0, ""}, {"..", "d", 0, 0, ""},
                         {"...", "F", 3, 0, ""}, {"dir2", "DIR", 5, 0, ""},
                         {"big", "F", 5'000'000'000LL, -7, "rw-r--r--"}};
  ASSERT_TRUE(Build());
  EXPECT_THAT(Names(), ElementsAre("", "B/", "D/", "a", "c", "...", "dir2", "big"));
  EXPECT_EQ(state.EntryList[0], RemoteEntry{});
  EXPECT_EQ(state.EntryList[7],
            (RemoteEntry{"big", "5000000000", false, false, false, "rw-r--r--", "-7"}));

  state.Settings.Filter = ".zip";
  ftp.listing.entries = {{"backup", "D", 0, 0, ""}, {"a.ZIP", "F", 1, 0, ""},
                         {"b.txt", "F", 1, 0, ""}};
  ASSERT_TRUE(Build());
  ASSERT_TRUE(Build(RemoteList::kSubEntryList, false));
  EXPECT_THAT(Names(RemoteList::kSubEntryList), ElementsAre("", "backup/", "a.ZIP", "b.txt"));
  EXPECT_THAT(Names(), ElementsAre("", "a.ZIP"));
  ftp.listing.style = kListingStyleMixed;  // without unparsed lines: nothing to warn about
  ASSERT_TRUE(Build());
  EXPECT_THAT(Names(), ElementsAre(""));
  EXPECT_THAT(channel.sent, IsEmpty());
}

TEST_F(EntryListTest, FailuresEndTheBuildWithOneMessageAndKeepWhatWasAppended) {
  const auto failed = [&](const std::string& why) {
    EXPECT_FALSE(Build());
    const std::string text = "ERROR_PULL-WIRE: Error getting remote listing [" + why + "]";
    EXPECT_THAT(channel.sent, ElementsAre(Failure(text)));
    EXPECT_TRUE(state.ErrorFlag);
    channel.sent.clear();
  };
  ftp.listing.entries = {{"sub", "D", 0, 0, ""}, {"a", "F", 1, 0, ""}};
  ftp.listing.fail_entries_call = 3;  // the second pass
  failed("listing unreadable");
  EXPECT_THAT(Names(), ElementsAre("", "sub/"));

  // A session that cannot go back after a probe would fetch from the wrong folder.
  ftp.listing.fail_entries_call = 0;
  ftp.listing.entries = {{"link", "L", 0, 0, ""}, {"after", "F", 1, 0, ""}};
  const std::string closed = "421 Service not available, closing control connection.";
  ftp.Fail("WorkingDirectory(/pub)", 421, closed);
  failed(closed);
  EXPECT_THAT(Names(), ElementsAre("", "link"));

  // A component that cannot tell its working folder leaves no way back from an entered link.
  state.Settings.RemoteDir = "pub";
  ftp.forced_state = kConnectionStateConnected;
  ftp.Fail("CurrentDirectory", 502, "502 Not implemented.");
  failed("cannot go back to the listed folder after entering the link pub/link: its path is not "
         "known (the server does not answer PWD)");
}

TEST_F(EntryListTest, LinksAreProbedAndRemoteSelFilesCopiesTheEntryWithItsKind) {
  ftp.listing.entries = {{"sub", "D", 0, 0, ""}, {"ln", "l", 0, 0, ""}, {"f", "F", 7, 0, ""}};
  ASSERT_TRUE(Build());  // a link is probed, and the session goes back to where PWD said
  EXPECT_THAT(ftp.calls, ElementsAre("CurrentDirectory", "WorkingDirectory(/pub/ln)",
                                     "WorkingDirectory(/pub)"));
  ftp.Fail("WorkingDirectory(/pub/ln)", 550, "550");
  ASSERT_TRUE(Build(RemoteList::kSubEntryList, false));
  const std::vector<std::tuple<RemoteList, std::int32_t, SelectedItem>> rows = {
      {RemoteList::kEntryList, 1, {"sub", "/remote", "FolderClose", "0"}},
      {RemoteList::kEntryList, 2, {"ln", "/remote", "FolderLink", "0"}},
      {RemoteList::kSubEntryList, 2, {"ln", "/remote", "File", "0"}},
      {RemoteList::kEntryList, 3, {"f", "/remote", "File", "7"}}, {RemoteList::kEntryList, 4, {}}};
  for (const auto& [list, index, selected] : rows) {
    RemoteSelFiles(state, channel, list, "/remote", index);
    EXPECT_EQ(state.Selected, selected) << index;
  }
  EXPECT_THAT(channel.sent, ElementsAre(Failure("ERROR_RemoteSelFiles: Subscript out of range")));
  EXPECT_TRUE(state.ErrorFlag);
}

TEST(NameAccepted, PlainCaseInsensitiveSubstringsWithoutWildcards) {
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"*", "anything.at.all", true}, {"*", "", true}, {".txt", "A.TXT", true},
      {".txt", "notes.txt.bak", true}, {".txt", "txt", false}, {"log;.zip", "SysLOG.1", true},
      {"log;.zip", "a.ZIP", true}, {"log;.zip", "a.rar", false}, {"*.txt", "a.txt", false},
      {"*.txt", "odd*.txt", true}, {"*;.txt", "a.txt", true}, {"*;.txt", "star*name", true},
      {"*;.txt", "plain", false}, {"a; b", "xb", false}, {"a; b", "x b", true},
      {"a; b", "cat", true}, {"", "a", false}, {";", "a", false}, {";;", "", false},
      {".zip", "backup", false}, {"?", "a?b", true}, {"?", "ab", false},
      {"ÄB", "äb", false}, {"ÄB", "xÄBy", true}};  // ASCII letters only fold
  for (const auto& [filter, name, passes] : cases) {
    ModuleState state;
    state.Settings.Filter = filter;
    ParseFilter(state);
    EXPECT_EQ(NameAccepted(state, name), passes) << "\"" << filter << "\" \"" << name << "\"";
  }
}

}  // namespace
}  // namespace pullwire::testing
