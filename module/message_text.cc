// Cutting an over-long message text in the middle.
#include "module/message_text.h"

#include <fmt/format.h>

#include "com/wire_protocol.h"

namespace pullwire {
namespace {

// Six bytes of JSON for each control byte, and room for the rest of the call.
static_assert(kMaxMessageBytes * 6 < com::kMaxFrameBytes / 2);

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string FittedMessageText(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  // The mark's number has at most as many digits as the text's length.
  const std::string longest_mark = fmt::format(" [... {} bytes left out ...] ", text.size());
  const std::size_t kept = max_bytes > longest_mark.size() ? max_bytes - longest_mark.size() : 0;
  std::size_t head = kept / 2;
  std::size_t tail = text.size() - (kept - kept / 2);
  while (head > 0 && IsContinuationByte(text[head])) --head;
  while (tail < text.size() && IsContinuationByte(text[tail])) ++tail;
  return fmt::format("{} [... {} bytes left out ...] {}", text.substr(0, head), tail - head,
                     text.substr(tail));
}

}  // namespace pullwire
