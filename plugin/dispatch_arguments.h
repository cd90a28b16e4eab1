// Late-bound argument coercion the way an automation host converts: numbers, strings and
// Booleans into one another, failing with Visual Basic's type mismatch (13) or overflow (6).
#pragma once

#include <cstdint>
#include <string>

#include "com/variant.h"

namespace pullwire {

// Each throws VbError 13 for a value of a kind that cannot convert (an array, a record, text
// that is not a number) and VbError 6 for a number outside the target's range. Empty reads as
// 0, "" or False.
std::int16_t ArgumentToInt16(const com::Variant& value);
std::string ArgumentToString(const com::Variant& value);
com::VariantBool ArgumentToBool(const com::Variant& value);
// Only an array converts to an array.
const com::StringArray& ArgumentToStringArray(const com::Variant& value);

}  // namespace pullwire
