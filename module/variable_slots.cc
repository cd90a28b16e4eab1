// Variable slots and constant captions.
#include "module/variable_slots.h"

#include <fmt/format.h>

#include "module/vb_error.h"
#include "pullwire/record_fields.h"

namespace pullwire {
namespace {

constexpr int kVarNumberSlot = 20;

const char* Prefix(ConstantScope scope) { return scope == ConstantScope::kLocal ? "<LC" : "<GC"; }

std::string Placeholder(ConstantScope scope, int number) {
  return Prefix(scope) + std::to_string(number) + ">";
}

}  // namespace

const VariableSlot& ReadVariableSlot(const std::array<VariableSlot, kVariableSlots>& slots, std::int32_t index) {
  if (index < 0 || index >= kVariableSlots) throw VbError(com::kVbSubscriptOutOfRange);
  return slots[static_cast<std::size_t>(index)];
}

void ResetVariableSlots(ModuleState& state) {
  for (int i = 0; i < kVariableSlots - 1; ++i) {
    state.LocalVars[static_cast<std::size_t>(i)] = VariableSlot{};
    state.GlobalVars[static_cast<std::size_t>(i)] = VariableSlot{};
  }
}

void StoreVariable(ModuleState& state, std::string_view var_scope, std::int32_t var_number,
                   const std::string& value) {
  auto& slots = var_scope == "GLOBAL" ? state.GlobalVars : state.LocalVars;
  const std::int32_t index = var_number - 1;
  if (index < 0 || index >= kVariableSlots) {
    // Named after the record's field, so that a person finds what to change.
    throw VbError(com::kVbSubscriptOutOfRange,
                  fmt::format("slot {} ({}): {} is outside 1..{}", kVarNumberSlot,
                              kRecordFieldNames[kVarNumberSlot - 1], var_number, kVariableSlots));
  }
  VariableSlot& slot = slots[static_cast<std::size_t>(index)];
  slot.Use = true;
  slot.Value = value;
}

void SetConstantCaptions(ModuleState& state, ConstantScope scope, const com::StringArray& values) {
  auto& captions = scope == ConstantScope::kLocal ? state.LocalConstantCaptions : state.GlobalConstantCaptions;
  for (int i = 1; i <= kConstantCount; ++i) {
    const std::string* text = values.Find(i);
    if (text == nullptr) throw VbError(com::kVbSubscriptOutOfRange);
    captions[static_cast<std::size_t>(i - 1)] = Placeholder(scope, i) + " " + *text;
  }
}

std::string ConstantCaption(const ModuleState& state, ConstantScope scope, int number) {
  if (number < 1 || number > kConstantCount) return {};
  const auto& captions = scope == ConstantScope::kLocal ? state.LocalConstantCaptions : state.GlobalConstantCaptions;
  const auto& caption = captions[static_cast<std::size_t>(number - 1)];
  return caption ? *caption : Placeholder(scope, number);
}

}  // namespace pullwire
