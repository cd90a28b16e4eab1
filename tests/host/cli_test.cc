// The `pullwire` program as a user runs it: info, typelib, register/unregister and the message
// daemon receiving the plug-in's messages.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "com/activation.h"
#include "com/com_ptr.h"
#include "com/error_info.h"
#include "com/late_binding.h"
#include "com/registry.h"
#include "private_environment.h"
#include "pullwire/toolbox.h"
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

class CliTest : public ::testing::Test {
 protected:
  // Runs `pullwire daemon` (instance `instance`), calls `while_serving` once it takes calls, then
  // sends `signal` once `lines` lines are printed. Its stdout goes to `out_`.
  CommandResult Daemon(const std::string& instance, int signal,
                       const std::function<void()>& while_serving, std::size_t lines) {
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

// `info` loads the library named, else the registered one, else the one beside the program.
TEST_F(CliTest, info_register_and_unregister_twice) {
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
  const std::string library = std::filesystem::canonical(PULLWIRE_LIBRARY_PATH).string();
  const auto beside = Pullwire({"info"});
  EXPECT_NE(beside.out.find("Loaded:    " + library + "\n"), std::string::npos) << beside.err;
  for (int i = 0; i < 2; ++i) {
    const auto registered = Pullwire({"register", "--library", PULLWIRE_LIBRARY_PATH});
    ASSERT_EQ(registered.exit_code, 0) << registered.err;
    EXPECT_EQ(registered.out, "Registered Pullwire.Toolbox -> " +
                                  std::filesystem::absolute(PULLWIRE_LIBRARY_PATH).string() +
                                  " in " + env_.registry().string() + "\n");
    std::vector<com::ClassRegistration> entries;
    ASSERT_EQ(com::Registry(env_.registry()).List(&entries), com::S_OK);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], (com::ClassRegistration{"Pullwire.Toolbox", CLSID_Toolbox, library,
                                                  "Norvik Toolbox: Pullwire"}));
  }
  const auto info = Pullwire({"info"});
  EXPECT_NE(info.out.find("Loaded:    registry ("), std::string::npos) << info.out << info.err;
  for (const char* said :
       {"Unregistered Pullwire.Toolbox from ", "Pullwire.Toolbox was not registered in "}) {
    const auto unregistered = Pullwire({"unregister"});
    ASSERT_EQ(unregistered.exit_code, 0) << unregistered.err;
    EXPECT_EQ(unregistered.out, said + env_.registry().string() + "\n");
  }
}

TEST_F(CliTest, errors_say_what_failed_with_exit_1_usage_exits_2_and_help_0) {
  const std::string gone = (env_.root() / "nothing.so").string();
  const std::string usage = "A subcommand is required\nRun with --help for more information.\n";
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {  // args, exit, in stderr
      {{"--library", gone, "info"}, 1, "pullwire: cannot create Pullwire.Toolbox from " + gone +
       ": cannot load server library: " + gone + ": cannot open shared object file"},
      {{"typelib", "--library", "/lib/x86_64-linux-gnu/libc.so.6"}, 1,
       "libc.so.6 is not a server library: it does not export DllGetClassObject"},
      {{}, 2, usage}, {{"frobnicate"}, 2, usage}, {{"--help"}, 0, ""},
  };
  for (const auto& [args, exit_code, in_err] : cases) {
    const auto result = Pullwire(args);
    EXPECT_EQ(result.exit_code, exit_code) << in_err;
    EXPECT_NE(result.err.find(in_err), std::string::npos) << result.err;
    EXPECT_TRUE(exit_code != 1 || result.out.empty()) << result.out;
  }
  const auto help = Pullwire({"--help"});
  for (const char* name : {"info", "typelib", "register", "unregister", "daemon", "run", "edit"}) {
    EXPECT_NE(help.out.find(name), std::string::npos) << name;
  }
}

// How the library, each kind of member, the class and the records print; the members' order and
// types are the library test's.
TEST_F(CliTest, typelib_prints_the_library_its_members_class_and_records) {
  const auto result = Pullwire({"typelib", "--library", PULLWIRE_LIBRARY_PATH});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  std::size_t at = 0;
  for (const char* lines : {
           "library Pullwire {F2039550-A86B-4C6B-B578-14772836FE02}\n"
           "  helpstring \"Norvik Toolbox: Pullwire\", lcid 1033\n\n"
           "dual interface _Toolbox {FD69521B-3936-44EA-A0CA-114320514462}\n"
           "  [id  1] Property Get gInfo() As String\n",
           "  [id  1] Property Let gInfo(value As String)\n", "  [id  3] Sub Init()\n",
           "  [id 13] Property Get Message(ByRef Index As Integer) As MessageType\n",
           "  [id 23] Function Execute(ByRef Module As String, ByRef Data() As String)"
           " As Variant\n\ncoclass Toolbox {8530A44E-7BA6-46F5-89A3-C9D7227D68A3}\n"
           "  ProgID Pullwire.Toolbox, default interface _Toolbox, creatable\n\n"
           "record VarType {EDC11568-E85F-4500-9FAE-23AB5815E940}\n",
           "  Use As Boolean\n  Value As String\n",
           "  Timestamp As String\n  Message As String\n  Mtype As Integer\n"}) {
    at = result.out.find(lines, at);
    ASSERT_NE(at, std::string::npos) << "missing or out of order: " << lines << "\n" << result.out;
  }
  EXPECT_TRUE(result.out.starts_with("library ") && result.out.ends_with("Integer\n"));
}

// Each message the plug-in sends, with its timestamp and label, and one of a type no plug-in of
// ours sends; calls that do not fit SetMessage are refused, and so is a second daemon.
TEST_F(CliTest, daemon_prints_each_message_until_terminated_or_interrupted) {
  const std::string stamp =
      R"(\d{2}-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d{4} \d{2}:\d{2}\.\d{2})";
  const std::regex printed(stamp + R"(  WARN  WARNING: Module \[OTHER\] is unknown!\n)" + stamp +
                           R"(  ERROR  ERROR_PULL-WIRE \[Subscript out of range\]\n)" +
                           "time  TYPE7  text\n");
  const auto kMethod = com::InvokeKind::kMethod;
  for (const auto& [instance, signal] : {std::pair{"4", SIGTERM}, {"", SIGINT}}) {
    const std::string prog_id = "nrvd" + std::string(instance) + ".IPCdaemon";
    const auto socket = env_.runtime() / "norvik" / prog_id;
    CommandResult second;
    const auto result = Daemon(instance, signal, [&] {
      second = Pullwire({"daemon", "--instance", instance});
      com::ComPtr<_Toolbox> box;
      ASSERT_EQ(com::CreateInstanceFromLibrary(PULLWIRE_LIBRARY_PATH, CLSID_Toolbox, IID__Toolbox,
                                               box.ReceiveVoid()), com::S_OK);
      box->put_dInstance(instance);
      box->Init();
      box->Execute("other", com::StringArray({}, 1), nullptr);
      box->Execute("PULLWIRE", com::StringArray({}, 1), nullptr);
      com::ComPtr<com::IDispatch> client;
      ASSERT_EQ(com::CreateObject(prog_id, com::IID_IDispatch, client.ReceiveVoid()), com::S_OK);
      std::vector<com::Variant> args = {std::int16_t{0}, "text", "time"};
      EXPECT_EQ(com::InvokeByName(*client.get(), "GetMessage", kMethod, args, nullptr),
                com::DISP_E_UNKNOWNNAME);
      // A host's 32-bit type is taken when it fits 16 bits.
      const std::pair<std::vector<com::Variant>, com::HRESULT> calls[] = {
          {{std::int16_t{0}, "text"}, com::DISP_E_BADPARAMCOUNT},
          {{"0", "text", "time"}, com::DISP_E_TYPEMISMATCH},
          {{std::int32_t{70000}, "text", "time"}, com::DISP_E_TYPEMISMATCH},
          {{std::int32_t{7}, "text", "time"}, com::S_OK}};
      for (std::size_t i = 0; i < std::size(calls); ++i) {
        auto call = calls[i].first;
        EXPECT_EQ(com::InvokeByName(*client.get(), "SetMessage", kMethod, call, nullptr),
                  calls[i].second) << "call " << i;
      }
    }, 3);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "pullwire: serving " + prog_id + " at " + socket.string() +
                              " (Ctrl+C stops)\npullwire: " + prog_id + " stopped\n");
    const std::string out = testing::ReadFile(out_);
    EXPECT_TRUE(std::regex_match(out, printed)) << out;
    EXPECT_EQ(second.exit_code, 1);
    EXPECT_NE(second.err.find("pullwire: cannot serve " + prog_id), std::string::npos)
        << second.err;
    EXPECT_FALSE(std::filesystem::exists(socket)) << "the socket is removed";
  }
  com::GetErrorInfo();
}

}  // namespace
}  // namespace pullwire
