// What a host reads back from a Toolbox, by vtable or by name, and the expectations the
// in-process Toolbox tests and the loaded-library tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "com/error_info.h"
#include "com/late_binding.h"
#include "pullwire/record_variants.h"
#include "pullwire/toolbox.h"

namespace pullwire::testing {

// A raised error: the facility-control result and the record with number, text and source.
inline void ExpectRaised(com::HRESULT hr, std::int32_t number, const std::string& description) {
  EXPECT_EQ(hr, com::VbErrorResult(number));
  const auto record = com::GetErrorInfo();
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->number, number);
  EXPECT_EQ(record->description, description);
  EXPECT_EQ(record->source, "Pullwire.Toolbox");
}

// Late binding the way a script host does it: the name first, then Invoke.
inline com::HRESULT CallByName(com::IDispatch& object, std::string_view name, com::InvokeKind kind,
                               std::vector<com::Variant> args, com::Variant* result = nullptr) {
  return com::InvokeByName(object, name, kind, args, result);
}

inline com::Variant Get(com::IDispatch& object, std::string_view name, std::vector<com::Variant> args = {}) {
  com::Variant result;
  EXPECT_EQ(CallByName(object, name, com::InvokeKind::kPropertyGet, std::move(args), &result), com::S_OK) << name;
  return result;
}

// Start values no accessor hands out, so that a read that wrote nothing cannot pass.
inline std::string Unread(std::string*) { return "<unread>"; }
inline std::int16_t Unread(std::int16_t*) { return -12345; }
inline com::VariantBool Unread(com::VariantBool*) { return com::VariantBool{7}; }

// What a get accessor hands out: `Read(*box, &_Toolbox::get_Error)`.
template <typename T>
T Read(_Toolbox& box, com::HRESULT (_Toolbox::*get)(T* /*out*/)) {
  T value = Unread(static_cast<T*>(nullptr));
  EXPECT_EQ((box.*get)(&value), com::S_OK);
  return value;
}

// The value `value` holds when it is a T; a failure naming the member otherwise.
template <typename T>
T ValueOf(const com::Variant& value, std::string_view name) {
  if (const T* held = value.Get<T>()) return *held;
  ADD_FAILURE() << name << " came back as another type";
  return T{};
}

// The values a host reads after Init.
struct HostView {
  std::string info, author, version;
  std::int16_t module_count, message_count, data_count;
  com::VariantBool error;
  ModType module;       // ModuleInfo(1)
  MessageType message;  // Message(0)
};

inline HostView ReadByVtable(_Toolbox& box) {
  HostView view{Read(box, &_Toolbox::get_Info),         Read(box, &_Toolbox::get_Author),
                Read(box, &_Toolbox::get_Version),      Read(box, &_Toolbox::get_ModuleCount),
                Read(box, &_Toolbox::get_MessageCount), Read(box, &_Toolbox::get_DataCount),
                Read(box, &_Toolbox::get_Error),        {},
                MessageType{"<unread>", "", 0}};
  EXPECT_EQ(box.get_ModuleInfo(1, &view.module), com::S_OK);
  EXPECT_EQ(box.get_Message(0, &view.message), com::S_OK);
  return view;
}

// The same through Invoke; each value must come back with its type (16-bit counts, a Boolean,
// the named records).
inline HostView ReadByName(com::IDispatch& box) {
  HostView view{};
  const auto text = [&](const char* name) { return ValueOf<std::string>(Get(box, name), name); };
  const auto count = [&](const char* name) { return ValueOf<std::int16_t>(Get(box, name), name); };
  view.info = text("Info");
  view.author = text("Author");
  view.version = text("Version");
  view.module_count = count("ModuleCount");
  view.message_count = count("MessageCount");
  view.data_count = count("DataCount");
  view.error = ValueOf<com::VariantBool>(Get(box, "Error"), "Error");
  const auto module = ModTypeFromRecord(ValueOf<com::Record>(Get(box, "ModuleInfo", {std::int16_t{1}}), "ModuleInfo"));
  const auto message = MessageTypeFromRecord(ValueOf<com::Record>(Get(box, "Message", {std::int16_t{0}}), "Message"));
  EXPECT_TRUE(module.has_value()) << "ModuleInfo is a ModType";
  EXPECT_TRUE(message.has_value()) << "Message is a MessageType";
  view.module = module.value_or(ModType{"<not a ModType>", "", "", "", "", ""});
  view.message = message.value_or(MessageType{"<not a MessageType>", "", 0});
  return view;
}

// Init's values: the descriptions, the one module, an empty queue, no save and no error.
inline void ExpectAfterInit(const HostView& view) {
  EXPECT_EQ(view.info, "Norvik Plugin: Pullwire");
  EXPECT_EQ(view.author, "Maren Holt, Quenlo");
  EXPECT_EQ(view.version, "4.5.0");
  EXPECT_EQ(view.module_count, 1);
  EXPECT_EQ(view.module, (ModType{"Pullwire", "il_pullwire.ico", "is_pullwire.ico", "Network", "icl_network.ico",
                                  "ics_network.ico"}));
  EXPECT_EQ(view.message_count, 0);
  EXPECT_EQ(view.message, MessageType{});
  EXPECT_EQ(view.data_count, 0);
  EXPECT_EQ(view.error, com::kVariantFalse);
}

// After Init: every index outside the message queue (0..1), the module table (0..2) and the
// variables (0..15) raises 9 and leaves the out-value as it was.
inline void ExpectIndexesOutsideTheTablesRaise(_Toolbox& box) {
  for (const std::int16_t index : {-32768, -1, 2, 32767}) {
    MessageType message{"kept", "", 0};
    ExpectRaised(box.get_Message(index, &message), 9, "Subscript out of range");
    EXPECT_EQ(message.Timestamp, "kept") << index;
  }
  for (const std::int16_t index : {-32768, -1, 3, 32767}) {
    ModType module{"kept", "", "", "", "", ""};
    ExpectRaised(box.get_ModuleInfo(index, &module), 9, "Subscript out of range");
    EXPECT_EQ(module.Name, "kept") << index;
  }
  for (const std::int16_t index : {-32768, -1, 16, 32767}) {
    VarType local{com::kVariantTrue, "kept"};
    VarType global = local;
    ExpectRaised(box.get_LocalVar(index, &local), 9, "Subscript out of range");
    ExpectRaised(box.get_GlobalVar(index, &global), 9, "Subscript out of range");
    EXPECT_EQ(local.Value, "kept") << index;
    EXPECT_EQ(global.Value, "kept") << index;
  }
}

}  // namespace pullwire::testing
