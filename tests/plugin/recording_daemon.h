// Message daemons for tests: one that serves SetMessage on a local server and records every call
// with the argument values and kinds exactly as they arrived, and one that never answers.
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
  std::condition_variable changed;
  std::vector<DaemonCall> calls;
  int connections = 0;
  int releases = 0;
  std::atomic<bool> fail_set_message{false};  // SetMessage answers with a raised error
  std::atomic<bool> no_set_message{false};    // the object has no SetMessage at all

  std::vector<DaemonCall> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
  // Waits (bounded) until `count` calls arrived.
  bool WaitForCalls(std::size_t count, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, bound, [&] { return calls.size() >= count; });
  }
  bool WaitForReleases(int count, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, bound, [&] { return releases >= count; });
  }
};

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
    const bool known = !log_->no_set_message && (name == "SetMessage" || name == "setmessage");
    *id = known ? 1 : com::kDispIdUnknown;
    return known ? com::S_OK : com::DISP_E_UNKNOWNNAME;
  }
  com::HRESULT Invoke(com::DispId id, com::InvokeKind, std::span<com::Variant> args, com::Variant*) override {
    if (id != 1 || log_->no_set_message) return com::DISP_E_MEMBERNOTFOUND;
    {
      std::lock_guard lock(log_->mutex);
      log_->calls.push_back({std::vector<com::Variant>(args.begin(), args.end())});
    }
    log_->changed.notify_all();
    if (log_->fail_set_message) return com::RaiseError(5, "Invalid procedure call or argument", "nrvd.IPCdaemon");
    return com::S_OK;
  }

 private:
  ~RecordingDaemonObject() override {
    {
      std::lock_guard lock(log_->mutex);
      ++log_->releases;
    }
    log_->changed.notify_all();
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
  DaemonLog& log() { return *log_; }

 private:
  std::shared_ptr<DaemonLog> log_;
  com::LocalServer server_;
};

// A server that takes connections into its backlog and never reads or answers anything.
class SilentServer {
 public:
  explicit SilentServer(const std::string& prog_id) {
    std::filesystem::path path;
    if (com::Failed(com::LocalServerSocketPath(prog_id, true, &path))) throw std::runtime_error("no socket path");
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd_, 8) != 0) {
      throw std::runtime_error("cannot listen on " + path.string());
    }
  }
  ~SilentServer() { close(fd_); }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace pullwire::testing
