// The server side of local servers: binds `<runtime>/norvik/<ProgID>` and serves one IDispatch
// object per connection, made by a factory, like a COM local server's class factory.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "com/com_ptr.h"
#include "com/export.h"
#include "com/hresult.h"
#include "com/runtime_folder.h"
#include "com/unknown.h"

namespace pullwire::com {

// Serves `prog_id` on one thread of its own: every accepted connection gets a fresh object from
// the factory, every request on it is carried out in order by that object's GetIDsOfNames +
// Invoke on the server thread (so objects see one thread only), calls and flushes are answered
// at once, posts are not answered and are carried out in batches a few milliseconds apart, a
// frame that cannot be read closes the connection, and closing it releases the object.
//
//   LocalServer server("nrvd2.IPCdaemon", [] { return MakeObject<Daemon>(); });
//   if (Failed(server.Start())) ... GetErrorInfo()->description ...
//   server.Wait();   // until Stop() or RequestStop() from a signal handler
class PULLWIRE_COM_API LocalServer {
 public:
  using Factory = std::function<ComPtr<IDispatch>()>;

  LocalServer(std::string prog_id, Factory factory);
  ~LocalServer();  // Stop()
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  // Creates the folder, takes "<socket>.lock" (held while serving), replaces a stale socket
  // file left by a server that died, binds and starts serving. Fails with a record when another
  // live server already serves this ProgID ("another server already serves ... on ..."), when
  // the folder is unsafe, or when binding fails. Starting a started server fails.
  HRESULT Start();

  // Asks the server to stop; safe from any thread and from a signal handler (one write to a pipe).
  void RequestStop() noexcept;
  // Stops and waits: closes every connection (releasing its object), removes the socket file
  // and the lock. Idempotent; also from another thread than Start's. Called by a served object
  // (on the server thread) it only requests the stop.
  void Stop();
  // Blocks until the server thread has ended (after RequestStop/Stop); returns at once when not
  // started.
  void Wait();

  bool running() const { return running_.load(); }
  const std::filesystem::path& socket_path() const { return socket_path_; }

 private:
  struct Impl;
  std::string prog_id_;
  Factory factory_;
  std::filesystem::path socket_path_;
  std::unique_ptr<Impl> impl_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  int wake_write_fd_ = -1;  // read by RequestStop, so kept outside Impl
};

}  // namespace pullwire::com
