// Message daemons for tests: one that serves SetMessage on a local server and records every call
// with the argument values and kinds exactly as they arrived, and a plain socket that never answers.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "com/local_server.h"
#include "com/ref_counted.h"
#include "com/runtime_folder.h"

namespace pullwire::testing {

struct DaemonCall {
  std::vector<com::Variant> args;
};

// What every connection's object shares.
struct DaemonLog {
  std::mutex mutex;
  std::condition_variable released;
  std::vector<DaemonCall> calls;
  int connections = 0;
  int releases = 0;
  std::atomic<bool> fail_set_message{false};  // SetMessage raises 5 after recording the call

  std::vector<DaemonCall> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
  bool WaitForReleases(int count) {  // bounded
    std::unique_lock lock(mutex);
    return released.wait_for(lock, std::chrono::seconds(5), [&] { return releases >= count; });
  }
};

// SetMessage(...) is recorded and answers "ok"; every other name is unknown.
class RecordingDaemonObject final : public com::RefCounted<com::IDispatch> {
 public:
  explicit RecordingDaemonObject(std::shared_ptr<DaemonLog> log) : log_(std::move(log)) {
    std::lock_guard lock(log_->mutex);
    ++log_->connections;
  }

  com::HRESULT QueryInterface(const com::Guid& iid, void** object) override {
    return com::QueryInterfaceFrom(iid, object, {com::Expose<com::IDispatch>(this, com::IID_IDispatch)});
  }
  com::HRESULT GetIDsOfNames(std::string_view name, com::DispId* id) override {
    *id = name == "SetMessage" ? 1 : com::kDispIdUnknown;
    return *id == 1 ? com::S_OK : com::DISP_E_UNKNOWNNAME;
  }
  com::HRESULT Invoke(com::DispId, com::InvokeKind, std::span<com::Variant> args, com::Variant* result) override {
    std::lock_guard lock(log_->mutex);
    log_->calls.push_back({std::vector<com::Variant>(args.begin(), args.end())});
    if (log_->fail_set_message) return com::RaiseError(5, "Invalid procedure call or argument", "nrvd.IPCdaemon");
    if (result != nullptr) *result = com::Variant("ok");
    return com::S_OK;
  }

 private:
  ~RecordingDaemonObject() override {
    std::lock_guard lock(log_->mutex);
    ++log_->releases;
    log_->released.notify_all();
  }
  std::shared_ptr<DaemonLog> log_;
};

// Serves `prog_id` until destroyed.
class RecordingDaemon {
 public:
  explicit RecordingDaemon(const std::string& prog_id)
      : log_(std::make_shared<DaemonLog>()),
        server_(prog_id, [log = log_] { return com::ComPtr<com::IDispatch>::Owned(new RecordingDaemonObject(log)); }) {}

  com::HRESULT Start() { return server_.Start(); }
  void Stop() { server_.Stop(); }
  DaemonLog& log() { return *log_; }

 private:
  std::shared_ptr<DaemonLog> log_;
  com::LocalServer server_;
};

// A plain socket at `prog_id`'s path: listening, a server that takes connections into its backlog
// and never reads or answers by itself (a test may accept and play a broken server); or a client.
class RawSocket {
 public:
  RawSocket(const std::string& prog_id, bool listening) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
    std::filesystem::path path;
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    if (com::Failed(com::LocalServerSocketPath(prog_id, true, &path)) ||
        path.native().size() >= sizeof(address.sun_path)) {
      throw std::runtime_error("no socket path");
    }
    std::strcpy(address.sun_path, path.c_str());
    const auto* named = reinterpret_cast<sockaddr*>(&address);
    const bool ready = listening ? bind(fd_, named, sizeof(address)) == 0 && listen(fd_, 8) == 0
                                 : connect(fd_, named, sizeof(address)) == 0;
    if (!ready) {
      throw std::runtime_error("cannot use " + path.string());
    }
  }
  ~RawSocket() { close(fd_); }
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;

  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace pullwire::testing
