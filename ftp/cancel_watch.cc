// Watching the host's cancel descriptor beside a wait's own descriptors.
#include "ftp/cancel_watch.h"

#include <algorithm>
#include <array>
#include <vector>

#include "ftp/errors.h"

namespace pullwire::ftp {

void CancelWatch::Check(SysIo& sys) const {
  if (fd() < 0) return;
  pollfd watched{fd(), POLLIN, 0};
  if (sys.Poll(&watched, 1, 0) > 0 && watched.revents != 0) Throw();
}

void CancelWatch::Throw() {
  throw FtpError(ErrorCode::kCancelled, "cancelled: the host asked the run to stop");
}

int PollUntil(SysIo& sys, pollfd* fds, nfds_t count, const Deadline& deadline,
              const CancelWatch& cancel) {
  if (cancel.fd() < 0) return PollUntil(sys, fds, count, deadline);
  // The usual wait watches one to three descriptors: no allocation for those.
  std::array<pollfd, 8> small{};
  std::vector<pollfd> large;
  pollfd* all = small.data();
  if (count + 1 > small.size()) {
    large.resize(count + 1);
    all = large.data();
  }
  std::copy(fds, fds + count, all);
  all[count] = {cancel.fd(), POLLIN, 0};
  const int ready = PollUntil(sys, all, count + 1, deadline);
  if (ready > 0 && all[count].revents != 0) CancelWatch::Throw();
  for (nfds_t i = 0; i < count; ++i) fds[i].revents = all[i].revents;
  return ready;
}

}  // namespace pullwire::ftp
