// `pullwire daemon`: plays the host's message daemon and prints every message it receives.
#include <signal.h>

#include <fmt/format.h>

#include <atomic>
#include <cstdio>

#include "host/commands.h"
#include "host/host_error.h"
#include "host/message_daemon.h"

namespace pullwire::host {
namespace {

std::atomic<MessageDaemon*> g_running_daemon{nullptr};

extern "C" void StopRunningDaemon(int) {
  if (MessageDaemon* daemon = g_running_daemon.load()) daemon->RequestStop();
}

// Installs the stop handler for SIGINT and SIGTERM while alive.
class StopSignals {
 public:
  explicit StopSignals(MessageDaemon& daemon) {
    g_running_daemon = &daemon;
    struct sigaction action {};
    action.sa_handler = StopRunningDaemon;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    g_running_daemon = nullptr;
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

int ServeMessages(const std::string& instance) {
  MessagePrinter printer(stdout);
  MessageDaemon daemon(instance, [&printer](const HostMessage& message) { printer.Print(message); });
  StopSignals signals(daemon);
  Check(daemon.Start(), fmt::format("cannot serve {}", daemon.prog_id()));
  fmt::print(stderr, "pullwire: serving {} at {} (Ctrl+C stops)\n", daemon.prog_id(), daemon.socket_path().string());
  std::fflush(stderr);
  daemon.Wait();
  daemon.Stop();
  fmt::print(stderr, "pullwire: {} stopped\n", daemon.prog_id());
  return 0;
}

}  // namespace

void AddDaemonCommand(CLI::App& app, int& exit_code) {
  auto* command = app.add_subcommand(
      "daemon", "Serve the message daemon nrvd<N>.IPCdaemon and print each message until Ctrl+C or SIGTERM");
  auto instance = std::make_shared<std::string>();
  command->add_option("--instance", *instance, "The daemon instance a host gives dInstance; empty is nrvd.IPCdaemon");
  command->callback([instance, &exit_code] { exit_code = ServeMessages(*instance); });
}

}  // namespace pullwire::host
