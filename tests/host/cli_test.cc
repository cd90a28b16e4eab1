// The `pullwire` program as a user runs it: info, typelib, register/unregister and the message
// daemon receiving the plug-in's messages.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "com/activation.h"
#include "com/registry.h"
#include "loaded_library.h"
#include "private_environment.h"
#include "tests/support/server_process.h"
#include "tests/support/test_files.h"

namespace pullwire {
namespace {

using namespace std::chrono_literals;
using testing::CommandResult;

CommandResult Pullwire(std::vector<std::string> args) {
  args.insert(args.begin(), PULLWIRE_HOST_PATH);
  return testing::RunCommand(args, 30s);
}

std::string Canonical(const std::filesystem::path& path) {
  return std::filesystem::canonical(path).string();
}

std::vector<com::ClassRegistration> Entries(const std::filesystem::path& registry) {
  std::vector<com::ClassRegistration> entries;
  EXPECT_EQ(com::Registry(registry).List(&entries), com::S_OK);
  return entries;
}

class CliTest : public ::testing::Test {
 protected:
  // Runs `pullwire daemon` (instance `instance`), calls `while_serving` once it takes calls, then
  // sends `signal` once `lines` lines are printed. Its stdout goes to `out_`.
  CommandResult Daemon(const std::string& instance, int signal,
                       const std::function<void()>& while_serving, std::size_t lines = 0) {
    int step = 0;
    return testing::RunCommand(
        {"sh", "-c", "exec \"$0\" daemon --instance \"$1\" >\"$2\"", PULLWIRE_HOST_PATH, instance,
         out_.string()},
        30s, [&](pid_t pid) {
          com::ComPtr<com::IDispatch> client;
          if (step == 0 && com::CreateObject("nrvd" + instance + ".IPCdaemon", com::IID_IDispatch,
                                             client.ReceiveVoid()) == com::S_OK) {
            client.Reset();
            while_serving();
            step = 1;
          }
          const std::string out = step == 1 ? testing::ReadFile(out_) : "";
          if (step == 1 && std::count(out.begin(), out.end(), '\n') >= std::ptrdiff_t(lines)) {
            kill(pid, signal);
            step = 2;
          }
        });
  }

  testing::PrivateEnvironment env_;
  std::filesystem::path out_ = env_.root() / "daemon.out";
};

TEST_F(CliTest, info_loads_the_library_through_its_exports_or_the_one_beside_the_program) {
  const auto result = Pullwire({"info", "--library", PULLWIRE_LIBRARY_PATH});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out,
            "Info:      Norvik Plugin: Pullwire\n"
            "Author:    Maren Holt, Quenlo\n"
            "Version:   4.5.0\n"
            "Loaded:    " PULLWIRE_LIBRARY_PATH "\n"
            "Modules:   1\n"
            "Module 1:  Pullwire (category Network)\n"
            "  icons il_pullwire.ico, is_pullwire.ico; category icons icl_network.ico, "
            "ics_network.ico\n");
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(std::filesystem::exists(env_.registry())) << "loading a file does not register it";
  const auto beside = Pullwire({"info"});
  ASSERT_EQ(beside.exit_code, 0) << beside.err;
  EXPECT_NE(beside.out.find("Loaded:    " + Canonical(PULLWIRE_LIBRARY_PATH) + "\n"),
            std::string::npos) << beside.out;
}

TEST_F(CliTest, errors_say_what_failed_with_exit_1_usage_exits_2_and_help_0) {
  const std::string missing = (env_.root() / "nothing.so").string();
  const struct {
    std::vector<std::string> args;
    int exit_code;
    std::string in_err;
  } cases[] = {
      {{"--library", missing, "info"}, 1, "pullwire: cannot create Pullwire.Toolbox from " +
                                               missing},
      {{"typelib", "--library", "/lib/x86_64-linux-gnu/libc.so.6"}, 1, "DllGetClassObject"},
      {{}, 2, "A subcommand is required\nRun with --help for more information.\n"},
      {{"frobnicate"}, 2, "A subcommand is required\nRun with --help for more information.\n"},
      {{"--help"}, 0, ""},
  };
  for (const auto& c : cases) {
    const auto result = Pullwire(c.args);
    EXPECT_EQ(result.exit_code, c.exit_code) << c.in_err;
    EXPECT_NE(result.err.find(c.in_err), std::string::npos) << result.err;
    if (c.exit_code == 1) {
      EXPECT_EQ(result.out, "");
    }
  }
  const auto help = Pullwire({"--help"});
  for (const char* command :
       {"info", "typelib", "register", "unregister", "daemon", "run", "edit"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
}

TEST_F(CliTest, typelib_prints_the_members_in_slot_order_with_records) {
  const auto result = Pullwire({"typelib", "--library", PULLWIRE_LIBRARY_PATH});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::string& out = result.out;
  // The members' order and types are the library test's; here, how each kind is printed.
  const std::vector<std::string> in_order = {
      "library Pullwire {F2039550-A86B-4C6B-B578-14772836FE02}\n"
      "  helpstring \"Norvik Toolbox: Pullwire\", lcid 1033\n",
      "dual interface _Toolbox {FD69521B-3936-44EA-A0CA-114320514462}",
      "[id  1] Property Get gInfo() As String", "[id  1] Property Let gInfo(value As String)",
      "[id  3] Sub Init()", "[id 13] Property Get Message(ByRef Index As Integer) As MessageType",
      "[id 22] Function Setup(ByRef Module As String, ByRef Data() As String) As Variant",
      "coclass Toolbox {8530A44E-7BA6-46F5-89A3-C9D7227D68A3}",
      "ProgID Pullwire.Toolbox, default interface _Toolbox, creatable", "record VarType",
      "  Use As Boolean",
  };
  EXPECT_TRUE(out.starts_with(in_order[0])) << out;
  std::size_t at = 0;
  for (const std::string& line : in_order) {
    const std::size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << out;
    at = found + line.size();
  }
  std::size_t members = 0;
  for (auto pos = out.find("[id "); pos != std::string::npos; pos = out.find("[id ", pos + 1)) {
    ++members;
  }
  EXPECT_EQ(members, 25u) << "23 members, gInfo and gAuthor with get and put";
}

TEST_F(CliTest, register_and_unregister_twice) {
  for (int i = 0; i < 2; ++i) {
    const auto result = Pullwire({"register", "--library", PULLWIRE_LIBRARY_PATH});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "Registered Pullwire.Toolbox -> " +
                              std::filesystem::absolute(PULLWIRE_LIBRARY_PATH).string() + " in " +
                              env_.registry().string() + "\n");
    const auto entries = Entries(env_.registry());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Canonical(entries[0].library), Canonical(PULLWIRE_LIBRARY_PATH));
  }
  const auto info = Pullwire({"info"});
  EXPECT_NE(info.out.find("Loaded:    registry ("), std::string::npos) << info.out << info.err;
  for (const char* said :
       {"Unregistered Pullwire.Toolbox from ", "Pullwire.Toolbox was not registered in "}) {
    const auto result = Pullwire({"unregister"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, said + env_.registry().string() + "\n");
  }
  EXPECT_TRUE(Entries(env_.registry()).empty());
}

TEST_F(CliTest, daemon_prints_each_message_of_the_plugin_with_timestamp_and_label) {
  const auto socket = env_.runtime() / "norvik" / "nrvd4.IPCdaemon";
  testing::LoadedLibrary library(env_.root());
  const auto result = Daemon("4", SIGTERM, [&] {
    auto box = library.NewToolbox();
    box->put_dInstance("4");
    box->Init();
    box->Execute("other", com::StringArray({}, 1), nullptr);
    box->Execute("PULLWIRE", com::StringArray({}, 1), nullptr);
  }, 2);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "pullwire: serving nrvd4.IPCdaemon at " + socket.string() +
                            " (Ctrl+C stops)\npullwire: nrvd4.IPCdaemon stopped\n");
  const std::string stamp =
      R"(\d{2}-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d{4} \d{2}:\d{2}\.\d{2})";
  const std::string out = testing::ReadFile(out_);
  EXPECT_TRUE(std::regex_match(
      out, std::regex(stamp + R"(  WARN  WARNING: Module \[OTHER\] is unknown!\n)" + stamp +
                      R"(  ERROR  ERROR_PULL-WIRE \[Subscript out of range\]\n)")))
      << out;
  EXPECT_FALSE(std::filesystem::exists(socket)) << "the socket is removed";
}

TEST_F(CliTest, daemon_stops_on_interrupt_and_refuses_a_second_server) {
  CommandResult second;
  const auto first = Daemon("", SIGINT, [&second] { second = Pullwire({"daemon"}); });
  EXPECT_EQ(first.exit_code, 0);
  EXPECT_TRUE(first.err.ends_with("\npullwire: nrvd.IPCdaemon stopped\n")) << first.err;
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.err.find("pullwire: cannot serve nrvd.IPCdaemon"), std::string::npos)
      << second.err;
}

}  // namespace
}  // namespace pullwire
