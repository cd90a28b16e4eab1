// The command record codec: the host's 24 string slots to CommandSettings and back, and the
// number conversion the record, the editor and the run share.
#include "module/command_record.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <variant>

#include "module/host_locale.h"

namespace pullwire {
namespace {

// How a slot's text maps onto its field.
struct StringField { std::string CommandSettings::*member; };
struct Int16Field { std::int16_t CommandSettings::*member; };
struct Int16Into32Field { std::int32_t CommandSettings::*member; };  // TransferMode
struct Int32Field { std::int32_t CommandSettings::*member; };
struct FlagField { bool CommandSettings::*member; };
using SlotField = std::variant<StringField, Int16Field, Int16Into32Field, Int32Field, FlagField>;

// Index i holds slot i + 1.
const SlotField kSlots[kRecordSlots] = {
    StringField{&CommandSettings::Host},
    StringField{&CommandSettings::Username},
    StringField{&CommandSettings::Password},
    Int16Field{&CommandSettings::Port},
    Int16Into32Field{&CommandSettings::TransferMode},
    Int32Field{&CommandSettings::Timeout},
    FlagField{&CommandSettings::Passive},
    StringField{&CommandSettings::RemoteDir},
    StringField{&CommandSettings::LocalDir},
    FlagField{&CommandSettings::AutoDelete},
    FlagField{&CommandSettings::ProcessAll},
    FlagField{&CommandSettings::Overwrite},
    Int16Field{&CommandSettings::ProxyType},
    StringField{&CommandSettings::ProxyHost},
    Int16Field{&CommandSettings::ProxyPort},
    StringField{&CommandSettings::ProxyUsername},
    StringField{&CommandSettings::ProxyPassword},
    FlagField{&CommandSettings::SaveFilename},
    StringField{&CommandSettings::VarScope},
    Int16Field{&CommandSettings::VarNumber},
    FlagField{&CommandSettings::CopySpecific},
    StringField{&CommandSettings::SpecificFilename},
    StringField{&CommandSettings::Filter},
    FlagField{&CommandSettings::IncludeSubdir},
};
constexpr int kTransferModeSlot = 5;

template <class... Ts>
struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// The record's text at `slot`; a missing index, also in an array that is not one-dimensional,
// is "Subscript out of range" as the host's own array access would report it.
const std::string& SlotText(const com::StringArray& record, int slot) {
  const std::string* text = record.Find(slot);
  if (text == nullptr) throw RecordError(com::kVbSubscriptOutOfRange);
  return *text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The host locale's decimal sign turned into "." ("21,5" under German reads as "21.5"); "." itself
// stays a decimal point everywhere, as records and the dialogs' boxes have always written it.
std::string WithDecimalPoint(std::string_view text) {
  std::string normalised(text);
  const std::string sign = HostLocale(LocaleCategory::kNumeric).DecimalSign();
  if (sign == ".") return normalised;
  for (std::size_t at = normalised.find(sign); at != std::string::npos;
       at = normalised.find(sign, at + 1)) {
    normalised.replace(at, sign.size(), ".");
  }
  return normalised;
}

// Rounds half to even, then checks the target range, as the host's integer conversion does.
template <typename Int>
Int ConvertToInteger(std::string_view text) {
  const std::optional<double> value = ParseNumber(text);
  if (!value) throw RecordError(com::kVbTypeMismatch);
  if (!std::isfinite(*value)) throw RecordError(com::kVbOverflow);
  const double rounded = std::nearbyint(*value);  // default rounding mode: to nearest, ties to even
  if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
    throw RecordError(com::kVbOverflow);
  }
  return static_cast<Int>(rounded);
}

// The slot's text as a failure quotes it: control bytes as "?", at most 40 bytes.
std::string QuotedSlotText(std::string_view text) {
  constexpr std::size_t kShown = 40;
  std::string quoted = "\"";
  for (const char c : text.substr(0, kShown)) {
    quoted += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  }
  return quoted + (text.size() > kShown ? "...\"" : "\"");
}

// A run's number slot: the failure names the slot, its field and its text, so that a person can
// find it in the command; the number (13 or 6) stays the conversion's.
template <typename Int, typename Convert>
Int RunNumber(int slot, const std::string& text, Convert convert) {
  try {
    return convert(text);
  } catch (const RecordError& e) {
    const std::string field = fmt::format("slot {} ({}): {}", slot,
                                          kRecordFieldNames[static_cast<std::size_t>(slot - 1)],
                                          QuotedSlotText(text));
    if (e.vb_number() != com::kVbOverflow) {
      throw RecordError(e.vb_number(), field + " is not a number");
    }
    throw RecordError(e.vb_number(), fmt::format("{} is outside {}..{}", field,
                                                 std::numeric_limits<Int>::min(),
                                                 std::numeric_limits<Int>::max()));
  }
}

}  // namespace

std::optional<double> ParseNumber(std::string_view host_text) {
  const std::string normalised = WithDecimalPoint(host_text);
  std::string_view text = normalised;
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Grammar: digits [ "." digits ] [ ("e"|"E") [sign] digits ], at least one mantissa digit.
  std::size_t pos = 0;
  std::size_t mantissa_digits = 0;
  bool point = false;
  for (; pos < text.size(); ++pos) {
    if (IsDigit(text[pos])) {
      ++mantissa_digits;
    } else if (text[pos] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (mantissa_digits == 0) return std::nullopt;
  bool negative_exponent = false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    std::size_t exp = pos + 1;
    if (exp < text.size() && (text[exp] == '+' || text[exp] == '-')) negative_exponent = text[exp++] == '-';
    const std::size_t exp_digits_start = exp;
    while (exp < text.size() && IsDigit(text[exp])) ++exp;
    if (exp == exp_digits_start) return std::nullopt;
    pos = exp;
  }
  if (pos != text.size()) return std::nullopt;

  // from_chars does not take a leading "+" and ignores the locale, which is what we want here.
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Beyond double's range: a large magnitude overflows later, a tiny one is zero.
    value = negative_exponent ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (ec != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

std::int16_t ConvertToInt16(std::string_view text) { return ConvertToInteger<std::int16_t>(text); }

std::int32_t ConvertToInt32(std::string_view text) { return ConvertToInteger<std::int32_t>(text); }

void DecodeForEditing(const com::StringArray& record, CommandSettings& settings) {
  for (int slot = 1; slot <= kRecordSlots; ++slot) {
    const std::string& text = SlotText(record, slot);
    if (text.empty()) {
      // An empty slot keeps what the last Setup, save or run left, except the transfer mode.
      if (slot == kTransferModeSlot) settings.TransferMode = 1;
      continue;
    }
    std::visit(Overloaded{
                   [&](StringField f) { settings.*f.member = text; },
                   [&](Int16Field f) { settings.*f.member = ConvertToInt16(text); },
                   [&](Int16Into32Field f) { settings.*f.member = ConvertToInt16(text); },
                   [&](Int32Field f) { settings.*f.member = ConvertToInt32(text); },
                   [&](FlagField f) {
                     if (text == "0") settings.*f.member = false;
                     if (text == "1") settings.*f.member = true;
                   },
               },
               kSlots[slot - 1]);
  }
}

void DecodeForRun(const com::StringArray& record, CommandSettings& settings) {
  for (int slot = 1; slot <= kRecordSlots; ++slot) {
    const std::string& text = SlotText(record, slot);
    std::visit(Overloaded{
                   [&](StringField f) { settings.*f.member = text; },
                   [&](Int16Field f) {
                     settings.*f.member = RunNumber<std::int16_t>(slot, text, ConvertToInt16);
                   },
                   [&](Int16Into32Field f) {
                     settings.*f.member = RunNumber<std::int16_t>(slot, text, ConvertToInt16);
                   },
                   [&](Int32Field f) {
                     settings.*f.member = RunNumber<std::int32_t>(slot, text, ConvertToInt32);
                   },
                   [&](FlagField f) { settings.*f.member = text != "0"; },
               },
               kSlots[slot - 1]);
  }
}

void EncodeEditedRecord(const CommandSettings& settings, ModuleState& state) {
  std::array<std::string, kRecordSlots + 1> record{};
  for (int slot = 1; slot <= kRecordSlots; ++slot) {
    record[static_cast<std::size_t>(slot)] = std::visit(
        Overloaded{
            [&](StringField f) { return settings.*f.member; },
            [&](Int16Field f) { return std::to_string(settings.*f.member); },
            [&](Int16Into32Field f) { return std::to_string(settings.*f.member); },
            [&](Int32Field f) { return std::to_string(settings.*f.member); },
            [&](FlagField f) { return std::string(settings.*f.member ? "1" : "0"); },
        },
        kSlots[slot - 1]);
  }
  state.EditedRecord = std::move(record);
  state.EditedRecordCount = kRecordSlots;
}

}  // namespace pullwire
