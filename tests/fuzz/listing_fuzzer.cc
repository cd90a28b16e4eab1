// libFuzzer target for the listing parser: any bytes, read as LIST and as MLSD, must parse without
// a crash, sanitizer report or leak, and never yield an entry whose name could leave the local
// folder or drive the terminal.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "ftp/listing_parser.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "listing_fuzzer: invariant broken: %s\n", what);
  std::abort();
}

// Checked here byte by byte rather than through IsSafeEntryName, so a fault in that function
// cannot hide itself. C1 controls count too, as UTF-8: C2 80 .. C2 9F.
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
  std::size_t lines = 0;
  for (char c : raw) lines += c == '\n' ? 1 : 0;
  if (!raw.empty() && raw.back() != '\n') ++lines;
  Require(parsed.entries.size() + parsed.unparsed_count + parsed.unsafe_count <= lines,
          "more results than lines");
  std::unordered_set<std::string_view> names;
  for (const ListingEntry& entry : parsed.entries) {
    Require(NameStaysInFolder(entry.name), "unsafe entry name");
    Require(IsSafeEntryName(entry.name), "IsSafeEntryName disagrees");
    Require(names.insert(entry.name).second, "name listed twice kept twice");
    Require(raw.find(entry.name) != std::string_view::npos, "name not taken from the listing");
    Require(!HasControl(entry.link_target), "control character in a link target");
    Require(entry.type == EntryType::kLink || entry.link_target.empty(), "target on a non-link");
    Require(entry.size >= 0 && entry.link_count >= 0, "negative size or link count");
    Require(syntax == ListingSyntax::kMlsd || !entry.modified.empty(), "entry without its date");
  }
  Require(parsed.unparsed_lines.size() == std::min(parsed.unparsed_count, kMaxKeptUnparsedLines),
          "unparsed lines not kept up to the bound");
  for (const std::string& line : parsed.unparsed_lines) {
    Require(line.size() <= kMaxKeptUnparsedLineBytes, "unparsed line above the size bound");
    Require(line.find('\n') == std::string::npos, "unparsed line holds its line ending");
    Require(raw.find(line) != std::string_view::npos, "unparsed line not taken from the listing");
  }
  Require(parsed.unsafe_names.size() <= kMaxKeptUnparsedLines &&
              parsed.unsafe_names.size() == parsed.unsafe_reasons.size() &&
              parsed.unsafe_names.size() <= parsed.unsafe_count,
          "unsafe names not kept up to the bound");
  for (const std::string& name : parsed.unsafe_names) {
    // A name cut at the bound may have lost what made it unsafe.
    Require(!NameStaysInFolder(name) || name.size() == kMaxKeptUnparsedLineBytes,
            "a safe name noted as unsafe");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  Check(raw, pullwire::ftp::ListingSyntax::kList);
  Check(raw, pullwire::ftp::ListingSyntax::kMlsd);
  return 0;
}
