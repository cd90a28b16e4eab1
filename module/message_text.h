// Fitting a message text to what the host's message daemon takes in one frame: a text longer
// than kMaxMessageBytes keeps its start and its end with a mark where it was cut, so that every
// message arrives (a dropped one would leave a failed run without an explanation).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pullwire {

// Far below the daemon's 1 MiB frame, which also carries the text's JSON escapes (up to six
// bytes for one control byte).
inline constexpr std::size_t kMaxMessageBytes = 64 * 1024;

// `text` itself when it fits `max_bytes`; otherwise its start, " [... N bytes left out ...] " and
// its end, at most `max_bytes` in all, cut between UTF-8 characters.
std::string FittedMessageText(std::string_view text, std::size_t max_bytes = kMaxMessageBytes);

}  // namespace pullwire
