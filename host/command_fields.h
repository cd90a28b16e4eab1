// The keys of a command file's object form: what each may hold, the value a key that is not
// written takes, and the rules between keys, as the plug-in's editor applies them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "pullwire/record_fields.h"

namespace pullwire::host {

inline constexpr int kCommandSlots = kRecordFieldCount;
using CommandSlots = std::array<std::string, kCommandSlots>;  // slot 1 at index 0

enum class FieldKind {
  kText,    // any string
  kSecret,  // a string never shown
  kNumber,  // a whole number in min..max, as decimal text or a JSON number
  kFlag,    // "0"/"1", 0/1 or false/true
  kScope,   // "LOCAL" or "GLOBAL"
};

struct CommandField {
  std::string_view name;
  FieldKind kind;
  std::string_view default_text;  // the slot's text when the key is not written
  std::int32_t min = 0;           // kNumber: the allowed range
  std::int32_t max = 0;
};

// Slot order. Nothing destructive is on unless written: AutoDelete, ProcessAll, CopySpecific,
// SaveFilename and IncludeSubdir are 0; Overwrite is 1 as the editor starts it.
inline constexpr std::array<CommandField, kCommandSlots> kCommandFields = {{
    {"Host", FieldKind::kText, ""},
    {"Username", FieldKind::kText, ""},
    {"Password", FieldKind::kSecret, ""},
    {"Port", FieldKind::kNumber, "21", 1, 32767},
    {"TransferMode", FieldKind::kNumber, "1", 0, 3},
    {"Timeout", FieldKind::kNumber, "30", 1, 999},
    {"Passive", FieldKind::kFlag, "1"},
    {"RemoteDir", FieldKind::kText, ""},
    {"LocalDir", FieldKind::kText, ""},
    {"AutoDelete", FieldKind::kFlag, "0"},
    {"ProcessAll", FieldKind::kFlag, "0"},
    {"Overwrite", FieldKind::kFlag, "1"},
    {"ProxyType", FieldKind::kNumber, "0", 0, 7},
    {"ProxyHost", FieldKind::kText, ""},
    {"ProxyPort", FieldKind::kNumber, "0", 0, 32767},
    {"ProxyUsername", FieldKind::kText, ""},
    {"ProxyPassword", FieldKind::kSecret, ""},
    {"SaveFilename", FieldKind::kFlag, "0"},
    {"VarScope", FieldKind::kScope, "LOCAL"},
    {"VarNumber", FieldKind::kNumber, "1", 1, 16},
    {"CopySpecific", FieldKind::kFlag, "0"},
    {"SpecificFilename", FieldKind::kText, ""},
    {"Filter", FieldKind::kText, "*"},
    {"IncludeSubdir", FieldKind::kFlag, "0"},
}};

// The index (slot - 1) of a field by name; -1 for a name that is none.
constexpr int FieldIndex(std::string_view name) {
  for (int i = 0; i < kCommandSlots; ++i) {
    if (kCommandFields[static_cast<std::size_t>(i)].name == name) return i;
  }
  return -1;
}

// The slot text of a value written for `field`; throws CommandFileError "Key: value problem"
// ("AutoDelete: \"yes\" is not 0 or 1"). A JSON null is the field's default.
std::string CheckedSlotText(const CommandField& field, const nlohmann::json& value);

// The rules between keys of a complete object-form command (a named file with CopySpecific,
// no ZIP in the folder mode, ...); throws CommandFileError naming the keys.
void CheckCombination(const CommandSlots& slots);

// A text that would break a record or a protocol line: "contains a NUL" / "contains a line
// break"; empty when the text is fine.
std::string_view UnsafeTextProblem(std::string_view text);

// The closest field name to a misspelt key ("Overwite" -> "Overwrite"); empty when none is close.
std::string_view ClosestFieldName(std::string_view key);

}  // namespace pullwire::host
