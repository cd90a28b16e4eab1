// libFuzzer target for the reply framing and readers: any bytes from a server are framed reply by
// reply, as the reader does, and every reply is read by every reply parser, with the invariants
// the engine relies on checked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ftp/reply.h"
#include "ftp/reply_meaning.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void ReadEveryMeaning(const pullwire::ftp::Reply& reply) {
  using namespace pullwire::ftp;
  const std::string quote = reply.Quote();
  for (const char c : quote) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
  Check(quote.size() <= 403);
  RefusalCode("RETR", reply);
  RefusalCode("DELE", reply);
  if (const auto port = ParseEpsvPort(reply)) Check(*port > 0);
  if (const auto port = ParsePasvPort(reply)) Check(*port > 0);
  if (const auto path = ParsePwdPath(reply)) Check(!path->empty());
  if (const auto size = ParseAnnouncedSize(reply)) Check(*size >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pullwire::ftp;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  // Small limits too, so that the bounds are reached with short inputs.
  const FrameLimits limits = size % 2 == 0 ? FrameLimits{} : FrameLimits{64, 256};
  while (!rest.empty()) {
    const FrameResult framed = FrameReply(rest, limits);
    Check(framed.consumed <= rest.size());
    if (framed.status == FrameStatus::kIncomplete || framed.status == FrameStatus::kTooLong) {
      Check(framed.consumed == 0);
      break;
    }
    Check(framed.consumed > 0);
    for (const std::string& line : framed.reply.lines) {
      Check(line.find('\n') == std::string::npos && line.find('\0') == std::string::npos);
    }
    if (framed.status == FrameStatus::kComplete) {
      Check(framed.reply.code >= 100 && framed.reply.code <= 599 && !framed.reply.lines.empty());
      ReadEveryMeaning(framed.reply);
    }
    rest.remove_prefix(framed.consumed);
  }
  return 0;
}
