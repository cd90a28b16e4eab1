// libFuzzer target for the LIST parser: any bytes must parse without a crash, sanitizer report or
// leak, and never yield an entry whose name could leave the local folder.
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
// cannot hide itself.
bool NameStaysInFolder(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

bool HasControl(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pullwire::ftp;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const ParsedListing parsed = ParseListing(raw);

  std::size_t lines = 0;
  for (char c : raw) lines += c == '\n' ? 1 : 0;
  if (!raw.empty() && raw.back() != '\n') ++lines;
  Require(parsed.entries.size() + parsed.unparsed_count <= lines, "more results than lines");

  std::unordered_set<std::string_view> names;
  for (const ListingEntry& entry : parsed.entries) {
    Require(NameStaysInFolder(entry.name), "unsafe entry name");
    Require(IsSafeEntryName(entry.name), "IsSafeEntryName disagrees");
    Require(names.insert(entry.name).second, "name listed twice kept twice");
    Require(raw.find(entry.name) != std::string_view::npos, "name not taken from the listing");
    Require(!HasControl(entry.link_target), "control character in a link target");
    Require(entry.type == EntryType::kLink || entry.link_target.empty(), "target on a non-link");
    Require(entry.size >= 0 && entry.link_count >= 0, "negative size or link count");
    Require(!entry.modified.empty(), "entry without its date");
  }

  const std::size_t kept = parsed.unparsed_count < kMaxKeptUnparsedLines ? parsed.unparsed_count
                                                                         : kMaxKeptUnparsedLines;
  Require(parsed.unparsed_lines.size() == kept, "unparsed lines not kept up to the bound");
  for (const std::string& line : parsed.unparsed_lines) {
    Require(line.size() <= kMaxKeptUnparsedLineBytes, "unparsed line above the size bound");
    Require(line.find('\n') == std::string::npos, "unparsed line holds its line ending");
    Require(raw.find(line) != std::string_view::npos, "unparsed line not taken from the listing");
  }
  return 0;
}
