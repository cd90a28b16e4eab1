// Local servers: calls through the socket proxy and back, and what happens when the server is
// missing, stale, busy, silent, broken, of another version or kept in an unsafe folder; the wire
// format with every value type and what it refuses to carry; exceptions never crossing a call.
#include "com/local_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <new>
#include <stdexcept>

#include "com/activation.h"
#include "com/late_binding.h"
#include "com/ref_counted.h"
#include "com/runtime_folder.h"
#include "com/wire_protocol.h"
#include "tests/support/test_files.h"

namespace pullwire::com {
namespace {

using ::testing::HasSubstr;
using pullwire::testing::ScopedEnv;

constexpr const char* kProgId = "nrvd2.IPCdaemon";

// Every SetMessage call's arguments as they arrived, shared by the objects of one server.
struct Log {
  std::mutex mutex;
  std::vector<std::vector<Variant>> calls;
  std::atomic<bool> fail{false};  // SetMessage raises 5 after recording the call
};

// One object per connection, holding the log: SetMessage is recorded and answers "ok".
class Recorder final : public RefCounted<IDispatch> {
 public:
  explicit Recorder(std::shared_ptr<Log> log) : log_(std::move(log)) {}
  HRESULT QueryInterface(const Guid& iid, void** object) override {
    return QueryInterfaceFrom(iid, object, {Expose<IDispatch>(this, IID_IDispatch)});
  }
  HRESULT GetIDsOfNames(std::string_view name, DispId* id) override {
    *id = name == "SetMessage" ? 1 : kDispIdUnknown;
    return *id == 1 ? S_OK : DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DispId, InvokeKind, std::span<Variant> args, Variant* result) override {
    std::lock_guard lock(log_->mutex);
    log_->calls.emplace_back(args.begin(), args.end());
    if (log_->fail) return RaiseError(5, "Invalid procedure call or argument", "nrvd.IPCdaemon");
    if (result != nullptr) *result = Variant("ok");
    return S_OK;
  }

 private:
  std::shared_ptr<Log> log_;
};

// Serves kProgId with Recorders; `log`'s use count is 2 plus the objects alive.
struct RecordingServer : LocalServer {
  explicit RecordingServer(std::shared_ptr<Log> shared = std::make_shared<Log>())
      : LocalServer(kProgId, [shared] { return ComPtr<IDispatch>::Owned(new Recorder(shared)); }),
        log(shared) {}
  std::shared_ptr<Log> log;
};

// A plain socket at kProgId's path, listening (a server that never answers by itself; the test
// may accept and play a broken one) or connected.
int RawSocket(bool listening) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  std::filesystem::path path;
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  EXPECT_EQ(LocalServerSocketPath(kProgId, true, &path), S_OK);
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  const auto* named = reinterpret_cast<sockaddr*>(&address);
  EXPECT_EQ(listening ? bind(fd, named, sizeof(address)) | listen(fd, 8)
                      : connect(fd, named, sizeof(address)), 0) << path;
  return fd;
}

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
  RecordingServer server;
  Log& log = *server.log;
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
  log.fail = true;
  EXPECT_EQ(one_way->Post(set_message, args), S_OK);
  EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", args, &result), VbErrorResult(5));
  EXPECT_EQ(GetErrorInfo(), (ErrorRecord{5, "Invalid procedure call or argument", "nrvd.IPCdaemon"}));
  EXPECT_TRUE(result.IsEmpty());
  log.fail = false;
  EXPECT_EQ(one_way->Post(set_message, args), S_OK);
  EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", args, &result), S_OK) << TakeErrorText();
  EXPECT_EQ(result, Variant("ok"));
  EXPECT_EQ(one_way->Flush(), S_OK) << TakeErrorText();
  {
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.calls, std::vector(5, args)) << "types survive: int16, not int32";
  }

  // One object per connection, released when the proxy goes.
  ComPtr<IDispatch> second;
  ASSERT_EQ(CreateObject(kProgId, IID_IUnknown, second.ReceiveVoid()), S_OK);
  ASSERT_EQ(CallMethod(*second.get(), "SetMessage", args, nullptr), S_OK);
  EXPECT_EQ(server.log.use_count(), 4) << "two objects";
  daemon.Reset();
  one_way.Reset();
  for (int i = 0; i < 500 && server.log.use_count() > 3; ++i) usleep(10000);
  EXPECT_EQ(server.log.use_count(), 3) << "the first object is released";
  ComPtr<IUnknown> wrong;
  EXPECT_EQ(CreateObject(kProgId, IID_IClassFactory, wrong.ReceiveVoid()), E_NOINTERFACE);

  // The daemon gone: the proxy says so and stays disconnected.
  server.Stop();
  EXPECT_EQ(server.log.use_count(), 2);
  EXPECT_FALSE(std::filesystem::exists(SocketPath()));
  EXPECT_EQ(CallMethod(*second.get(), "SetMessage", args, nullptr), RPC_E_DISCONNECTED);
  EXPECT_THAT(TakeErrorText(), HasSubstr("closed the connection"));
  EXPECT_EQ(second.As<IOneWayDispatch>(IID_IOneWayDispatch)->Flush(), RPC_E_DISCONNECTED);
  GetErrorInfo();
}

// A silent or broken server, or one of another version: the call fails with the reason, and the
// proxy gives the connection up.
TEST_F(LocalServerTest, BrokenOrMissingRepliesDisconnectTheProxy) {
  const int listener = RawSocket(/*listening=*/true);
  SetLocalServerTimeout(std::chrono::milliseconds(100));
  const std::tuple<std::string, bool, HRESULT, std::string> cases[] = {  // reply, closed, result
      {"", false, RPC_E_TIMEOUT, "call SetMessage on nrvd2.IPCdaemon: timed out waiting for the reply (limit 100 ms)"},
      {"", true, RPC_E_DISCONNECTED, "closed the connection without a reply"},
      {Frame("{\"v\":2}").substr(0, 6), true, RPC_E_DISCONNECTED, "in the middle of a reply"},
      {Frame(R"({"v":1,"hresult":0})"), false, RPC_E_DISCONNECTED,
       "malformed reply from nrvd2.IPCdaemon to SetMessage: unsupported protocol version 1"},
      {std::string("\x7f\xff\xff\xff", 4), false, RPC_E_DISCONNECTED, "exceeds the limit"},
  };
  for (const auto& [reply, closed, hr, reason] : cases) {
    ComPtr<IDispatch> daemon = Connect();
    const int accepted = accept(listener, nullptr, nullptr);
    ASSERT_EQ(send(accepted, reply.data(), reply.size(), MSG_NOSIGNAL), std::ssize(reply));
    if (closed) shutdown(accepted, SHUT_WR);
    EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", {}, nullptr), hr) << reason;
    EXPECT_THAT(TakeErrorText(), HasSubstr(reason));
    EXPECT_EQ(CallMethod(*daemon.get(), "SetMessage", {}, nullptr), RPC_E_DISCONNECTED) << reason;
    close(accepted);
  }
  close(listener);
}

// A client of another version or a broken one: the server closes that connection, unanswered.
TEST_F(LocalServerTest, ServerClosesAConnectionWhoseFrameItCannotRead) {
  RecordingServer server;
  ASSERT_EQ(server.Start(), S_OK) << TakeErrorText();
  for (const std::string& frame :
       {Frame(R"({"v":1,"op":"call","member":"SetMessage","args":[]})"), std::string("\x7f\xff\xff\xff", 4)}) {
    const int client = RawSocket(/*listening=*/false);
    const std::string bytes = frame + Frame(EncodeRequest({RequestOp::kSync, "", {}}));
    ASSERT_EQ(send(client, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    char buffer[4096];
    EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), 0) << frame << ": closed, the sync after it unanswered";
    close(client);
  }
  EXPECT_TRUE(server.log->calls.empty());
}

TEST_F(LocalServerTest, NoServerOrAStaleSocketFailsCreationAndALiveServerIsNotReplaced) {
  ComPtr<IDispatch> daemon;
  EXPECT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), REGDB_E_CLASSNOTREG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("no local server at " + SocketPath().string()));
  close(RawSocket(/*listening=*/true));  // the file stays behind, as after a crash
  EXPECT_EQ(CreateObject(kProgId, IID_IDispatch, daemon.ReceiveVoid()), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_THAT(TakeErrorText(), HasSubstr("Connection refused"));

  RecordingServer first;
  ASSERT_EQ(first.Start(), S_OK) << TakeErrorText();
  daemon = Connect();
  RecordingServer second;
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
  RecordingServer server;
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

std::string ProtocolErrorOf(auto&& code) {
  try {
    code();
  } catch (const ProtocolError& e) {
    return e.what();
  }
  return "<no error>";
}

TEST(WireMessages, RequestsAndRepliesRoundTripWithEveryValueType) {
  const std::vector<Variant> values = {
      Variant(), kVariantTrue, kVariantFalse, VariantBool{1},  // a non-canonical True keeps its bits
      std::int16_t{SHRT_MIN}, std::int16_t{SHRT_MAX}, std::int32_t{INT_MIN}, std::int32_t{INT_MAX}, "",
      "Grüße \"quoted\" \\ \n tab\t € 𝄞", std::string("caf\xe9 \xff\x00z", 8),  // Latin-1 and a NUL
      "\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82",  // overlong, surrogate, beyond U+10FFFF, cut
  };
  const std::vector<InvokeRequest> requests = {
      {RequestOp::kCall, "SetMessage", values}, {RequestOp::kPost, "SetMessage", {std::int16_t{7}, "\xe9"}},
      {RequestOp::kCall, "Version", {}}, {RequestOp::kSync, "", {}}};
  for (const InvokeRequest& request : requests) {
    EXPECT_EQ(DecodeRequest(EncodeRequest(request)), request) << EncodeRequest(request);
  }
  EXPECT_EQ(EncodeRequest(requests[3]), R"({"op":"sync","v":2})");
  EXPECT_THAT(EncodeRequest(requests[1]), HasSubstr(R"({"type":"int16","value":7},{"hex":"e9","type":"string"})"));
  for (const Variant& value : values) {
    const InvokeReply ok{S_OK, value, std::nullopt};
    EXPECT_EQ(DecodeReply(EncodeReply(ok)), ok) << EncodeReply(ok);
  }
  for (const InvokeReply& failed : {InvokeReply{VbErrorResult(9), {}, ErrorRecord{9, "Subscript out of range", "X"}},
                                    InvokeReply{E_FAIL, {}, std::nullopt}}) {
    EXPECT_EQ(DecodeReply(EncodeReply(failed)), failed);
  }
  // What the wire cannot carry is refused before anything is sent.
  const std::pair<Variant, const char*> refused[] = {
      {StringArray({"a"}, 1), "a string array does not cross to a local server"},
      {Record{"VarType", {}}, "a record does not cross to a local server"},
      {std::string(kMaxFrameBytes, 'x'), "exceeds the limit of 1048576"}};
  for (const auto& [value, reason] : refused) {
    EXPECT_THAT(ProtocolErrorOf([&] { EncodeRequest({RequestOp::kPost, "SetMessage", {value}}); }), HasSubstr(reason));
  }
  EXPECT_THAT(ProtocolErrorOf([] { Frame(std::string(kMaxFrameBytes + 1, 'x')); }), HasSubstr("exceeds the limit"));
  // An error text quoting a Latin-1 file name must not make the reply unsendable.
  const InvokeReply latin1{E_FAIL, Variant(), ErrorRecord{E_FAIL, "no caf\xe9", "X"}};
  EXPECT_EQ(DecodeReply(EncodeReply(latin1)).error->description, "no caf\uFFFD");
}

TEST(GuardedCall, TurnsExceptionsIntoResultsAndRecords) {
  GetErrorInfo();
  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw ComError(VbErrorResult(6), {6, "Overflow", "Box"}); }),
            VbErrorResult(6));
  EXPECT_EQ(GetErrorInfo(), (ErrorRecord{6, "Overflow", "Box"}));
  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw std::runtime_error("disk on fire"); }), E_FAIL);
  EXPECT_EQ(GetErrorInfo(), (ErrorRecord{E_FAIL, "disk on fire", "Src"}));
  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw 7; }), E_UNEXPECTED);
}

}  // namespace
}  // namespace pullwire::com
