// libFuzzer target for the reply framing and readers: any bytes from a server are framed reply by
// reply, as the reader does, and every reply goes through every reply parser, with the invariants
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
    const Reply& reply = framed.reply;
    for (const std::string& line : reply.lines) {
      Check(line.find('\n') == std::string::npos && line.find('\0') == std::string::npos);
    }
    rest.remove_prefix(framed.consumed);
    if (framed.status != FrameStatus::kComplete) continue;
    Check(reply.code >= 100 && reply.code <= 599 && !reply.lines.empty());
    const std::string quote = reply.Quote();
    for (const char c : quote) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    Check(quote.size() <= 403);
    RefusalCode("RETR", reply);
    RefusalCode("DELE", reply);
    if (const auto port = ParseEpsvPort(reply)) Check(*port > 0);
    if (const auto port = ParsePasvPort(reply)) Check(*port > 0);
    if (const auto path = ParsePwdPath(reply)) Check(!path->empty());
    if (const auto bytes = ParseAnnouncedSize(reply)) Check(*bytes >= 0);
  }
  return 0;
}
