// libFuzzer target for the listing parser: any bytes, read as LIST and as MLSD, parse without a
// crash, sanitizer report or leak, and never yield a name that could leave the local folder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "ftp/listing_parser.h"

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

void Check(std::string_view raw, pullwire::ftp::ListingSyntax syntax) {
  using namespace pullwire::ftp;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  Check(raw, pullwire::ftp::ListingSyntax::kList);
  Check(raw, pullwire::ftp::ListingSyntax::kMlsd);
  return 0;
}
