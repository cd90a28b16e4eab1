// The proxy of a local-server object: names are numbered locally, each Invoke is one framed
// request and one reply on the proxy's own connection, each Post one request without a reply,
// Flush one round trip behind them, and the last Release closes the connection.
#include "com/local_proxy.h"

#include <fmt/format.h>

#include <algorithm>
#include <string>
#include <vector>

#include "com/error_info.h"
#include "com/names.h"
#include "com/ref_counted.h"
#include "com/runtime_folder.h"
#include "com/unix_socket.h"
#include "com/wire_protocol.h"

namespace pullwire::com {
namespace {

class LocalServerProxy final : public RefCounted<IOneWayDispatch> {
 public:
  LocalServerProxy(std::string prog_id, UniqueFd connection, std::chrono::milliseconds timeout)
      : prog_id_(std::move(prog_id)), connection_(std::move(connection)), timeout_(timeout) {}

  HRESULT QueryInterface(const Guid& iid, void** object) override {
    return QueryInterfaceFrom(iid, object,
                              {Expose<IDispatch>(this, IID_IDispatch),
                               Expose<IOneWayDispatch>(this, IID_IOneWayDispatch)});
  }

  // The server resolves names when called; here a name only gets a number, the first spelling
  // given being the one sent.
  HRESULT GetIDsOfNames(std::string_view name, DispId* id) override {
    if (id == nullptr) return E_POINTER;
    *id = kDispIdUnknown;
    return GuardedCall(prog_id_, [&] {
      if (name.empty()) return DISP_E_UNKNOWNNAME;
      const auto it = std::find_if(names_.begin(), names_.end(),
                                   [&](const std::string& known) { return EqualsIgnoringCase(known, name); });
      auto index = static_cast<std::size_t>(it - names_.begin());
      if (it == names_.end()) {
        names_.emplace_back(name);
        index = names_.size() - 1;
      }
      *id = static_cast<DispId>(index + 1);
      return S_OK;
    });
  }

  // A local server's members are methods: no property is found.
  HRESULT Invoke(DispId id, InvokeKind kind, std::span<Variant> args, Variant* result) override {
    if (result) *result = Variant();
    return GuardedCall(prog_id_, [&] {
      InvokeRequest request{RequestOp::kCall, {}, {args.begin(), args.end()}};
      if (kind != InvokeKind::kMethod || !Name(id, &request.member)) return DISP_E_MEMBERNOTFOUND;
      InvokeReply reply;
      if (const HRESULT hr = RoundTrip(request, &reply); Failed(hr)) return hr;
      if (Failed(reply.hr)) {
        const ErrorRecord fallback{reply.hr, fmt::format("{} failed", prog_id_), prog_id_};
        SetErrorInfo(reply.error.value_or(fallback));
        return reply.hr;
      }
      if (result) *result = std::move(reply.result);
      return reply.hr;
    });
  }

  HRESULT Post(DispId id, std::span<const Variant> args) override {
    return GuardedCall(prog_id_, [&] {
      InvokeRequest request{RequestOp::kPost, {}, {args.begin(), args.end()}};
      if (!Name(id, &request.member)) return DISP_E_MEMBERNOTFOUND;
      return Send(request, Clock::now() + timeout_);
    });
  }

  HRESULT Flush() override {
    return GuardedCall(prog_id_, [&] {
      InvokeReply reply;
      return RoundTrip(InvokeRequest{RequestOp::kSync, {}, {}}, &reply);
    });
  }

 private:
  bool Name(DispId id, std::string* member) const {
    if (id < 1 || static_cast<std::size_t>(id) > names_.size()) return false;
    *member = names_[static_cast<std::size_t>(id - 1)];
    return true;
  }

  // One frame, whole or not at all: a frame cut short would leave the server unable to tell
  // where the next one begins, so the connection is given up with it.
  HRESULT Send(const InvokeRequest& request, Clock::time_point deadline) {
    if (!connection_) {
      return ReportFailure(RPC_E_DISCONNECTED, fmt::format("the connection to {} is closed", prog_id_),
                           prog_id_);
    }
    std::string frame;
    try {
      frame = Frame(EncodeRequest(request));
    } catch (const ProtocolError& e) {
      return ReportFailure(E_INVALIDARG, fmt::format("cannot send {} to {}: {}", What(request), prog_id_, e.what()),
                           prog_id_);
    }
    const IoResult io = SendAll(connection_.get(), frame, deadline);
    return io.ok() ? S_OK : TransportFailure(io, request);
  }

  HRESULT RoundTrip(const InvokeRequest& request, InvokeReply* reply) {
    const auto deadline = Clock::now() + timeout_;
    if (const HRESULT hr = Send(request, deadline); Failed(hr)) return hr;
    std::string body;
    if (const IoResult io = ReadFrame(connection_.get(), deadline, &body); !io.ok()) {
      return TransportFailure(io, request);
    }
    try {
      *reply = DecodeReply(body);
    } catch (const ProtocolError& e) {
      connection_.Reset();
      return ReportFailure(RPC_E_DISCONNECTED,
                           fmt::format("malformed reply from {} to {}: {}", prog_id_, What(request), e.what()),
                           prog_id_);
    }
    return S_OK;
  }

  static std::string What(const InvokeRequest& request) {
    return request.op == RequestOp::kSync ? "the flush" : request.member;
  }

  // After a time-out or a broken stream the replies can no longer be matched to requests, so the
  // connection is given up.
  HRESULT TransportFailure(const IoResult& io, const InvokeRequest& request) {
    connection_.Reset();
    const HRESULT hr = io.status == IoStatus::kTimedOut ? RPC_E_TIMEOUT : RPC_E_DISCONNECTED;
    const std::string bound = io.status == IoStatus::kTimedOut ? fmt::format(" (limit {} ms)", timeout_.count()) : "";
    return ReportFailure(hr, fmt::format("call {} on {}: {}{}", What(request), prog_id_, io.error, bound),
                         prog_id_);
  }

  std::string prog_id_;
  UniqueFd connection_;
  std::chrono::milliseconds timeout_;
  std::vector<std::string> names_;  // DispId n is names_[n - 1]
};

}  // namespace

HRESULT ConnectLocalServer(std::string_view prog_id, const Guid& iid, std::chrono::milliseconds timeout,
                           void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const std::string source(prog_id);
  std::filesystem::path socket;
  if (const HRESULT hr = LocalServerSocketPath(prog_id, /*create_folder=*/false, &socket); Failed(hr)) return hr;
  // Nothing registered and nothing listening: the class is unknown, whatever interface was asked.
  const auto not_registered = [&] {
    return ReportFailure(REGDB_E_CLASSNOTREG,
                         fmt::format("Class not registered: {} (no registration, no local server at {})", source,
                                     socket.string()),
                         source);
  };
  if (!std::filesystem::exists(socket)) return not_registered();
  if (iid != IID_IDispatch && iid != IID_IOneWayDispatch && iid != IID_IUnknown) {
    return ReportFailure(E_NOINTERFACE,
                         fmt::format("local server {} offers IDispatch and IOneWayDispatch only", source), source);
  }
  UniqueFd connection;
  const IoResult io = ConnectUnix(socket, Clock::now() + timeout, &connection);
  if (io.status == IoStatus::kClosed && !std::filesystem::exists(socket)) return not_registered();
  if (!io.ok()) {
    return ReportFailure(CO_E_SERVER_EXEC_FAILURE, fmt::format("local server {}: {}", source, io.error), source);
  }
  return GuardedCall(source, [&] {
    auto proxy = MakeObject<LocalServerProxy>(source, std::move(connection), timeout);
    return proxy->QueryInterface(iid, object);
  });
}

}  // namespace pullwire::com
