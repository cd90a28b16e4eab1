// The command record: decoding the host's 24 string slots into CommandSettings (for editing and
// for a run) and encoding CommandSettings into the edited record.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "com/variant.h"
#include "module/command_settings.h"
#include "module/module_state.h"
#include "module/vb_error.h"

namespace pullwire {

// A decode failure, numbered the Visual Basic way (9 subscript out of range, 13 type mismatch,
// 6 overflow). Fields of the slots before the faulty one have already been taken over.
class RecordError : public VbError {
 public:
  RecordError(std::int32_t vb_number, const std::string& description) : VbError(vb_number, description) {}
  explicit RecordError(std::int32_t vb_number) : VbError(vb_number) {}
};

// Before the editor opens: empty slots keep the field (slot 5 empty sets TransferMode 1); flags
// change only for exactly "0" or "1". Throws RecordError.
void DecodeForEditing(const com::StringArray& record, CommandSettings& settings);

// Before a run: every slot is taken; a flag is False only for exactly "0". Throws RecordError.
void DecodeForRun(const com::StringArray& record, CommandSettings& settings);

// The editor's save: EditedRecord made anew (index 0 empty), EditedRecordCount 24.
void EncodeEditedRecord(const CommandSettings& settings, ModuleState& state);

// Number text to integer: blanks around, a sign, digits with one decimal point, an exponent;
// rounded to the nearest whole number, halves to even. Throws RecordError 13 for text that is not
// a number and 6 for a value outside the type's range.
// The decimal point is "." or the decimal sign of the host's LC_NUMERIC ("," in German), read
// from the environment on each call; digit grouping is not taken.
std::int16_t ConvertToInt16(std::string_view text);
std::int32_t ConvertToInt32(std::string_view text);
// The same reading without rounding or range: nullopt when the text is not a number.
std::optional<double> ParseNumber(std::string_view text);

}  // namespace pullwire
