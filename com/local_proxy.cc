// The proxy IDispatch of a local-server object: names are numbered locally, each Invoke is one
// framed request and one reply on the proxy's own connection, and the last Release closes it.
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

class LocalServerProxy final : public RefCounted<IDispatch> {
 public:
  LocalServerProxy(std::string prog_id, UniqueFd connection, std::chrono::milliseconds timeout)
      : prog_id_(std::move(prog_id)), connection_(std::move(connection)), timeout_(timeout) {}

  HRESULT QueryInterface(const Guid& iid, void** object) override {
    return QueryInterfaceFrom(iid, object, {Expose<IDispatch>(this, IID_IDispatch)});
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

  HRESULT Invoke(DispId id, InvokeKind kind, std::span<Variant> args, Variant* result) override {
    if (result) *result = Variant();
    return GuardedCall(prog_id_, [&] {
      if (id < 1 || static_cast<std::size_t>(id) > names_.size()) return DISP_E_MEMBERNOTFOUND;
      if (!connection_) {
        return ReportFailure(RPC_E_DISCONNECTED, fmt::format("the connection to {} is closed", prog_id_), prog_id_);
      }
      InvokeRequest request{names_[static_cast<std::size_t>(id - 1)], kind, {args.begin(), args.end()}};
      const std::string frame = Frame(EncodeRequest(request));
      const auto deadline = Clock::now() + timeout_;
      std::string body;
      IoResult io = SendAll(connection_.get(), frame, deadline);
      if (io.ok()) io = ReadFrame(connection_.get(), deadline, &body);
      if (!io.ok()) return TransportFailure(io, request.member);
      InvokeReply reply;
      try {
        reply = DecodeReply(body);
      } catch (const ProtocolError& e) {
        connection_.Reset();
        return ReportFailure(RPC_E_DISCONNECTED,
                             fmt::format("malformed reply from {} to {}: {}", prog_id_, request.member, e.what()),
                             prog_id_);
      }
      return Deliver(std::move(reply), args, result);
    });
  }

 private:
  // After a time-out or a broken stream the replies can no longer be matched to requests, so the
  // connection is given up.
  HRESULT TransportFailure(const IoResult& io, const std::string& member) {
    connection_.Reset();
    const HRESULT hr = io.status == IoStatus::kTimedOut ? RPC_E_TIMEOUT : RPC_E_DISCONNECTED;
    const std::string bound = io.status == IoStatus::kTimedOut ? fmt::format(" (limit {} ms)", timeout_.count()) : "";
    return ReportFailure(hr, fmt::format("call {} on {}: {}{}", member, prog_id_, io.error, bound), prog_id_);
  }

  HRESULT Deliver(InvokeReply reply, std::span<Variant> args, Variant* result) {
    if (Failed(reply.hr)) {
      SetErrorInfo(reply.error.value_or(ErrorRecord{reply.hr, fmt::format("{} failed", prog_id_), prog_id_}));
      return reply.hr;
    }
    if (reply.args.size() == args.size()) std::move(reply.args.begin(), reply.args.end(), args.begin());
    if (result) *result = std::move(reply.result);
    return reply.hr;
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
  if (iid != IID_IDispatch && iid != IID_IUnknown) {
    return ReportFailure(E_NOINTERFACE, fmt::format("local server {} offers IDispatch only", source), source);
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
