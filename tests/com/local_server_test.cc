// Local servers: calls through the socket proxy and back, and what happens when the server is
// missing, stale, busy, silent, broken or kept in an unsafe folder.
#include "com/local_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>

#include "com/activation.h"
#include "com/error_info.h"
#include "com/ref_counted.h"
#include "com/wire_protocol.h"
#include "com_test_support.h"

namespace pullwire::com {
namespace {

using ::testing::HasSubstr;
using testing::CallMethod;
using testing::ScopedEnv;
using testing::TakeErrorText;

constexpr const char* kProgId = "nrvd2.IPCdaemon";

// What the daemon objects saw, shared with the test thread.
struct Journal {
  std::mutex mutex;
  std::vector<std::vector<Variant>> messages;
  std::atomic<int> live{0};
};

// SetMessage(type, text, timestamp) is recorded and answered with "ok"; Fail() raises 9.
class Daemon final : public RefCounted<IDispatch> {
 public:
  explicit Daemon(Journal* journal) : journal_(journal) { ++journal_->live; }
  ~Daemon() override { --journal_->live; }

  HRESULT QueryInterface(const Guid& iid, void** object) override {
    return QueryInterfaceFrom(iid, object, {Expose<IDispatch>(this, IID_IDispatch)});
  }
  HRESULT GetIDsOfNames(std::string_view name, DispId* id) override {
    *id = name == "SetMessage" ? 1 : name == "Fail" ? 2 : kDispIdUnknown;
    return *id == kDispIdUnknown ? DISP_E_UNKNOWNNAME : S_OK;
  }
  HRESULT Invoke(DispId id, InvokeKind, std::span<Variant> args, Variant* result) override {
    if (id == 1) {
      std::lock_guard lock(journal_->mutex);
      journal_->messages.emplace_back(args.begin(), args.end());
      *result = Variant("ok");
      return S_OK;
    }
    return RaiseError(kVbSubscriptOutOfRange, "Subscript out of range", kProgId);
  }

 private:
  Journal* journal_;
};

class LocalServerTest : public testing::PrivateRuntime {
 protected:
  void SetUp() override { chmod(folder_.path().c_str(), 0700); }
  void TearDown() override { SetLocalServerTimeout(kDefaultLocalServerTimeout); }

  LocalServer::Factory DaemonFactory() {
    return [this] { return ComPtr<IDispatch>(MakeObject<Daemon>(&journal_)); };
  }
  std::filesystem::path SocketPath() const { return folder_ / "norvik" / kProgId; }

  // A listening socket of our own at the daemon's path, playing a server that misbehaves.
  int RawListener() {
    std::filesystem::create_directories(folder_ / "norvik");
    chmod((folder_ / "norvik").c_str(), 0700);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, SocketPath().c_str());
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(listen(fd, 4), 0);
    return fd;
  }

  Journal journal_;
};

// Bounded wait for the server thread to catch up with something the client did.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 400 && !condition(); ++i) usleep(5000);
  return condition();
}

TEST_F(LocalServerTest, CallsCarryArgumentsResultsAndErrorsAndPostsAreNeverAnswered) {
  LocalServer server(kProgId, DaemonFactory());
  ASSERT_EQ(server.Start(), S_OK) << TakeErrorText();
  EXPECT_EQ(server.socket_path(), SocketPath());

  ComPtr<IDispatch> daemon;
  ASSERT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), S_OK) << TakeErrorText();
  std::vector<Variant> args{Variant(std::int16_t{1}), Variant("WARNING: Module [OTHER] is unknown!"),
                            Variant("04-Mar-2026 09:05.07")};
  Variant result;
  ASSERT_EQ(CallMethod(*daemon.get(), "SetMessage", args, &result), S_OK) << TakeErrorText();
  EXPECT_EQ(result, Variant("ok"));
  EXPECT_EQ(CallMethod(*daemon.get(), "Fail", {}, &result), VbErrorResult(9));
  EXPECT_EQ(GetErrorInfo(), (ErrorRecord{9, "Subscript out of range", kProgId}));
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(CallMethod(*daemon.get(), "NoSuchMember", {}, nullptr), DISP_E_UNKNOWNNAME);
  EXPECT_THAT(TakeErrorText(), HasSubstr("has no member NoSuchMember"));
  EXPECT_EQ(daemon->Invoke(99, InvokeKind::kMethod, {}, nullptr), DISP_E_MEMBERNOTFOUND);
  DispId set_message = kDispIdUnknown;
  ASSERT_EQ(daemon->GetIDsOfNames("SetMessage", &set_message), S_OK);
  EXPECT_EQ(daemon->Invoke(set_message, InvokeKind::kPropertyGet, {}, nullptr), DISP_E_MEMBERNOTFOUND);

  // A post that fails leaves no reply behind to be taken for the next call's.
  auto one_way = daemon.As<IOneWayDispatch>(IID_IOneWayDispatch);
  ASSERT_TRUE(one_way);
  DispId fail = kDispIdUnknown;
  ASSERT_EQ(one_way->GetIDsOfNames("Fail", &fail), S_OK);
  EXPECT_EQ(one_way->Post(fail, {}), S_OK);
  EXPECT_EQ(one_way->Post(set_message, args), S_OK);
  ASSERT_EQ(CallMethod(*daemon.get(), "Fail", {}, &result), VbErrorResult(9));
  EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", args, &result), S_OK) << TakeErrorText();
  EXPECT_EQ(result, Variant("ok"));
  EXPECT_EQ(one_way->Flush(), S_OK) << TakeErrorText();
  {
    std::lock_guard lock(journal_.mutex);
    EXPECT_EQ(journal_.messages, std::vector<std::vector<Variant>>(3, args));  // types survive: int16, not int32
  }

  // One object per connection, released when the proxy goes.
  ComPtr<IDispatch> second;
  ASSERT_EQ(CreateObject(kProgId, IID_IUnknown, second.ReceiveVoid()), S_OK);
  ASSERT_EQ(CallMethod(*second.get(), "SetMessage", args, nullptr), S_OK);
  EXPECT_EQ(journal_.live.load(), 2);
  daemon.Reset();
  one_way.Reset();
  EXPECT_TRUE(Eventually([&] { return journal_.live.load() == 1; }));
  ComPtr<IUnknown> wrong;
  EXPECT_EQ(CreateObject(kProgId, IID_IClassFactory, wrong.ReceiveVoid()), E_NOINTERFACE);

  server.Stop();
  EXPECT_EQ(journal_.live.load(), 0);
  EXPECT_FALSE(std::filesystem::exists(SocketPath()));
  EXPECT_EQ(CallMethod(*second.get(), "SetMessage", args, nullptr), RPC_E_DISCONNECTED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("closed the connection"));
  EXPECT_EQ(second.As<IOneWayDispatch>(IID_IOneWayDispatch)->Flush(), RPC_E_DISCONNECTED);
  GetErrorInfo();
}

TEST_F(LocalServerTest, NoServerFailsCreationAtOnce) {
  ComPtr<IDispatch> daemon;
  EXPECT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), REGDB_E_CLASSNOTREG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("no local server at " + SocketPath().string()));
  EXPECT_FALSE(daemon);
}

TEST_F(LocalServerTest, SilentServerFailsTheCallWithinItsBound) {
  const int listener = RawListener();
  SetLocalServerTimeout(std::chrono::milliseconds(100));
  ComPtr<IDispatch> daemon;
  ASSERT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), S_OK) << TakeErrorText();
  const int accepted = accept(listener, nullptr, nullptr);  // accepted, never answered
  ASSERT_GE(accepted, 0);
  std::vector<Variant> args{Variant(std::int16_t{0}), Variant("Connected!"), Variant("t")};
  EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", args, nullptr), RPC_E_TIMEOUT);
  EXPECT_THAT(TakeErrorText(),
              HasSubstr("call SetMessage on nrvd2.IPCdaemon: timed out waiting for the reply (limit 100 ms)"));
  EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", args, nullptr), RPC_E_DISCONNECTED);
  close(accepted);
  close(listener);
}

TEST_F(LocalServerTest, BrokenRepliesDisconnectTheProxy) {
  const int listener = RawListener();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "closed the connection without a reply"},
      {Frame("{\"v\":1}").substr(0, 6), "in the middle of a reply"},
      {Frame("not json"), "malformed reply from nrvd2.IPCdaemon to SetMessage: not valid JSON"},
      {std::string("\x7f\xff\xff\xff", 4), "exceeds the limit"},
  };
  for (const auto& [reply, reason] : cases) {
    ComPtr<IDispatch> daemon;
    ASSERT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), S_OK);
    const int accepted = accept(listener, nullptr, nullptr);
    ASSERT_EQ(send(accepted, reply.data(), reply.size(), MSG_NOSIGNAL), static_cast<ssize_t>(reply.size()));
    if (reply.size() < 7) shutdown(accepted, SHUT_WR);
    EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", {}, nullptr), RPC_E_DISCONNECTED);
    EXPECT_THAT(TakeErrorText(), HasSubstr(reason));
    close(accepted);
  }
  close(listener);
}

TEST_F(LocalServerTest, ReplySplitAcrossWritesIsReassembled) {
  const int listener = RawListener();
  ComPtr<IDispatch> daemon;
  ASSERT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), S_OK);
  const int accepted = accept(listener, nullptr, nullptr);
  const std::string reply = Frame(EncodeReply(InvokeReply{S_OK, Variant("late"), std::nullopt}));
  std::thread writer([&] {
    char request[4096];
    [[maybe_unused]] ssize_t n = recv(accepted, request, sizeof(request), 0);
    send(accepted, reply.data(), 3, MSG_NOSIGNAL);
    usleep(20000);
    send(accepted, reply.data() + 3, reply.size() - 3, MSG_NOSIGNAL);
  });
  Variant result;
  EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", {}, &result), S_OK) << TakeErrorText();
  EXPECT_EQ(result, Variant("late"));
  writer.join();
  close(accepted);
  close(listener);
}

TEST_F(LocalServerTest, ServerClosesAConnectionWhoseFrameItCannotRead) {
  LocalServer server(kProgId, DaemonFactory());
  ASSERT_EQ(server.Start(), S_OK) << TakeErrorText();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {Frame(R"({"v":2,"op":"post","member":"SetMessage"})"), "malformed request"},  // no args
      {std::string("\x7f\xff\xff\xff", 4), "oversized frame"},
  };
  for (const auto& [frame, what] : cases) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, SocketPath().c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    const std::string sync = Frame(EncodeRequest({RequestOp::kSync, "", {}}));
    const std::string bytes = frame + sync;
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    char buffer[4096];
    EXPECT_EQ(recv(fd, buffer, sizeof(buffer), 0), 0) << what << ": closed, the sync after it unanswered";
    close(fd);
  }
}

TEST_F(LocalServerTest, StaleSocketIsReplacedAndALiveOneRefused) {
  close(RawListener());  // the file stays behind, as after a crash
  ComPtr<IDispatch> daemon;
  EXPECT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_THAT(TakeErrorText(), HasSubstr("Connection refused"));

  LocalServer first(kProgId, DaemonFactory());
  ASSERT_EQ(first.Start(), S_OK) << TakeErrorText();
  ASSERT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), S_OK);

  LocalServer second(kProgId, DaemonFactory());
  EXPECT_EQ(second.Start(), E_ACCESSDENIED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("another server already serves nrvd2.IPCdaemon on " + SocketPath().string()));
  EXPECT_EQ(first.Start(), E_UNEXPECTED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("already serving"));
  second.Stop();  // never started: nothing to do, and the first keeps its socket
  EXPECT_EQ(daemon.As<IOneWayDispatch>(IID_IOneWayDispatch)->Flush(), S_OK);

  first.Stop();
  std::filesystem::remove(SocketPath());
  std::ofstream(SocketPath()) << "not a socket";
  EXPECT_EQ(second.Start(), E_ACCESSDENIED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("exists and is not a socket"));
}

TEST_F(LocalServerTest, UnsafeRuntimeFolderIsRefused) {
  ASSERT_EQ(chmod(folder_.path().c_str(), 0755), 0);
  LocalServer server(kProgId, DaemonFactory());
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

  if (geteuid() != 0) GTEST_SKIP() << "handing a folder to another user needs root";
  std::filesystem::create_directory(folder_ / "norvik", folder_.path());
  ASSERT_EQ(chmod((folder_ / "norvik").c_str(), 0700), 0);
  ASSERT_EQ(chown((folder_ / "norvik").c_str(), 65534, 65534), 0);
  EXPECT_EQ(server.Start(), E_ACCESSDENIED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("is owned by user 65534"));
}

TEST_F(LocalServerTest, FallbackFolderIsPerUserUnderTmp) {
  ScopedEnv no_runtime("XDG_RUNTIME_DIR", std::nullopt);
  std::filesystem::path folder;
  const HRESULT hr = LocalServerFolder(/*create=*/false, &folder);
  EXPECT_EQ(folder, std::filesystem::path("/tmp/norvik-" + std::to_string(geteuid())) / "norvik");
  EXPECT_TRUE(Succeeded(hr) || hr == E_ACCESSDENIED);
  std::filesystem::path socket;
  EXPECT_EQ(LocalServerSocketPath("../evil", false, &socket), E_INVALIDARG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("cannot name a local server"));
}

LocalServer* g_signalled_server = nullptr;
void StopOnSignal(int) { g_signalled_server->RequestStop(); }

TEST_F(LocalServerTest, StopsFromASignalHandlerOrAnotherThread) {
  LocalServer server(kProgId, DaemonFactory());
  ASSERT_EQ(server.Start(), S_OK) << TakeErrorText();
  g_signalled_server = &server;
  struct sigaction action {};
  action.sa_handler = StopOnSignal;
  struct sigaction old {};
  sigaction(SIGUSR1, &action, &old);
  raise(SIGUSR1);
  server.Wait();
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_FALSE(server.running());
  EXPECT_FALSE(std::filesystem::exists(SocketPath()));

  ASSERT_EQ(server.Start(), S_OK) << TakeErrorText();  // a stopped server may start again
  std::thread stopper([&] { server.Stop(); });
  server.Wait();
  stopper.join();
  EXPECT_FALSE(server.running());
}

}  // namespace
}  // namespace pullwire::com
