// The packed entry table: rows pointing into one text block.
#include "ftp/entry_table.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace pullwire::ftp {

std::string_view EntryTable::NameAt(std::size_t index) const {
  const Row& row = rows_[index];
  return std::string_view(text_).substr(row.text_at, row.name_size);
}

void EntryTable::Add(const EntryFields& fields) {
  const std::string_view modified = fields.modified.substr(0, 255);
  if (text_.size() + fields.name.size() + modified.size() >
      std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("a listing with more than 4 GiB of names");
  }
  rows_.push_back(Row{static_cast<std::uint32_t>(text_.size()),
                      static_cast<std::uint32_t>(fields.name.size()), fields.size,
                      static_cast<std::uint16_t>(fields.permission_bits & 07777),
                      static_cast<std::uint8_t>(modified.size()), fields.type, fields.format});
  text_.append(fields.name);
  text_.append(modified);
}

void EntryTable::RemoveLast() {
  text_.resize(rows_.back().text_at);
  rows_.pop_back();
}

EntryView EntryTable::at(std::size_t index) const {
  const Row& row = rows_[index];
  const std::string_view text(text_);
  return EntryView{text.substr(row.text_at, row.name_size),
                   text.substr(row.text_at + row.name_size, row.modified_size),
                   row.size,
                   row.permission_bits,
                   row.type,
                   row.format};
}

void EntryTable::ShrinkToFit() {
  text_.shrink_to_fit();
  rows_.shrink_to_fit();
}

}  // namespace pullwire::ftp
