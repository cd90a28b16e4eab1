// Blocking the stopping signals onto a signalfd, and handing it to the plug-in.
#include "host/run_signals.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "com/com_ptr.h"

namespace pullwire::host {
namespace {

com::ComPtr<IToolboxCancel> CancelOf(_Toolbox& box) {
  return com::ComPtr<_Toolbox>::Shared(&box).As<IToolboxCancel>(IID_IToolboxCancel);
}

void Ignore(int signal) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(signal, &ignore, nullptr);
}

}  // namespace

RunSignals::RunSignals() {
  sigemptyset(&stopping_);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopping_, signal);
  ::pthread_sigmask(SIG_BLOCK, &stopping_, &previous_mask_);
  fd_ = ::signalfd(-1, &stopping_, SFD_NONBLOCK | SFD_CLOEXEC);
  // For the rest of the process, not only the run: what it writes after the run (the variables,
  // buffered output flushed at exit) must fail with an error too, never kill it.
  Ignore(SIGPIPE);
  Ignore(SIGXFSZ);
}

RunSignals::~RunSignals() {
  // Taken here, a signal is not delivered again when the mask is restored.
  Received();
  signalfd_siginfo info{};
  while (fd_ >= 0 && ::read(fd_, &info, sizeof info) == sizeof info) {
  }
  ::pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
  if (fd_ >= 0) ::close(fd_);
}

void RunSignals::Attach(_Toolbox& box) {
  const com::ComPtr<IToolboxCancel> cancel = CancelOf(box);
  if (fd_ >= 0 && cancel && com::Succeeded(cancel->put_CancelDescriptor(fd_))) return;
  ::pthread_sigmask(SIG_UNBLOCK, &stopping_, nullptr);
}

void RunSignals::Detach(_Toolbox& box) {
  if (const com::ComPtr<IToolboxCancel> cancel = CancelOf(box)) cancel->put_CancelDescriptor(-1);
}

int RunSignals::Received() {
  signalfd_siginfo info{};
  while (fd_ >= 0 && received_ == 0 && ::read(fd_, &info, sizeof info) == sizeof info) {
    received_ = static_cast<int>(info.ssi_signo);
  }
  return received_;
}

}  // namespace pullwire::host
