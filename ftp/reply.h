// Control-connection reply framing (RFC 959 section 4.2): a pure function over received bytes
// that finds one complete reply, so that the reader, the tests and the fuzzer share it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pullwire::ftp {

struct Reply {
  int code = 0;                    // 100..599
  std::vector<std::string> lines;  // as received, without line endings and NUL bytes

  int Class() const { return code / 100; }
  bool Preliminary() const { return Class() == 1; }
  bool Positive() const { return Class() == 2; }
  bool Intermediate() const { return Class() == 3; }
  bool Refusal() const { return Class() >= 4; }

  // The reply as a person reads it in an error text: "550 Permission denied." (the lines of a
  // multi-line reply joined by blanks, their repeated codes dropped, control characters
  // replaced, cut at a few hundred bytes).
  std::string Quote() const;
  // The text after the code on the first line ("Entering Passive Mode (...)").
  std::string_view FirstText() const;
};

enum class FrameStatus {
  kIncomplete,  // no complete reply yet: read more bytes
  kComplete,    // `reply` holds it; `consumed` bytes belong to it
  kMalformed,   // the first line is no reply line; `consumed` covers it
  kTooLong,     // a line or the reply exceeds the limits: the stream cannot be trusted
};

struct FrameLimits {
  std::size_t max_line = 4096;
  std::size_t max_reply = 64 * 1024;
};

struct FrameResult {
  FrameStatus status = FrameStatus::kIncomplete;
  std::size_t consumed = 0;
  Reply reply;
};

// Looks for one reply at the start of `buffer`. Lines end in LF (CR before it dropped); a
// multi-line reply "ddd-..." ends at the first later line that starts with the same code
// followed by a blank or the line end; lines between may begin with anything, other codes
// included. Bytes after the reply are not touched: the caller keeps them for the next reply.
FrameResult FrameReply(std::string_view buffer, const FrameLimits& limits = {});

}  // namespace pullwire::ftp
