// The name filter: which names pass a Filter text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "remote/name_filter.h"

namespace pullwire {
namespace {

TEST(NameAccepted, PlainCaseInsensitiveSubstringsWithoutWildcards) {
  struct Case {
    std::string filter, name;
    bool passes;
  };
  const std::vector<Case> cases = {
      {"*", "anything.at.all", true},  {"*", "", true},
      {".txt", "A.TXT", true},         {".txt", "notes.txt.bak", true}, {".txt", "txt", false},
      {"log;.zip", "SysLOG.1", true},  {"log;.zip", "a.ZIP", true},     {"log;.zip", "a.rar", false},
      {"*.txt", "a.txt", false},       {"*.txt", "odd*.txt", true},
      {"*;.txt", "a.txt", true},       {"*;.txt", "star*name", true},   {"*;.txt", "plain", false},
      {"a; b", "xb", false},           {"a; b", "x b", true},           {"a; b", "cat", true},
      {"", "a", false},                {";", "a", false},               {";;", "", false},
      {".zip", "backup", false},       {"?", "a?b", true},              {"?", "ab", false},
      {"ÄB", "äb", false},             {"ÄB", "xÄBy", true},  // ASCII letters only fold
  };
  for (const Case& c : cases) {
    ModuleState state;
    state.Settings.Filter = c.filter;
    ParseFilter(state);
    EXPECT_EQ(NameAccepted(state, c.name), c.passes) << "\"" << c.filter << "\" \"" << c.name << "\"";
  }
}

}  // namespace
}  // namespace pullwire
