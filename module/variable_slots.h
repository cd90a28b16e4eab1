// The host's numbered variables and the constant captions of the placeholder menu.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "com/variant.h"
#include "module/module_state.h"

namespace pullwire {

enum class ConstantScope { kLocal, kGlobal };

// Slot `index` (0..15) of LocalVars or GlobalVars; throws VbError 9 for any other index.
const VariableSlot& ReadVariableSlot(const std::array<VariableSlot, kVariableSlots>& slots, std::int32_t index);

// Init's reset: slots 0..14 of both arrays to unused and empty; slot 15 keeps its content.
void ResetVariableSlots(ModuleState& state);

// The run's write of a downloaded file's name: variable `var_number` (1..16) lives in slot
// var_number - 1, in GlobalVars for exactly "GLOBAL" and in LocalVars for any other scope.
// Throws VbError 9, naming the record's VarNumber, when the slot index is invalid.
void StoreVariable(ModuleState& state, std::string_view var_scope, std::int32_t var_number,
                   const std::string& value);

// Sets the captions "<LC" + i + "> " + values(i) (or "<GC") for i = 1..15 in ascending order.
// Throws VbError 9 at the first index the array lacks; the lower captions stay set.
void SetConstantCaptions(ModuleState& state, ConstantScope scope, const com::StringArray& values);

// The caption of constant `number` (1..15) as the placeholder menu shows it: the stored one, or
// "<LC1>" / "<GC1>" without a value until the host sent the constants.
std::string ConstantCaption(const ModuleState& state, ConstantScope scope, int number);

}  // namespace pullwire
