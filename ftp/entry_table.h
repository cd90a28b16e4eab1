// A listing's entries packed for size, for listings of millions of entries: every name and date
// (and a link's target, a folder's unique id) in one text block, and one fixed-size row per entry
// (24 bytes) instead of a record of strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/listing_parser.h"

namespace pullwire::ftp {

// One entry as views into the table.
struct EntryView {
  std::string_view name;
  std::string_view modified;     // cut to 255 bytes
  std::string_view link_target;  // links only; empty when longer than 64 KiB
  std::string_view unique;       // folders only (MLSD's "unique" fact); empty when over 255 bytes
  std::int64_t size = 0;
  std::int32_t permission_bits = 0;
  EntryType type = EntryType::kFile;
  LineFormat format = LineFormat::kUnix;
};

class EntryTable final : public ListingStore {
 public:
  std::size_t size() const override { return rows_.size(); }
  std::string_view NameAt(std::size_t index) const override;
  // Throws std::length_error past 4 GiB of names and dates (the session's listing cap is far
  // below).
  void Add(const EntryFields& fields) override;
  void RemoveLast() override;
  std::size_t kept_text() const override { return text_.size(); }

  EntryView at(std::size_t index) const;
  // Gives back the room reserved for growth once the listing is complete.
  void ShrinkToFit();

  ListingNotes notes;

 private:
  struct Row {
    std::uint32_t text_at;  // the name, the date, the link target, the unique id, in text_
    std::uint32_t name_size;
    std::int64_t size;
    std::uint16_t permission_bits;
    std::uint16_t target_size;
    std::uint8_t modified_size;
    std::uint8_t unique_size;
    EntryType type;
    LineFormat format;
  };
  static_assert(sizeof(Row) == 24);

  std::string text_;
  std::vector<Row> rows_;
};

}  // namespace pullwire::ftp
