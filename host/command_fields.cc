// Checking a command file's written values and the rules between its keys.
#include "host/command_fields.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/command_file.h"

namespace pullwire::host {
namespace {

using Json = nlohmann::json;

static_assert([] {
  for (std::size_t i = 0; i < kCommandFields.size(); ++i) {
    if (kCommandFields[i].name != kRecordFieldNames[i]) return false;
  }
  return true;
}(), "the command file's keys are the record's field names in slot order");

// The written value as the user wrote it, JSON-escaped and cut short; never a password.
std::string Shown(const CommandField& field, const Json& value) {
  if (field.kind == FieldKind::kSecret) return "the value";
  constexpr std::size_t kShown = 60;
  std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (text.size() > kShown) text = text.substr(0, kShown) + "...";
  return text;
}

[[noreturn]] void Refuse(const CommandField& field, const Json& value, std::string_view problem) {
  throw CommandFileError(fmt::format("{}: {} {}", field.name, Shown(field, value), problem));
}

std::optional<std::int64_t> WholeNumber(const Json& value) {
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_unsigned()) {
    const std::uint64_t n = value.get<std::uint64_t>();
    return n > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(n);
  }
  if (value.is_number_float()) {
    const double d = value.get<double>();
    if (!std::isfinite(d) || std::floor(d) != d) return std::nullopt;
    return std::abs(d) > 1e15 ? static_cast<std::int64_t>(std::copysign(1e15, d))
                              : static_cast<std::int64_t>(d);
  }
  if (!value.is_string()) return std::nullopt;
  const std::string& text = value.get_ref<const std::string&>();
  const std::size_t digits_from = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() == digits_from) return std::nullopt;
  if (!std::all_of(text.begin() + static_cast<std::ptrdiff_t>(digits_from), text.end(),
                   [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  std::int64_t n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error == std::errc::result_out_of_range) return digits_from == 1 ? INT64_MIN : INT64_MAX;
  return n;
}

std::string NumberText(const CommandField& field, const Json& value) {
  const std::optional<std::int64_t> n = WholeNumber(value);
  if (!n) {
    Refuse(field, value, fmt::format("is not a whole number in {}..{}", field.min, field.max));
  }
  if (*n < field.min || *n > field.max) {
    Refuse(field, value, fmt::format("is outside {}..{}", field.min, field.max));
  }
  return std::to_string(*n);
}

std::string FlagText(const CommandField& field, const Json& value) {
  if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text == "0" || text == "1") return text;
  }
  if (value.is_number_integer() || value.is_number_unsigned()) {
    const std::int64_t n = value.get<std::int64_t>();
    if (n == 0 || n == 1) return std::to_string(n);
  }
  Refuse(field, value, "is not 0 or 1");
}

// Filters are plain text found anywhere in a name; "*" alone passes every name. A "*.csv" would
// silently match nothing, so it is refused with what was probably meant.
std::string FilterText(const CommandField& field, const Json& value, std::string text) {
  if (text.empty()) return "*";  // as the editor stores an empty filter box
  if (text == "*" || text.find_first_of("*?") == std::string::npos) return text;
  std::string meant = text;
  std::erase_if(meant, [](char c) { return c == '*' || c == '?'; });
  Refuse(field, value,
         fmt::format("uses a wildcard, but a filter is text found anywhere in the name (write "
                     "{}); \"*\" alone means every file",
                     Json(meant).dump()));
}

bool On(const CommandSlots& slots, std::string_view name) {
  return slots[static_cast<std::size_t>(FieldIndex(name))] == "1";
}

const std::string& Text(const CommandSlots& slots, std::string_view name) {
  return slots[static_cast<std::size_t>(FieldIndex(name))];
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string_view UnsafeTextProblem(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return "contains a NUL";
  if (text.find_first_of("\r\n") != std::string_view::npos) return "contains a line break";
  return {};
}

std::string CheckedSlotText(const CommandField& field, const Json& value) {
  if (value.is_null()) return std::string(field.default_text);
  if (value.is_string()) {
    const std::string_view problem = UnsafeTextProblem(value.get_ref<const std::string&>());
    if (!problem.empty()) Refuse(field, value, problem);
  }
  switch (field.kind) {
    case FieldKind::kNumber:
      return NumberText(field, value);
    case FieldKind::kFlag:
      return FlagText(field, value);
    case FieldKind::kScope:
      if (value == "LOCAL" || value == "GLOBAL") return value.get<std::string>();
      Refuse(field, value, "is not LOCAL or GLOBAL");
    case FieldKind::kText:
    case FieldKind::kSecret:
      break;
  }
  if (!value.is_string()) Refuse(field, value, "is not a string (write it in double quotes)");
  if (field.name == "Filter") return FilterText(field, value, value.get<std::string>());
  return value.get<std::string>();
}

void CheckCombination(const CommandSlots& slots) {
  const bool specific = On(slots, "CopySpecific");
  const bool folders = On(slots, "IncludeSubdir");
  if (specific && Text(slots, "SpecificFilename").empty()) {
    throw CommandFileError(
        "CopySpecific: 1 needs SpecificFilename, the name of the file to download");
  }
  if (specific && folders) {
    throw CommandFileError(
        "CopySpecific: 1 cannot be used with IncludeSubdir 1 (the folder mode fetches every "
        "entry, not the one file)");
  }
  if (folders && Text(slots, "TransferMode") == "3") {
    throw CommandFileError("TransferMode: 3 (ZIP) cannot be used with IncludeSubdir 1");
  }
  if (On(slots, "SaveFilename") && (folders || (On(slots, "ProcessAll") && !specific))) {
    throw CommandFileError(
        "SaveFilename: 1 stores the name of one file and has no effect with ProcessAll 1 or "
        "IncludeSubdir 1 (use CopySpecific, or ProcessAll 0 for the first file)");
  }
}

std::string_view ClosestFieldName(std::string_view key) {
  std::string_view best;
  std::size_t best_distance = 3;  // at most two letters off
  for (const CommandField& field : kCommandFields) {
    const std::size_t distance = EditDistance(key, field.name);
    if (distance < best_distance) {
      best = field.name;
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace pullwire::host
