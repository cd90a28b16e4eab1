// libFuzzer target for what the engine reads from a server: any bytes are framed reply by reply
// and read by every reply parser, and parsed as a LIST and an MLSD listing, without a crash,
// sanitizer report or leak, and with the invariants the engine relies on (names that cannot leave
// the local folder, bounded notes, printable quotes).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "ftp/listing_parser.h"
#include "ftp/reply.h"
#include "ftp/reply_meaning.h"

namespace pullwire::ftp {
namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Checked byte by byte, not through IsSafeEntryName, so a fault there cannot hide itself. C1
// controls count too, as UTF-8: C2 80 .. C2 9F.
bool HasControl(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte < 0x20 || byte == 0x7F || (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) return true;
  }
  return false;
}

bool NameStaysInFolder(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && !HasControl(name);
}

void CheckListing(std::string_view raw, ListingSyntax syntax) {
  const ParsedListing parsed = ParseListing(raw, syntax);
  const auto lines = static_cast<std::size_t>(std::count(raw.begin(), raw.end(), '\n')) +
                     (!raw.empty() && raw.back() != '\n' ? 1 : 0);
  Require(parsed.entries.size() + parsed.unparsed_count + parsed.unsafe_count <= lines);
  std::unordered_set<std::string_view> names;
  for (const ListingEntry& entry : parsed.entries) {
    Require(NameStaysInFolder(entry.name) && IsSafeEntryName(entry.name));
    Require(names.insert(entry.name).second);  // a name listed twice is kept once
    Require(raw.find(entry.name) != std::string_view::npos);
    Require(!HasControl(entry.link_target));
    Require(entry.type == EntryType::kLink || entry.link_target.empty());
    Require(entry.size >= 0 && entry.link_count >= 0);
    Require(syntax == ListingSyntax::kMlsd || !entry.modified.empty());
  }
  Require(parsed.unparsed_lines.size() == std::min(parsed.unparsed_count, kMaxKeptUnparsedLines));
  for (const std::string& line : parsed.unparsed_lines) {
    Require(line.size() <= kMaxKeptUnparsedLineBytes && line.find('\n') == std::string::npos);
    Require(raw.find(line) != std::string_view::npos);
  }
  Require(parsed.unsafe_names.size() <= kMaxKeptUnparsedLines &&
          parsed.unsafe_names.size() == parsed.unsafe_reasons.size() &&
          parsed.unsafe_names.size() <= parsed.unsafe_count);
  for (const std::string& name : parsed.unsafe_names) {
    // A name cut at the bound may have lost what made it unsafe.
    Require(!NameStaysInFolder(name) || name.size() == kMaxKeptUnparsedLineBytes);
  }
}

void CheckReplies(std::string_view rest, const FrameLimits& limits) {
  while (!rest.empty()) {
    const FrameResult framed = FrameReply(rest, limits);
    Require(framed.consumed <= rest.size());
    if (framed.status == FrameStatus::kIncomplete || framed.status == FrameStatus::kTooLong) {
      Require(framed.consumed == 0);
      return;
    }
    Require(framed.consumed > 0);
    rest.remove_prefix(framed.consumed);
    const Reply& reply = framed.reply;
    for (const std::string& line : reply.lines) {
      Require(line.find('\n') == std::string::npos && line.find('\0') == std::string::npos);
    }
    if (framed.status != FrameStatus::kComplete) continue;
    Require(reply.code >= 100 && reply.code <= 599 && !reply.lines.empty());
    const std::string quote = reply.Quote();
    Require(quote.size() <= 403 && !HasControl(quote));
    RefusalCode("RETR", reply);
    RefusalCode("DELE", reply);
    if (const auto port = ParseEpsvPort(reply)) Require(*port > 0);
    if (const auto port = ParsePasvPort(reply)) Require(*port > 0);
    if (const auto path = ParsePwdPath(reply)) Require(!path->empty());
    if (const auto bytes = ParseAnnouncedSize(reply)) Require(*bytes >= 0);
  }
}

}  // namespace
}  // namespace pullwire::ftp

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pullwire::ftp;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  CheckListing(raw, ListingSyntax::kList);
  CheckListing(raw, ListingSyntax::kMlsd);
  // Small limits too, so that the bounds are reached with short inputs.
  CheckReplies(raw, size % 2 == 0 ? FrameLimits{} : FrameLimits{64, 256});
  return 0;
}
