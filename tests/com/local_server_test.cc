// Local servers: calls through the socket proxy and back, and what happens when the server is
// missing, stale, busy, silent, broken, of another version or kept in an unsafe folder.
#include "com/local_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "com/activation.h"
#include "com/late_binding.h"
#include "com/wire_protocol.h"
#include "tests/plugin/recording_daemon.h"
#include "tests/support/test_files.h"

namespace pullwire::com {
namespace {

using ::testing::HasSubstr;
using pullwire::testing::RawSocket;
using pullwire::testing::RecordingDaemon;
using pullwire::testing::ScopedEnv;

constexpr const char* kProgId = "nrvd2.IPCdaemon";

HRESULT CallMethod(IDispatch& object, std::string_view name, std::vector<Variant> args, Variant* result) {
  return InvokeByName(object, name, InvokeKind::kMethod, args, result);
}

std::string TakeErrorText() {
  const auto record = GetErrorInfo();
  return record ? record->description : "<no record>";
}

// The test's own 0700 run-time folder and registry file.
class LocalServerTest : public ::testing::Test {
 protected:
  ~LocalServerTest() override { SetLocalServerTimeout(kDefaultLocalServerTimeout); }

  std::filesystem::path SocketPath() const { return folder_ / "norvik" / kProgId; }
  ComPtr<IDispatch> Connect() {
    ComPtr<IDispatch> daemon;
    EXPECT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), S_OK) << TakeErrorText();
    return daemon;
  }

  pullwire::testing::TempDir folder_{"com"};
  ScopedEnv registry_{"NORVIK_REGISTRY", (folder_ / "registry.json").string()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", folder_.path().string()};
};

TEST_F(LocalServerTest, CallsCarryArgumentsResultsAndErrorsAndPostsAreNeverAnswered) {
  RecordingDaemon server(kProgId);
  ASSERT_EQ(server.Start(), S_OK) << TakeErrorText();
  ComPtr<IDispatch> daemon = Connect();
  std::vector<Variant> args{std::int16_t{1}, "WARNING: Module [OTHER] is unknown!", "04-Mar-2026 09:05.07"};
  Variant result;
  ASSERT_EQ(CallMethod(*daemon.get(), "SetMessage", args, &result), S_OK) << TakeErrorText();
  EXPECT_EQ(result, Variant("ok"));
  EXPECT_EQ(CallMethod(*daemon.get(), "NoSuchMember", {}, nullptr), DISP_E_UNKNOWNNAME);
  EXPECT_THAT(TakeErrorText(), HasSubstr("has no member NoSuchMember"));
  EXPECT_EQ(daemon->Invoke(99, InvokeKind::kMethod, {}, nullptr), DISP_E_MEMBERNOTFOUND);

  // A post that fails leaves no reply behind to be taken for the next call's.
  auto one_way = daemon.As<IOneWayDispatch>(IID_IOneWayDispatch);
  DispId set_message = kDispIdUnknown;
  ASSERT_EQ(one_way->GetIDsOfNames("SetMessage", &set_message), S_OK);
  server.log().fail_set_message = true;
  EXPECT_EQ(one_way->Post(set_message, args), S_OK);
  EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", args, &result), VbErrorResult(5));
  EXPECT_EQ(GetErrorInfo(), (ErrorRecord{5, "Invalid procedure call or argument", "nrvd.IPCdaemon"}));
  EXPECT_TRUE(result.IsEmpty());
  server.log().fail_set_message = false;
  EXPECT_EQ(one_way->Post(set_message, args), S_OK);
  EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", args, &result), S_OK) << TakeErrorText();
  EXPECT_EQ(result, Variant("ok"));
  EXPECT_EQ(one_way->Flush(), S_OK) << TakeErrorText();
  const auto calls = server.log().Calls();
  ASSERT_EQ(calls.size(), 5u);
  for (const auto& call : calls) EXPECT_EQ(call.args, args) << "types survive: int16, not int32";

  // One object per connection, released when the proxy goes.
  ComPtr<IDispatch> second;
  ASSERT_EQ(CreateObject(kProgId, IID_IUnknown, second.ReceiveVoid()), S_OK);
  ASSERT_EQ(CallMethod(*second.get(), "SetMessage", args, nullptr), S_OK);
  EXPECT_EQ(server.log().connections, 2);
  daemon.Reset();
  one_way.Reset();
  EXPECT_TRUE(server.log().WaitForReleases(1));
  ComPtr<IUnknown> wrong;
  EXPECT_EQ(CreateObject(kProgId, IID_IClassFactory, wrong.ReceiveVoid()), E_NOINTERFACE);

  // The daemon gone: the proxy says so and stays disconnected.
  server.Stop();
  EXPECT_EQ(server.log().releases, 2);
  EXPECT_FALSE(std::filesystem::exists(SocketPath()));
  EXPECT_EQ(CallMethod(*second.get(), "SetMessage", args, nullptr), RPC_E_DISCONNECTED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("closed the connection"));
  EXPECT_EQ(second.As<IOneWayDispatch>(IID_IOneWayDispatch)->Flush(), RPC_E_DISCONNECTED);
  GetErrorInfo();
}

// A silent or broken server, or one of another version: the call fails with the reason, and the
// proxy gives the connection up. A reply in pieces is no fault.
TEST_F(LocalServerTest, BrokenOrMissingRepliesDisconnectTheProxy) {
  RawSocket listener(kProgId, /*listening=*/true);
  {  // A reply that arrives in pieces is taken whole.
    ComPtr<IDispatch> daemon = Connect();
    const int accepted = accept(listener.fd(), nullptr, nullptr);
    const std::string reply = Frame(EncodeReply(InvokeReply{S_OK, Variant("late"), std::nullopt}));
    std::thread writer([&] {
      send(accepted, reply.data(), 3, MSG_NOSIGNAL);
      usleep(20000);
      send(accepted, reply.data() + 3, reply.size() - 3, MSG_NOSIGNAL);
    });
    Variant result;
    EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", {}, &result), S_OK) << TakeErrorText();
    EXPECT_EQ(result, Variant("late"));
    writer.join();
    close(accepted);
  }
  SetLocalServerTimeout(std::chrono::milliseconds(100));
  const struct {
    std::string reply;
    bool close;
    HRESULT hr;
    std::string reason;
  } cases[] = {
      {"", false, RPC_E_TIMEOUT, "call SetMessage on nrvd2.IPCdaemon: timed out waiting for the reply (limit 100 ms)"},
      {"", true, RPC_E_DISCONNECTED, "closed the connection without a reply"},
      {Frame("{\"v\":2}").substr(0, 6), true, RPC_E_DISCONNECTED, "in the middle of a reply"},
      {Frame(R"({"v":1,"hresult":0})"), false, RPC_E_DISCONNECTED,
       "malformed reply from nrvd2.IPCdaemon to SetMessage: unsupported protocol version 1"},
      {std::string("\x7f\xff\xff\xff", 4), false, RPC_E_DISCONNECTED, "exceeds the limit"},
  };
  for (const auto& c : cases) {
    ComPtr<IDispatch> daemon = Connect();
    const int accepted = accept(listener.fd(), nullptr, nullptr);
    ASSERT_EQ(send(accepted, c.reply.data(), c.reply.size(), MSG_NOSIGNAL), static_cast<ssize_t>(c.reply.size()));
    if (c.close) shutdown(accepted, SHUT_WR);
    EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", {}, nullptr), c.hr) << c.reason;
    EXPECT_THAT(TakeErrorText(), HasSubstr(c.reason));
    EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", {}, nullptr), RPC_E_DISCONNECTED) << c.reason;
    close(accepted);
  }
}

// A client of another version or a broken one: the server closes that connection, unanswered.
TEST_F(LocalServerTest, ServerClosesAConnectionWhoseFrameItCannotRead) {
  RecordingDaemon server(kProgId);
  ASSERT_EQ(server.Start(), S_OK) << TakeErrorText();
  for (const std::string& frame :
       {Frame(R"({"v":1,"op":"call","member":"SetMessage","args":[]})"), std::string("\x7f\xff\xff\xff", 4)}) {
    RawSocket client(kProgId, /*listening=*/false);
    const std::string bytes = frame + Frame(EncodeRequest({RequestOp::kSync, "", {}}));
    ASSERT_EQ(send(client.fd(), bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    char buffer[4096];
    EXPECT_EQ(recv(client.fd(), buffer, sizeof(buffer), 0), 0) << frame << ": closed, the sync after it unanswered";
  }
  EXPECT_TRUE(server.log().Calls().empty());
}

TEST_F(LocalServerTest, NoServerOrAStaleSocketFailsCreationAndALiveServerIsNotReplaced) {
  ComPtr<IDispatch> daemon;
  EXPECT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), REGDB_E_CLASSNOTREG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("no local server at " + SocketPath().string()));
  { RawSocket crashed(kProgId, /*listening=*/true); }  // the file stays behind, as after a crash
  EXPECT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_THAT(TakeErrorText(), HasSubstr("Connection refused"));

  RecordingDaemon first(kProgId);
  ASSERT_EQ(first.Start(), S_OK) << TakeErrorText();
  daemon = Connect();
  RecordingDaemon second(kProgId);
  EXPECT_EQ(second.Start(), E_ACCESSDENIED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("another server already serves nrvd2.IPCdaemon on " + SocketPath().string()));
  EXPECT_EQ(first.Start(), E_UNEXPECTED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("already serving"));
  second.Stop();  // never started: nothing to do, and the first keeps its socket
  EXPECT_EQ(daemon.As<IOneWayDispatch>(IID_IOneWayDispatch)->Flush(), S_OK);

  first.Stop();
  std::ofstream(SocketPath()) << "not a socket";
  EXPECT_EQ(second.Start(), E_ACCESSDENIED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("exists and is not a socket"));
}

// Whoever controls the folder could pose as any server. Without XDG_RUNTIME_DIR the folder is the
// user's own under /tmp.
TEST_F(LocalServerTest, UnsafeRuntimeFolderIsRefused) {
  ASSERT_EQ(chmod(folder_.path().c_str(), 0755), 0);
  RecordingDaemon server(kProgId);
  EXPECT_EQ(server.Start(), E_ACCESSDENIED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("folder " + folder_.path().string() + " is open to other users (mode 0755)"));
  ComPtr<IDispatch> daemon;
  EXPECT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), E_ACCESSDENIED);

  ASSERT_EQ(chmod(folder_.path().c_str(), 0700), 0);
  std::filesystem::create_directory(folder_ / "elsewhere");
  std::filesystem::create_directory_symlink(folder_ / "elsewhere", folder_ / "norvik");
  EXPECT_EQ(server.Start(), E_ACCESSDENIED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("norvik is not a directory"));
  std::filesystem::remove(folder_ / "norvik");
  std::filesystem::path path;
  EXPECT_EQ(LocalServerSocketPath("../evil", false, &path), E_INVALIDARG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("cannot name a local server"));
  {
    ScopedEnv no_runtime("XDG_RUNTIME_DIR", std::nullopt);
    const HRESULT hr = LocalServerFolder(/*create=*/false, &path);
    EXPECT_EQ(path, std::filesystem::path("/tmp/norvik-" + std::to_string(geteuid())) / "norvik");
    EXPECT_TRUE(Succeeded(hr) || hr == E_ACCESSDENIED);
  }

  if (geteuid() != 0) GTEST_SKIP() << "handing a folder to another user needs root";
  std::filesystem::create_directory(folder_ / "norvik", folder_.path());
  ASSERT_EQ(chmod((folder_ / "norvik").c_str(), 0700), 0);
  ASSERT_EQ(chown((folder_ / "norvik").c_str(), 65534, 65534), 0);
  EXPECT_EQ(server.Start(), E_ACCESSDENIED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("is owned by user 65534"));
}

}  // namespace
}  // namespace pullwire::com
