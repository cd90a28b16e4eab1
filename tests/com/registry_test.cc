// The class registry file: the environment's path, a class moved to a new ProgID, a missing file,
// bad entries, corrupt files, the lock, and two processes changing it at once.
#include "com/registry.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <set>

#include "com/error_info.h"
#include "com_test_support.h"

namespace pullwire::com {
namespace {

using ::testing::HasSubstr;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TakeErrorText;
using testing::TempDir;
using testing::WriteFile;

constexpr Guid kClsidA{0xA0000001, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
constexpr Guid kClsidB{0xB0000002, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};

std::vector<std::string> ProgIds(const Registry& registry) {
  std::vector<ClassRegistration> entries;
  EXPECT_EQ(registry.List(&entries), S_OK) << TakeErrorText();
  std::vector<std::string> ids;
  for (const auto& e : entries) ids.push_back(e.prog_id);
  return ids;
}

TEST(Registry, DefaultPathFollowsTheEnvironment) {
  {
    ScopedEnv file("NORVIK_REGISTRY", "/x/reg.json");
    EXPECT_EQ(Registry::DefaultPath(), "/x/reg.json");
  }
  ScopedEnv no_file("NORVIK_REGISTRY", std::nullopt);
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(Registry::DefaultPath(), "/cfg/norvik/registry.json");
  }
  ScopedEnv no_config("XDG_CONFIG_HOME", std::nullopt);
  ScopedEnv home("HOME", "/home/ada");
  EXPECT_EQ(Registry::DefaultPath(), "/home/ada/.config/norvik/registry.json");
}

// Registering twice and ProgIDs in any case are the library's and `pullwire register`'s tests.
TEST(Registry, ANewProgIdForAClassReplacesItsEntryAndAMissingFileIsEmpty) {
  TempDir folder("com");
  Registry registry(folder / "registry.json");
  ASSERT_EQ(registry.Register({"A.One", kClsidA, "/a.so", ""}), S_OK);
  ASSERT_EQ(registry.Register({"B.Two", kClsidB, "/b.so", ""}), S_OK);
  ASSERT_EQ(registry.Register({"A.Moved", kClsidA, "/opt/a.so", ""}), S_OK);
  std::vector<std::string> ids = ProgIds(registry);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"A.Moved", "B.Two"}));
  EXPECT_EQ(registry.Unregister("a.moved"), S_OK);
  EXPECT_EQ(ProgIds(registry), std::vector<std::string>{"B.Two"});

  Registry missing(folder / "none.json");  // no file: an empty registry, not an error
  ClassRegistration found;
  EXPECT_EQ(missing.FindByProgId("A.One", &found), REGDB_E_CLASSNOTREG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("Class not registered: A.One"));
  EXPECT_EQ(missing.Unregister("A.One"), S_FALSE);
  EXPECT_FALSE(std::filesystem::exists(folder / "none.json"));
}

TEST(Registry, RefusesBadEntries) {
  TempDir folder("com");
  Registry registry(folder / "registry.json");
  EXPECT_EQ(registry.Register({"Pullwire.Toolbox", kClsidA, "relative/lib.so", ""}), E_INVALIDARG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("library path \"relative/lib.so\" is not absolute"));
  for (const char* bad : {"", ".hidden", "has space", "slash/inside"}) {
    EXPECT_EQ(registry.Register({bad, kClsidA, "/lib.so", ""}), E_INVALIDARG) << bad;
    EXPECT_THAT(TakeErrorText(), HasSubstr("is not valid")) << bad;
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "registry.json"));
}

TEST(Registry, CorruptFileIsReportedAndNeverOverwritten) {
  TempDir folder("com");
  const auto file = folder / "registry.json";
  Registry registry(file);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{\"classes\": [", "not JSON"},
      {"[]", "no \"classes\" list"},
      {R"({"classes": [{"prog_id": 5, "clsid": "{A0000001-0001-0002-0304-05060708090A}", "library": "/a"}]})",
       "class 1 has no text \"prog_id\""},
      {R"({"classes": [{"prog_id": "X", "clsid": "nope", "library": "/a"}]})", "class 1 has a malformed \"clsid\""},
      {R"({"classes": [{"prog_id": "X", "clsid": "{A0000001-0001-0002-0304-05060708090G}",)"
       R"( "library": "/a"}]})",
       "class 1 has a malformed \"clsid\""},
  };
  for (const auto& [text, reason] : cases) {
    WriteFile(file, text);
    EXPECT_EQ(registry.Register({"Pullwire.Toolbox", kClsidA, "/lib.so", ""}), E_FAIL);
    const std::string error = TakeErrorText();
    EXPECT_THAT(error, HasSubstr(reason)) << text;
    EXPECT_THAT(error, HasSubstr(file.string()));
    EXPECT_EQ(registry.Unregister("X"), E_FAIL);
    ClassRegistration found;
    EXPECT_EQ(registry.FindByProgId("X", &found), E_FAIL);
    EXPECT_EQ(ReadFile(file), text);
  }
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);  // unreadable as a file
  EXPECT_EQ(registry.Register({"Pullwire.Toolbox", kClsidA, "/lib.so", ""}), E_FAIL);
  EXPECT_THAT(TakeErrorText(), HasSubstr("cannot read registry file " + file.string()));
}

TEST(Registry, RewriteKeepsUnknownKeysAndALinkedFile) {
  TempDir folder("com");
  WriteFile(folder / "real.json",
            R"({"norvik_registry":1,"owner":"me","classes":[{"prog_id":"Old.One",)"
            R"("clsid":"{B0000002-0001-0002-0304-05060708090A}","library":"/o.so","extra":true}]})");
  std::filesystem::create_symlink(folder / "real.json", folder / "registry.json");
  Registry registry(folder / "registry.json");
  ASSERT_EQ(registry.Register({"New.One", kClsidA, "/n.so", "new"}), S_OK) << TakeErrorText();
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "registry.json"));
  const auto doc = nlohmann::json::parse(ReadFile(folder / "real.json"));
  EXPECT_EQ(doc["owner"], "me");
  EXPECT_EQ(doc["classes"][0]["extra"], true);
  EXPECT_EQ(doc["classes"][1]["prog_id"], "New.One");
}

TEST(Registry, ChangesWaitForTheLockWithinTheirBound) {
  TempDir folder("com");
  Registry registry(folder / "registry.json");
  const int held = open((folder / "registry.json.lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  registry.set_lock_timeout(std::chrono::milliseconds(50));
  EXPECT_EQ(registry.Register({"A.One", kClsidA, "/a.so", ""}), E_FAIL);
  EXPECT_THAT(TakeErrorText(), HasSubstr("stayed locked by another process for 50 ms"));
  close(held);
  EXPECT_EQ(registry.Register({"A.One", kClsidA, "/a.so", ""}), S_OK);
}

// Two processes register 40 classes each and unregister every other one, all at once, while
// this process keeps reading. A lost update would drop or resurrect entries; a torn write
// would make a read fail.
TEST(Registry, TwoProcessesChangingAtOnceLoseNothing) {
  TempDir folder("com");
  const auto file = folder / "registry.json";
  constexpr int kCount = 40;
  std::vector<pid_t> children;
  for (const char* prefix : {"Alpha", "Beta"}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Registry registry(file);
      bool ok = true;
      for (int i = 0; i < kCount && ok; ++i) {
        const Guid clsid{static_cast<std::uint32_t>(i), static_cast<std::uint16_t>(prefix[0]), 0, {}};
        const std::string id = std::string(prefix) + "." + std::to_string(i);
        ok = registry.Register({id, clsid, "/lib/" + id + ".so", ""}) == S_OK;
        if (ok && i % 2 == 1) ok = registry.Unregister(std::string(prefix) + "." + std::to_string(i - 1)) == S_OK;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  Registry reader(file);
  int read_failures = 0;
  for (int i = 0; i < 200; ++i) {
    std::vector<ClassRegistration> entries;
    if (Failed(reader.List(&entries))) ++read_failures;
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(read_failures, 0) << TakeErrorText();
  const auto ids = ProgIds(reader);
  std::set<std::string> expected;
  for (const char* prefix : {"Alpha", "Beta"}) {
    for (int i = 1; i < kCount; i += 2) expected.insert(std::string(prefix) + "." + std::to_string(i));
  }
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()), expected);
  EXPECT_EQ(ids.size(), expected.size());
}

}  // namespace
}  // namespace pullwire::com
