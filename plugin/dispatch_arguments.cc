// Argument coercion for Invoke.
#include "plugin/dispatch_arguments.h"

#include <limits>

#include "com/names.h"
#include "module/command_record.h"
#include "module/vb_error.h"

namespace pullwire {
namespace {

template <class... Ts>
struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

[[noreturn]] void TypeMismatch() { throw VbError(com::kVbTypeMismatch); }

}  // namespace

std::int16_t ArgumentToInt16(const com::Variant& value) {
  return std::visit(Overloaded{
                        [](const com::EmptyValue&) -> std::int16_t { return 0; },
                        [](com::VariantBool b) -> std::int16_t { return b.value; },
                        [](std::int16_t i) -> std::int16_t { return i; },
                        [](std::int32_t i) -> std::int16_t {
                          if (i < std::numeric_limits<std::int16_t>::min() ||
                              i > std::numeric_limits<std::int16_t>::max()) {
                            throw VbError(com::kVbOverflow);
                          }
                          return static_cast<std::int16_t>(i);
                        },
                        [](const std::string& s) -> std::int16_t { return ConvertToInt16(s); },
                        [](const com::StringArray&) -> std::int16_t { TypeMismatch(); },
                        [](const com::Record&) -> std::int16_t { TypeMismatch(); },
                    },
                    value.storage());
}

std::string ArgumentToString(const com::Variant& value) {
  return std::visit(Overloaded{
                        [](const com::EmptyValue&) -> std::string { return {}; },
                        [](com::VariantBool b) -> std::string { return b.IsTrue() ? "True" : "False"; },
                        [](std::int16_t i) -> std::string { return std::to_string(i); },
                        [](std::int32_t i) -> std::string { return std::to_string(i); },
                        [](const std::string& s) -> std::string { return s; },
                        [](const com::StringArray&) -> std::string { TypeMismatch(); },
                        [](const com::Record&) -> std::string { TypeMismatch(); },
                    },
                    value.storage());
}

com::VariantBool ArgumentToBool(const com::Variant& value) {
  return std::visit(Overloaded{
                        [](const com::EmptyValue&) { return com::kVariantFalse; },
                        [](com::VariantBool b) { return com::VariantBool::From(b.IsTrue()); },
                        [](std::int16_t i) { return com::VariantBool::From(i != 0); },
                        [](std::int32_t i) { return com::VariantBool::From(i != 0); },
                        [](const std::string& s) {
                          if (com::EqualsIgnoringCase(s, "True")) return com::kVariantTrue;
                          if (com::EqualsIgnoringCase(s, "False")) return com::kVariantFalse;
                          const std::optional<double> number = ParseNumber(s);
                          if (!number) TypeMismatch();
                          return com::VariantBool::From(*number != 0);
                        },
                        [](const com::StringArray&) -> com::VariantBool { TypeMismatch(); },
                        [](const com::Record&) -> com::VariantBool { TypeMismatch(); },
                    },
                    value.storage());
}

const com::StringArray& ArgumentToStringArray(const com::Variant& value) {
  const com::StringArray* array = value.Get<com::StringArray>();
  if (array == nullptr) TypeMismatch();
  return *array;
}

}  // namespace pullwire
