// The host's message daemon: a local server "nrvd" + instance + ".IPCdaemon" whose objects take
// SetMessage(type, text, timestamp) calls and hand each message to a sink.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "com/local_server.h"
#include "host/message_format.h"

namespace pullwire::host {

// Called on the daemon's server thread, once per message, in arrival order per connection.
using MessageSink = std::function<void(const HostMessage&)>;

class MessageDaemon {
 public:
  MessageDaemon(const std::string& instance, MessageSink sink);

  // Fails with an error record when another daemon serves the instance or the run-time folder
  // is unusable.
  com::HRESULT Start() { return server_.Start(); }
  // Safe from a signal handler.
  void RequestStop() noexcept { server_.RequestStop(); }
  void Stop() { server_.Stop(); }
  void Wait() { server_.Wait(); }

  const std::string& prog_id() const { return prog_id_; }
  const std::filesystem::path& socket_path() const { return server_.socket_path(); }

 private:
  std::string prog_id_;
  com::LocalServer server_;
};

}  // namespace pullwire::host
