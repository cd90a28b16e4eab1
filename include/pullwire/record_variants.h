// The records as late binding carries them: com::Record values named and fielded like the type
// library's VarType, ModType and MessageType, and back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "com/variant.h"
#include "pullwire/records.h"

namespace pullwire {

inline com::Record ToRecord(const VarType& v) {
  return com::Record{"VarType", {{"Use", v.Use}, {"Value", v.Value}}};
}

inline com::Record ToRecord(const ModType& m) {
  return com::Record{"ModType",
                     {{"Name", m.Name},
                      {"IconLarge", m.IconLarge},
                      {"IconSmall", m.IconSmall},
                      {"Cat", m.Cat},
                      {"CatIconLarge", m.CatIconLarge},
                      {"CatIconSmall", m.CatIconSmall}}};
}

inline com::Record ToRecord(const MessageType& m) {
  return com::Record{"MessageType", {{"Timestamp", m.Timestamp}, {"Message", m.Message}, {"Mtype", m.Mtype}}};
}

namespace record_detail {

// The value of field `index` when it is named `name` and holds a T; nullptr otherwise.
template <typename T>
const T* Field(const com::Record& record, std::size_t index, std::string_view name) {
  if (index >= record.fields.size() || record.fields[index].name != name) return nullptr;
  return std::get_if<T>(&record.fields[index].value);
}

}  // namespace record_detail

// nullopt unless the record has exactly the type's name, fields and field types.
inline std::optional<VarType> VarTypeFromRecord(const com::Record& r) {
  using record_detail::Field;
  const auto* use = Field<com::VariantBool>(r, 0, "Use");
  const auto* value = Field<std::string>(r, 1, "Value");
  if (r.type_name != "VarType" || r.fields.size() != 2 || !use || !value) return std::nullopt;
  return VarType{*use, *value};
}

inline std::optional<ModType> ModTypeFromRecord(const com::Record& r) {
  using record_detail::Field;
  static constexpr std::string_view kNames[] = {"Name", "IconLarge", "IconSmall", "Cat", "CatIconLarge", "CatIconSmall"};
  if (r.type_name != "ModType" || r.fields.size() != 6) return std::nullopt;
  std::string values[6];
  for (std::size_t i = 0; i < 6; ++i) {
    const auto* text = Field<std::string>(r, i, kNames[i]);
    if (!text) return std::nullopt;
    values[i] = *text;
  }
  return ModType{values[0], values[1], values[2], values[3], values[4], values[5]};
}

inline std::optional<MessageType> MessageTypeFromRecord(const com::Record& r) {
  using record_detail::Field;
  const auto* timestamp = Field<std::string>(r, 0, "Timestamp");
  const auto* message = Field<std::string>(r, 1, "Message");
  const auto* mtype = Field<std::int16_t>(r, 2, "Mtype");
  if (r.type_name != "MessageType" || r.fields.size() != 3 || !timestamp || !message || !mtype) return std::nullopt;
  return MessageType{*timestamp, *message, *mtype};
}

}  // namespace pullwire
