// The class registry file: the environment's path, a class moved to a new ProgID, a missing file,
// bad entries, corrupt files and the lock.
#include "com/registry.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <set>

#include "com/error_info.h"
#include "tests/support/test_files.h"

namespace pullwire::com {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using pullwire::testing::ReadFile;
using pullwire::testing::ScopedEnv;
using pullwire::testing::TempDir;
using pullwire::testing::WriteFile;

constexpr Guid kClsidA{0xA0000001, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
constexpr Guid kClsidB{0xB0000002, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};

std::string TakeErrorText() {
  const auto record = GetErrorInfo();
  return record ? record->description : "<no record>";
}

std::set<std::string> ProgIds(const Registry& registry) {
  std::vector<ClassRegistration> entries;
  EXPECT_EQ(registry.List(&entries), S_OK) << TakeErrorText();
  std::set<std::string> ids;
  for (const auto& e : entries) ids.insert(e.prog_id);
  EXPECT_EQ(ids.size(), entries.size()) << "one entry per ProgID";
  return ids;
}

class RegistryFile : public ::testing::Test {
 protected:
  TempDir folder_{"com"};
  const std::filesystem::path file_ = folder_ / "registry.json";
  Registry registry_{file_};
};

TEST(Registry, DefaultPathFollowsTheEnvironment) {
  using Env = std::optional<std::string>;
  const std::tuple<Env, Env, const char*> cases[] = {  // NORVIK_REGISTRY, XDG_CONFIG_HOME, path
      {"/x/reg.json", "/cfg", "/x/reg.json"}, {std::nullopt, "/cfg", "/cfg/norvik/registry.json"},
      {std::nullopt, std::nullopt, "/home/ada/.config/norvik/registry.json"}};
  ScopedEnv home("HOME", "/home/ada");
  for (const auto& [registry, config, path] : cases) {
    ScopedEnv registry_env("NORVIK_REGISTRY", registry);
    ScopedEnv config_env("XDG_CONFIG_HOME", config);
    EXPECT_EQ(Registry::DefaultPath(), path);
  }
}

// Registering twice is `pullwire register`'s test.
TEST_F(RegistryFile, AMissingFileIsEmptyBadEntriesAreRefusedAndANewProgIdReplacesAClass) {
  ClassRegistration found;
  EXPECT_EQ(registry_.FindByProgId("A.One", &found), REGDB_E_CLASSNOTREG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("Class not registered: A.One"));
  EXPECT_EQ(registry_.Unregister("A.One"), S_FALSE);
  EXPECT_EQ(registry_.Register({"Pullwire.Toolbox", kClsidA, "relative/lib.so", ""}), E_INVALIDARG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("library path \"relative/lib.so\" is not absolute"));
  for (const char* bad : {"", ".hidden", "has space", "slash/inside"}) {
    EXPECT_EQ(registry_.Register({bad, kClsidA, "/lib.so", ""}), E_INVALIDARG) << bad;
    EXPECT_THAT(TakeErrorText(), HasSubstr("is not valid")) << bad;
  }
  EXPECT_FALSE(std::filesystem::exists(file_)) << "nothing written";

  ASSERT_EQ(registry_.Register({"A.One", kClsidA, "/a.so", ""}), S_OK);
  ASSERT_EQ(registry_.Register({"B.Two", kClsidB, "/b.so", ""}), S_OK);
  ASSERT_EQ(registry_.Register({"A.Moved", kClsidA, "/opt/a.so", ""}), S_OK);
  EXPECT_EQ(ProgIds(registry_), (std::set<std::string>{"A.Moved", "B.Two"}));
  EXPECT_EQ(registry_.FindByProgId("b.TWO", &found), S_OK);
  EXPECT_EQ(found.library, "/b.so");
  EXPECT_EQ(registry_.Unregister("a.moved"), S_OK);
  EXPECT_EQ(ProgIds(registry_), std::set<std::string>{"B.Two"});
}

TEST_F(RegistryFile, CorruptFileIsReportedAndNeverOverwritten) {
  const std::string entry = R"({"classes": [{"prog_id": "X", "clsid": ")";
  const std::pair<std::string, std::string> cases[] = {
      {"{\"classes\": [", "not JSON"},
      {"[]", "no \"classes\" list"},
      {R"({"classes": [{"prog_id": 5, "clsid": "{A0000001-0001-0002-0304-05060708090A}", "library": "/a"}]})",
       "class 1 has no text \"prog_id\""},
      {entry + R"({A0000001-0001-0002-0304-05060708090G}", "library": "/a"}]})", "class 1 has a malformed \"clsid\""},
  };
  for (const auto& [text, reason] : cases) {
    WriteFile(file_, text);
    EXPECT_EQ(registry_.Register({"Pullwire.Toolbox", kClsidA, "/lib.so", ""}), E_FAIL);
    EXPECT_THAT(TakeErrorText(), AllOf(HasSubstr(reason), HasSubstr(file_.string()))) << text;
    EXPECT_EQ(registry_.Unregister("X"), E_FAIL);
    ClassRegistration found;
    EXPECT_EQ(registry_.FindByProgId("X", &found), E_FAIL);
    EXPECT_EQ(ReadFile(file_), text);
  }
  std::filesystem::remove(file_);
  std::filesystem::create_directory(file_);  // unreadable as a file
  EXPECT_EQ(registry_.Register({"Pullwire.Toolbox", kClsidA, "/lib.so", ""}), E_FAIL);
  EXPECT_THAT(TakeErrorText(), HasSubstr("cannot read registry file " + file_.string()));
}

TEST_F(RegistryFile, RewriteKeepsUnknownKeysAndALinkedFile) {
  WriteFile(folder_ / "real.json",
            R"({"norvik_registry":1,"owner":"me","classes":[{"prog_id":"Old.One",)"
            R"("clsid":"{B0000002-0001-0002-0304-05060708090A}","library":"/o.so","extra":true}]})");
  std::filesystem::create_symlink(folder_ / "real.json", file_);
  ASSERT_EQ(registry_.Register({"New.One", kClsidA, "/n.so", "new"}), S_OK) << TakeErrorText();
  EXPECT_TRUE(std::filesystem::is_symlink(file_));
  const auto doc = nlohmann::json::parse(ReadFile(folder_ / "real.json"));
  EXPECT_EQ(doc["owner"], "me");
  EXPECT_EQ(doc["classes"][0]["extra"], true);
  EXPECT_EQ(doc["classes"][1]["prog_id"], "New.One");
}

// A live holder of the lock is waited for within the bound; the file it leaves holds nothing.
TEST_F(RegistryFile, ChangesWaitForTheLockWithinTheirBound) {
  const int held = open((file_.string() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  registry_.set_lock_timeout(std::chrono::milliseconds(50));
  EXPECT_EQ(registry_.Register({"A.One", kClsidA, "/a.so", ""}), E_FAIL);
  EXPECT_THAT(TakeErrorText(), HasSubstr("stayed locked by another process for 50 ms"));
  close(held);
  EXPECT_EQ(registry_.Register({"A.One", kClsidA, "/a.so", ""}), S_OK) << TakeErrorText();
}

}  // namespace
}  // namespace pullwire::com
