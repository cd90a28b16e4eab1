// One data transfer (RETR or LIST) from the data connection's set-up to the verdict: complete
// only when the data reached end-of-file AND the 226/250 arrived (in either order), then the
// byte count checked where the server announced a size; otherwise the abort path (ABOR, a bounded
// drain, the session closed when its state stays unclear).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ftp/data_sink.h"
#include "ftp/session_core.h"

namespace pullwire::ftp {

struct TransferRequest {
  std::string command;                     // "RETR name", "LIST"
  std::int64_t rest_offset = 0;            // > 0: REST sent between the data set-up and command;
                                           // refused, the data comes from byte 0 (sink.StartOver)
  bool check_size = false;                 // binary transfers: compare the byte count
  std::optional<std::int64_t> known_size;  // the file's size (listing, SIZE): the progress total
                                           // where the server announces none
  bool another_follows = false;            // passive: ask for the next port at the data's end
  std::string_view progress_name;          // non-empty: report progress under this name
};

struct TransferOutcome {
  std::int64_t offset = 0;    // where the data started: rest_offset, or 0 when REST was refused
  std::int64_t bytes = 0;     // received
};

// Ends a transfer that cannot complete: closes `data`, then ABOR and NOOP to find where the reply
// stream stands (the replies to the transfer and to ABOR differ between servers: 426+226,
// 226+225, 225 alone; NOOP's 200 ends them all). A server that does not get there within a few
// seconds leaves the session in an unclear state: the control connection is closed.
void AbortTransfer(SessionCore& core, Tcp::socket& data);

// The verdict on a binary transfer's length against the size its 150 reply announced: throws
// kTransferIncomplete when `subject` ("RETR a.bin"), begun at `offset`, received fewer bytes, or
// more than announced. Without an announcement there is nothing to judge here: a file may have
// grown or shrunk since it was listed, and judging a copy against its listing is the caller's.
void CheckReceivedLength(const std::string& subject, std::int64_t received,
                         const std::optional<Reply>& preliminary, std::int64_t offset,
                         const Reply& final);

// Throws FtpError.
TransferOutcome RunTransfer(SessionCore& core, const TransferRequest& request, DataSink& sink);

}  // namespace pullwire::ftp
