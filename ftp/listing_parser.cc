// Assembling a listing from its bytes: line splitting across pieces, de-duplication of names and
// the bounded notes of unparsed lines and unsafe names.
#include "ftp/listing_parser.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>

namespace pullwire::ftp {
namespace {

constexpr std::uint32_t kNoIndex = UINT32_MAX;

// A per-process random key, so a hostile server cannot precompute names that all collide.
std::uint64_t HashKey() {
  static const std::uint64_t key = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }();
  return key;
}

std::uint64_t HashName(std::string_view name, std::uint64_t key) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
  std::uint64_t hash = key ^ (name.size() * kMultiplier);
  std::size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, name.data() + i, 8);
    hash = (hash ^ chunk) * kMultiplier;
    hash ^= hash >> 29;
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, name.data() + i, name.size() - i);
  hash = (hash ^ tail) * kMultiplier;
  hash ^= hash >> 32;
  hash *= 0xD6E8FEB86659FD93ULL;
  return hash ^ (hash >> 32);
}

}  // namespace

// The names already kept, as an open-addressing table of store indices: no allocation per name,
// and names are compared through the store, whose indices stay valid as it grows.
class ListingBuilder::KeptNames {
 public:
  explicit KeptNames(const ListingStore& store)
      : store_(store), key_(HashKey()), slots_(64, kNoIndex) {}

  // Records the store's entry `index` unless its name is already kept; true when it was new.
  bool Insert(std::size_t index) {
    if ((used_ + 1) * 2 > slots_.size()) Grow();
    if (!Place(static_cast<std::uint32_t>(index), slots_)) return false;
    ++used_;
    return true;
  }

 private:
  bool Place(std::uint32_t index, std::vector<std::uint32_t>& slots) const {
    const std::string_view name = store_.NameAt(index);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t slot = HashName(name, key_) & mask;; slot = (slot + 1) & mask) {
      if (slots[slot] == kNoIndex) {
        slots[slot] = index;
        return true;
      }
      if (store_.NameAt(slots[slot]) == name) return false;
    }
  }

  void Grow() {
    std::vector<std::uint32_t> bigger(slots_.size() * 2, kNoIndex);
    for (std::uint32_t index : slots_) {
      if (index != kNoIndex) Place(index, bigger);
    }
    slots_ = std::move(bigger);
  }

  const ListingStore& store_;
  std::uint64_t key_;
  std::vector<std::uint32_t> slots_;
  std::size_t used_ = 0;
};

ListingBuilder::ListingBuilder(ListingSyntax syntax, ListingStore& store, ListingNotes& notes)
    : syntax_(syntax), store_(store), notes_(notes),
      names_(std::make_unique<KeptNames>(store)) {}

ListingBuilder::~ListingBuilder() = default;

void ListingBuilder::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t newline = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, newline);
    bytes.remove_prefix(newline == std::string_view::npos ? bytes.size() : newline + 1);
    if (newline == std::string_view::npos || !partial_.empty() || overlong_) {
      // A line spread over pieces is gathered, up to the bound; the rest of a longer one is
      // dropped (it is reported by its beginning).
      if (!overlong_) {
        const std::size_t room = kMaxListingLineBytes - partial_.size();
        partial_.append(piece.substr(0, room));
        overlong_ = piece.size() > room;
      }
      if (newline == std::string_view::npos) return;
      std::string line = std::exchange(partial_, {});
      if (std::exchange(overlong_, false)) {
        Unparsed(line);
      } else {
        Line(line);
      }
      continue;
    }
    if (piece.size() > kMaxListingLineBytes) {
      Unparsed(piece);
    } else {
      Line(piece);
    }
  }
}

void ListingBuilder::Finish() {
  if (partial_.empty() && !overlong_) return;
  const std::string line = std::exchange(partial_, {});
  if (std::exchange(overlong_, false)) {
    Unparsed(line);
  } else {
    Line(line);
  }
}

void ListingBuilder::Line(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const LineResult result = ReadListingLine(line, syntax_);
  switch (result.verdict) {
    case LineVerdict::kNothing:
      return;
    case LineVerdict::kUnparsed:
      Unparsed(line);
      return;
    case LineVerdict::kUnsafe:
      ++notes_.unsafe_count;
      if (notes_.unsafe_names.size() < kMaxKeptUnparsedLines) {
        notes_.unsafe_names.emplace_back(result.fields.name.substr(0, kMaxKeptUnparsedLineBytes));
        notes_.unsafe_reasons.push_back(*UnsafeNameReason(result.fields.name));
      }
      return;
    case LineVerdict::kEntry:
      store_.Add(result.fields);
      if (!names_->Insert(store_.size() - 1)) store_.RemoveLast();
      return;
  }
}

void ListingBuilder::Unparsed(std::string_view line) {
  ++notes_.unparsed_count;
  if (notes_.unparsed_lines.size() < kMaxKeptUnparsedLines) {
    notes_.unparsed_lines.emplace_back(line.substr(0, kMaxKeptUnparsedLineBytes));
  }
}

namespace {

std::size_t TextOf(const ListingEntry& entry) {
  return entry.name.size() + entry.link_target.size() + entry.modified.size() +
         entry.permissions.size() + entry.owner.size() + entry.group.size();
}

}  // namespace

void EntryVectorStore::RemoveLast() {
  kept_text_ -= TextOf(entries_.back());
  entries_.pop_back();
}

void EntryVectorStore::Add(const EntryFields& fields) {
  ListingEntry& entry = entries_.emplace_back();
  entry.name = fields.name;
  entry.type = fields.type;
  entry.size = fields.size;
  entry.link_target = fields.link_target;
  entry.modified = fields.modified;
  entry.permissions = fields.permissions;
  entry.format = fields.format;
  entry.link_count = fields.link_count;
  entry.owner = fields.owner;
  entry.group = fields.group;
  entry.permission_bits = fields.permission_bits;
  kept_text_ += TextOf(entry);
}

ParsedListing ParseListing(std::string_view raw, ListingSyntax syntax) {
  ParsedListing parsed;
  EntryVectorStore store(parsed.entries);
  ListingBuilder builder(syntax, store, parsed);
  builder.Feed(raw);
  builder.Finish();
  return parsed;
}

}  // namespace pullwire::ftp
