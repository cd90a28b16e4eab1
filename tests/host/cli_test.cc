// The `pullwire` program as a user runs it: info, typelib, register/unregister and the message
// daemon receiving the plug-in's messages.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "com/registry.h"
#include "daemon_process.h"
#include "loaded_library.h"
#include "private_environment.h"
#include "tests/support/server_process.h"

namespace pullwire {
namespace {

using namespace std::chrono_literals;
using testing::CommandResult;
using testing::DaemonProcess;
using testing::LoadedLibrary;
using testing::PrivateEnvironment;

CommandResult Pullwire(std::vector<std::string> args) {
  args.insert(args.begin(), PULLWIRE_HOST_PATH);
  return testing::RunCommand(args, 30s);
}

std::string Canonical(const std::filesystem::path& path) { return std::filesystem::canonical(path).string(); }

std::vector<com::ClassRegistration> Entries(const std::filesystem::path& registry) {
  std::vector<com::ClassRegistration> entries;
  EXPECT_EQ(com::Registry(registry).List(&entries), com::S_OK);
  return entries;
}

class CliTest : public ::testing::Test {
 protected:
  PrivateEnvironment env_;
};

TEST_F(CliTest, info_loads_the_library_through_its_exports) {
  const auto result = Pullwire({"info", "--library", PULLWIRE_LIBRARY_PATH});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out,
            "Info:      Norvik Plugin: Pullwire\n"
            "Author:    Maren Holt, Quenlo\n"
            "Version:   4.5.0\n"
            "Loaded:    " PULLWIRE_LIBRARY_PATH "\n"
            "Modules:   1\n"
            "Module 1:  Pullwire (category Network)\n"
            "  icons il_pullwire.ico, is_pullwire.ico; category icons icl_network.ico, ics_network.ico\n");
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(std::filesystem::exists(env_.registry())) << "loading a file does not register it";
}

TEST_F(CliTest, info_without_registration_uses_the_library_built_beside_the_program) {
  const auto result = Pullwire({"info"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find("Loaded:    " + Canonical(PULLWIRE_LIBRARY_PATH) + "\n"), std::string::npos)
      << result.out;
}

TEST_F(CliTest, a_library_that_cannot_load_is_a_clear_error) {
  const auto missing = Pullwire({"--library", (env_.root() / "nothing.so").string(), "info"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("pullwire: cannot create Pullwire.Toolbox from " + (env_.root() / "nothing.so").string()),
            std::string::npos)
      << missing.err;
  EXPECT_NE(missing.err.find("nothing.so"), std::string::npos);
  EXPECT_EQ(missing.out, "");

  const auto not_a_server = Pullwire({"typelib", "--library", "/lib/x86_64-linux-gnu/libc.so.6"});
  EXPECT_EQ(not_a_server.exit_code, 1);
  EXPECT_NE(not_a_server.err.find("DllGetClassObject"), std::string::npos) << not_a_server.err;
}

TEST_F(CliTest, usage_errors_exit_2_and_help_exits_0) {
  const auto none = Pullwire({});
  EXPECT_EQ(none.exit_code, 2);
  EXPECT_NE(none.err.find("subcommand"), std::string::npos) << none.err;
  EXPECT_EQ(Pullwire({"frobnicate"}).exit_code, 2);
  const auto help = Pullwire({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* command : {"info", "typelib", "register", "unregister", "daemon"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
}

TEST_F(CliTest, typelib_prints_the_members_in_slot_order_with_records) {
  const auto result = Pullwire({"typelib", "--library", PULLWIRE_LIBRARY_PATH});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::string& out = result.out;
  EXPECT_TRUE(out.starts_with("library Pullwire {F2039550-A86B-4C6B-B578-14772836FE02}\n"
                              "  helpstring \"Norvik Toolbox: Pullwire\", lcid 1033\n"))
      << out;
  const std::vector<std::string> in_order = {
      // The members' order and types are the library test's; here, how each kind is printed.
      "dual interface _Toolbox {FD69521B-3936-44EA-A0CA-114320514462}",
      "[id  1] Property Get gInfo() As String",
      "[id  1] Property Let gInfo(value As String)",
      "[id  3] Sub Init()",
      "[id 13] Property Get Message(ByRef Index As Integer) As MessageType",
      "[id 22] Function Setup(ByRef Module As String, ByRef Data() As String) As Variant",
      "coclass Toolbox {8530A44E-7BA6-46F5-89A3-C9D7227D68A3}",
      "ProgID Pullwire.Toolbox, default interface _Toolbox, creatable",
      "record VarType",
      "  Use As Boolean",
  };
  std::size_t at = 0;
  for (const std::string& line : in_order) {
    const std::size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << out;
    at = found + line.size();
  }
  std::size_t members = 0;
  for (std::size_t pos = out.find("[id "); pos != std::string::npos; pos = out.find("[id ", pos + 1)) ++members;
  EXPECT_EQ(members, 25u) << "23 members, gInfo and gAuthor with get and put";
}

TEST_F(CliTest, register_and_unregister_twice) {
  const std::string library = Canonical(PULLWIRE_LIBRARY_PATH);
  for (int i = 0; i < 2; ++i) {
    const auto result = Pullwire({"register", "--library", PULLWIRE_LIBRARY_PATH});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "Registered Pullwire.Toolbox -> " + std::filesystem::absolute(PULLWIRE_LIBRARY_PATH).string() +
                              " in " + env_.registry().string() + "\n");
    const auto entries = Entries(env_.registry());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Canonical(entries[0].library), library);
  }
  const auto info = Pullwire({"info"});
  ASSERT_EQ(info.exit_code, 0) << info.err;
  EXPECT_NE(info.out.find("Loaded:    registry ("), std::string::npos) << info.out;

  auto result = Pullwire({"unregister"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "Unregistered Pullwire.Toolbox from " + env_.registry().string() + "\n");
  result = Pullwire({"unregister"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "Pullwire.Toolbox was not registered in " + env_.registry().string() + "\n");
  EXPECT_TRUE(Entries(env_.registry()).empty());
}

TEST_F(CliTest, daemon_prints_each_message_of_the_plugin_with_timestamp_and_label) {
  DaemonProcess daemon({"daemon", "--instance", "4"});
  const auto serving = daemon.NextErrLine(10s);
  ASSERT_TRUE(serving.has_value());
  EXPECT_EQ(*serving, "pullwire: serving nrvd4.IPCdaemon at " + (env_.runtime() / "norvik" / "nrvd4.IPCdaemon").string() +
                          " (Ctrl+C stops)");

  LoadedLibrary library(env_.root());
  auto box = library.NewToolbox();
  box->put_dInstance("4");
  box->Init();
  box->Execute("other", com::StringArray({}, 1), nullptr);
  box->Execute("PULLWIRE", com::StringArray({}, 1), nullptr);

  const std::regex timestamp(R"(\d{2}-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d{4} \d{2}:\d{2}\.\d{2})");
  const auto warning = daemon.NextOutLine(5s);
  ASSERT_TRUE(warning.has_value());
  EXPECT_TRUE(std::regex_match(*warning, std::regex(R"((.{20})  WARN  WARNING: Module \[OTHER\] is unknown!)")))
      << *warning;
  EXPECT_TRUE(std::regex_match(warning->substr(0, 20), timestamp)) << *warning;
  const auto error = daemon.NextOutLine(5s);
  ASSERT_TRUE(error.has_value());
  EXPECT_TRUE(std::regex_match(*error, std::regex(R"((.{20})  ERROR  ERROR_PULL-WIRE \[Subscript out of range\])")))
      << *error;

  EXPECT_EQ(daemon.Stop(SIGTERM), 0);
  EXPECT_FALSE(std::filesystem::exists(env_.runtime() / "norvik" / "nrvd4.IPCdaemon")) << "the socket is removed";
}

TEST_F(CliTest, daemon_stops_on_interrupt_and_refuses_a_second_server) {
  DaemonProcess daemon({"daemon"});
  ASSERT_TRUE(daemon.NextErrLine(10s).has_value());
  const auto second = Pullwire({"daemon"});
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.err.find("pullwire: cannot serve nrvd.IPCdaemon"), std::string::npos) << second.err;
  EXPECT_EQ(daemon.Stop(SIGINT), 0);
  const auto stopped = daemon.NextErrLine(2s);
  ASSERT_TRUE(stopped.has_value());
  EXPECT_EQ(*stopped, "pullwire: nrvd.IPCdaemon stopped");
}

}  // namespace
}  // namespace pullwire
