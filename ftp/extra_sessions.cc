// Opening, keeping and closing the extra sessions of parallel fetches.
#include "ftp/extra_sessions.h"

#include <algorithm>

#include "ftp/errors.h"
#include "ftp/session_core.h"

namespace pullwire::ftp {
namespace {

// Only a direct, passive route lets every session make its data connections without a
// handshake of their own.
bool AllowsParallel(Session& main) {
  const DataRoute& route = main.core().connector.route();
  return main.logged_in() && main.passive() && !route.through_socks && !route.through_gateway;
}

}  // namespace

void ExtraSessions::Open(Session& main) {
  opened_ = true;
  for (int i = 1; i < total_; ++i) {
    auto extra = std::make_unique<ExtraSession>(main.sys());
    extra->session.set_timeout(main.timeout());
    extra->session.set_cancel_fd(main.cancel_fd());
    extra->session.set_passive(true);
    extra->session.set_proxy(main.proxy());
    try {
      extra->session.Login(main.login_params());
    } catch (const FtpError&) {
      return;  // refused (a limit on sessions, most likely): the ones open so far do the work
    }
    sessions_.push_back(std::move(extra));
  }
}

std::vector<ExtraSession*> ExtraSessions::For(Session& main) {
  std::vector<ExtraSession*> usable;
  if (total_ < 2 || !AllowsParallel(main)) return usable;
  if (!opened_) Open(main);
  // A session the server has ended since stays out of the work.
  std::erase_if(sessions_, [](const auto& extra) { return !extra->session.logged_in(); });
  for (const auto& extra : sessions_) {
    extra->session.set_timeout(main.timeout());
    extra->session.set_cancel_fd(main.cancel_fd());
    extra->session.set_transfer_type(main.transfer_type());
    try {
      extra->session.ApplyTransferType();
    } catch (const FtpError&) {
      continue;
    }
    usable.push_back(extra.get());
  }
  return usable;
}

void ExtraSessions::Close() noexcept {
  for (const auto& extra : sessions_) extra->session.Logout();
  sessions_.clear();
  opened_ = false;
}

}  // namespace pullwire::ftp
