// The automation value type: what crosses IDispatch::Invoke as an argument or a result.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "com/safe_array.h"

namespace pullwire::com {

// A 16-bit automation Boolean: True is -1, False is 0.
struct VariantBool {
  std::int16_t value = 0;

  static constexpr VariantBool From(bool b) { return VariantBool{static_cast<std::int16_t>(b ? -1 : 0)}; }
  constexpr bool IsTrue() const { return value != 0; }
  friend constexpr bool operator==(VariantBool, VariantBool) = default;
};
inline constexpr VariantBool kVariantTrue{-1};
inline constexpr VariantBool kVariantFalse{0};

struct EmptyValue {
  friend constexpr bool operator==(EmptyValue, EmptyValue) = default;
};

using StringArray = SafeArray<std::string>;

// A user-defined type passed by value (VarType, ModType, MessageType): its name and its fields
// in declaration order. Field values are scalars only, which is all the records need.
struct RecordField {
  using Value = std::variant<VariantBool, std::int16_t, std::int32_t, std::string>;
  std::string name;
  Value value;

  friend bool operator==(const RecordField&, const RecordField&) = default;
};
struct Record {
  std::string type_name;
  std::vector<RecordField> fields;

  friend bool operator==(const Record&, const Record&) = default;
};

enum class VariantKind { kEmpty, kBool, kInt16, kInt32, kString, kStringArray, kRecord };

class Variant {
 public:
  using Storage =
      std::variant<EmptyValue, VariantBool, std::int16_t, std::int32_t, std::string, StringArray, Record>;

  Variant() = default;
  Variant(VariantBool b) : value_(b) {}
  Variant(std::int16_t i) : value_(i) {}
  Variant(std::int32_t i) : value_(i) {}
  Variant(std::string s) : value_(std::move(s)) {}
  Variant(const char* s) : value_(std::string(s)) {}
  Variant(StringArray a) : value_(std::move(a)) {}
  Variant(Record r) : value_(std::move(r)) {}

  VariantKind Kind() const { return static_cast<VariantKind>(value_.index()); }
  bool IsEmpty() const { return Kind() == VariantKind::kEmpty; }

  // The held value when it has exactly that kind, else nullptr (no conversions here).
  template <typename T>
  const T* Get() const { return std::get_if<T>(&value_); }
  template <typename T>
  T* Get() { return std::get_if<T>(&value_); }

  const Storage& storage() const { return value_; }

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  Storage value_;
};

}  // namespace pullwire::com
