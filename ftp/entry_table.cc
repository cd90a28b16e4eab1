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

namespace {

// A field that does not fit its row's length is left out rather than cut: a cut link target or
// unique id would name something else.
std::string_view KeptWhole(std::string_view text, bool wanted, std::size_t most) {
  return wanted && text.size() <= most ? text : std::string_view();
}

}  // namespace

void EntryTable::Add(const EntryFields& fields) {
  const std::string_view modified = fields.modified.substr(0, 255);
  const std::string_view target =
      KeptWhole(fields.link_target, fields.type == EntryType::kLink, UINT16_MAX);
  const std::string_view unique =
      KeptWhole(fields.unique, fields.type == EntryType::kFolder, UINT8_MAX);
  if (text_.size() + fields.name.size() + modified.size() + target.size() + unique.size() >
      std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("a listing with more than 4 GiB of names");
  }
  rows_.push_back(
      Row{static_cast<std::uint32_t>(text_.size()), static_cast<std::uint32_t>(fields.name.size()),
          fields.size, static_cast<std::uint16_t>(fields.permission_bits & 07777),
          static_cast<std::uint16_t>(target.size()), static_cast<std::uint8_t>(modified.size()),
          static_cast<std::uint8_t>(unique.size()), fields.type, fields.format});
  text_.append(fields.name);
  text_.append(modified);
  text_.append(target);
  text_.append(unique);
}

void EntryTable::RemoveLast() {
  text_.resize(rows_.back().text_at);
  rows_.pop_back();
}

EntryView EntryTable::at(std::size_t index) const {
  const Row& row = rows_[index];
  const std::string_view text(text_);
  std::size_t at = row.text_at;
  const auto next = [&](std::size_t size) {
    const std::string_view part = text.substr(at, size);
    at += size;
    return part;
  };
  EntryView view;
  view.name = next(row.name_size);
  view.modified = next(row.modified_size);
  view.link_target = next(row.target_size);
  view.unique = next(row.unique_size);
  view.size = row.size;
  view.permission_bits = row.permission_bits;
  view.type = row.type;
  view.format = row.format;
  return view;
}

void EntryTable::ShrinkToFit() {
  text_.shrink_to_fit();
  rows_.shrink_to_fit();
}

}  // namespace pullwire::ftp
