// libpullwire.so as a host meets it: the exports, the Toolbox by vtable and by name, raised
// errors through the error record, unloading, the type library and registration.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>

#include "com/activation.h"
#include "com/error_info.h"
#include "com/registry.h"
#include "com/type_info.h"
#include "host_view.h"
#include "loaded_library.h"
#include "private_environment.h"

namespace pullwire {
namespace {

using com::StringArray;
using testing::CallByName;
using testing::ExpectRaised;
using testing::Read;
using testing::Get;
using testing::LoadedLibrary;
using testing::PrivateEnvironment;

class LibraryTest : public ::testing::Test {
 protected:
  LibraryTest() : library_(env_.root()) { com::GetErrorInfo(); }

  PrivateEnvironment env_;
  LoadedLibrary library_;
};

// The names of the dynamic symbols `library` defines, as binutils' nm lists them.
std::vector<std::string> DefinedDynamicSymbols(const std::filesystem::path& library) {
  std::vector<std::string> names;
  const std::string command = "nm -D --defined-only --format=posix '" + library.string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  std::array<char, 4096> line{};
  while (fgets(line.data(), line.size(), pipe) != nullptr) {
    std::string text(line.data());
    names.push_back(text.substr(0, text.find(' ')));
  }
  pclose(pipe);
  std::sort(names.begin(), names.end());
  return names;
}

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

TEST_F(LibraryTest, exports_only_the_four_entry_points) {
  EXPECT_EQ(DefinedDynamicSymbols(library_.path()),
            (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                      "DllUnregisterServer"}));
  EXPECT_EQ(library_.RawSymbol("_ZN8pullwire13LibraryModuleEv"), nullptr);
  void* other_class = nullptr;
  const com::Guid unknown_clsid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(library_.get_class_object(&unknown_clsid, &com::IID_IClassFactory, &other_class),
            com::CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(other_class, nullptr);
}

TEST_F(LibraryTest, a_host_session_by_vtable) {
  auto box = library_.NewToolbox();
  ASSERT_EQ(box->put_Left(120), com::S_OK);
  ASSERT_EQ(box->put_Top(240), com::S_OK);
  ASSERT_EQ(box->put_AutoLog(com::kVariantTrue), com::S_OK);
  ASSERT_EQ(box->put_dInstance("none-here"), com::S_OK);
  ASSERT_EQ(box->Init(), com::S_OK);
  testing::ExpectAfterInit(testing::ReadByVtable(*box));
  VarType slot;
  ASSERT_EQ(box->get_LocalVar(15, &slot), com::S_OK);
  EXPECT_EQ(slot, VarType{});
}

TEST_F(LibraryTest, every_member_by_name_through_invoke) {
  auto box = library_.NewToolbox();
  com::IDispatch& d = *box.get();
  const std::array<const char*, 23> names = {
      "gInfo", "gAuthor", "Init", "Left", "Top", "AutoLog", "dInstance", "Info", "Author", "Error", "Version",
      "MessageCount", "Message", "ModuleCount", "ModuleInfo", "DataCount", "Data", "LocalVar", "GlobalVar",
      "SetLocalConstants", "SetGlobalConstants", "Setup", "Execute"};
  std::vector<com::DispId> ids;
  for (const char* name : names) {
    com::DispId id = com::kDispIdUnknown;
    ASSERT_EQ(d.GetIDsOfNames(name, &id), com::S_OK) << name;
    com::DispId upper = com::kDispIdUnknown;
    d.GetIDsOfNames(UpperCase(name), &upper);
    EXPECT_EQ(upper, id) << "names match in any letter case";
    EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 0) << name;
    ids.push_back(id);
  }

  ASSERT_EQ(CallByName(d, "init", com::InvokeKind::kMethod, {}), com::S_OK);
  testing::ExpectAfterInit(testing::ReadByName(d));

  ASSERT_EQ(CallByName(d, "gInfo", com::InvokeKind::kPropertyPut, {"by name"}), com::S_OK);
  EXPECT_EQ(Get(d, "gInfo"), com::Variant("by name"));
  EXPECT_EQ(Get(d, "Info"), com::Variant("by name"));
  ASSERT_EQ(CallByName(d, "gAuthor", com::InvokeKind::kPropertyPut, {std::int32_t{42}}), com::S_OK);
  EXPECT_EQ(Get(d, "gAuthor"), com::Variant("42"));

  std::vector<std::string> constants(15, "x");
  com::Variant result = "not empty";
  ASSERT_EQ(CallByName(d, "SetLocalConstants", com::InvokeKind::kMethod, {StringArray(constants, 1)}, &result),
            com::S_OK);
  EXPECT_TRUE(result.IsEmpty());
  ASSERT_EQ(CallByName(d, "SetGlobalConstants", com::InvokeKind::kMethod, {StringArray(constants, 1)}, &result),
            com::S_OK);
  ASSERT_EQ(CallByName(d, "Execute", com::InvokeKind::kMethod, {"Other", StringArray({}, 1)}, &result), com::S_OK);
  EXPECT_TRUE(result.IsEmpty());
  const com::Variant slot = Get(d, "GlobalVar", {std::int16_t{3}});
  EXPECT_EQ(VarTypeFromRecord(*slot.Get<com::Record>()), VarType{});
}

TEST_F(LibraryTest, every_index_out_of_range_raises_9_by_vtable_and_by_name) {
  auto box = library_.NewToolbox();
  // Before Init and before a save, every index fails.
  MessageType message;
  ModType module;
  std::string data;
  ExpectRaised(box->get_Message(0, &message), 9, "Subscript out of range");
  ExpectRaised(box->get_ModuleInfo(1, &module), 9, "Subscript out of range");
  ExpectRaised(box->get_Data(0, &data), 9, "Subscript out of range");
  box->Init();
  testing::ExpectIndexesOutsideTheTablesRaise(*box);
  ExpectRaised(box->SetLocalConstants(StringArray(std::vector<std::string>(14), 1), nullptr), 9,
               "Subscript out of range");
  ExpectRaised(box->SetGlobalConstants(StringArray(std::vector<std::string>(15), 2), nullptr), 9,
               "Subscript out of range");

  const struct {
    const char* name;
    std::vector<com::Variant> args;
  } by_name[] = {
      {"Message", {std::int16_t{2}}},       {"ModuleInfo", {std::int32_t{3}}}, {"Data", {std::int16_t{0}}},
      {"LocalVar", {"16"}},                 {"GlobalVar", {std::int16_t{-1}}},
      {"SetLocalConstants", {StringArray({"a"}, 1)}}, {"SetGlobalConstants", {StringArray({}, 0)}},
  };
  for (const auto& call : by_name) {
    const auto kind = std::string(call.name).starts_with("Set") ? com::InvokeKind::kMethod : com::InvokeKind::kPropertyGet;
    ExpectRaised(CallByName(*box.get(), call.name, kind, call.args), 9, "Subscript out of range");
  }
}

TEST_F(LibraryTest, invoke_converts_arguments_and_raises_mismatch_and_overflow) {
  auto box = library_.NewToolbox();
  com::IDispatch& d = *box.get();
  box->Init();
  EXPECT_EQ(Get(d, "ModuleInfo", {"1"}).Get<com::Record>()->fields[0].value,
            com::RecordField::Value(std::string("Pullwire")));
  EXPECT_EQ(Get(d, "ModuleInfo", {" 1.4 "}).Get<com::Record>()->fields[0].value,
            com::RecordField::Value(std::string("Pullwire")));
  ExpectRaised(CallByName(d, "Top", com::InvokeKind::kPropertyPut, {std::int32_t{40000}}), 6, "Overflow");
  ExpectRaised(CallByName(d, "Left", com::InvokeKind::kPropertyPut, {"abc"}), 13, "Type mismatch");
  ExpectRaised(CallByName(d, "ModuleInfo", com::InvokeKind::kPropertyGet, {"32768"}), 6, "Overflow");
  ExpectRaised(CallByName(d, "AutoLog", com::InvokeKind::kPropertyPut, {"maybe"}), 13, "Type mismatch");
  ExpectRaised(CallByName(d, "Setup", com::InvokeKind::kMethod, {"PULLWIRE", "not an array"}), 13, "Type mismatch");
  ExpectRaised(CallByName(d, "dInstance", com::InvokeKind::kPropertyPut, {StringArray({"a"}, 0)}), 13, "Type mismatch");

  EXPECT_EQ(CallByName(d, "Info", com::InvokeKind::kPropertyGet, {std::int16_t{1}}), com::DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(com::GetErrorInfo()->number, 450);
  EXPECT_EQ(CallByName(d, "Info", com::InvokeKind::kPropertyPut, {"x"}), com::DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(com::GetErrorInfo()->number, 438);
  com::DispId id = 0;
  EXPECT_EQ(d.GetIDsOfNames("Download", &id), com::DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, com::kDispIdUnknown);
  EXPECT_EQ(d.Invoke(9999, com::InvokeKind::kMethod, {}, nullptr), com::DISP_E_MEMBERNOTFOUND);
  // A property read by a method call, as automation allows.
  com::Variant version;
  ASSERT_EQ(CallByName(d, "Version", com::InvokeKind::kMethod, {}, &version), com::S_OK);
  EXPECT_EQ(version, com::Variant("4.5.0"));
}

TEST_F(LibraryTest, setup_raises_record_faults_to_the_host) {
  auto box = library_.NewToolbox();
  std::vector<std::string> record(24, "");
  record[3] = "32768";
  ExpectRaised(box->Setup("PULLWIRE", StringArray(record, 1), nullptr), 6, "Overflow");
  record[3] = "abc";
  ExpectRaised(box->Setup("PULLWIRE", StringArray(record, 1), nullptr), 13, "Type mismatch");
  record[3] = "21";
  ExpectRaised(box->Setup("PULLWIRE", StringArray(std::vector<std::string>(23), 1), nullptr), 9, "Subscript out of range");
  ExpectRaised(box->Setup("PULLWIRE", StringArray::WithBounds({{0, 25}, {0, 2}}), nullptr), 9,
               "Subscript out of range");
  // Through Invoke the host sees the same error.
  ExpectRaised(CallByName(*box.get(), "Setup", com::InvokeKind::kMethod, {"pullwire", StringArray({"h"}, 1)}), 9,
               "Subscript out of range");
}

TEST_F(LibraryTest, can_unload_only_when_no_object_or_lock_is_alive) {
  EXPECT_EQ(library_.can_unload_now(), com::S_OK);
  auto factory = library_.Factory();
  EXPECT_EQ(library_.can_unload_now(), com::S_FALSE) << "a class factory is alive";
  com::ComPtr<_Toolbox> box;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID__Toolbox, box.ReceiveVoid()), com::S_OK);
  com::ComPtr<com::IUnknown> aggregated;
  EXPECT_EQ(factory->CreateInstance(box.get(), IID__Toolbox, aggregated.ReceiveVoid()), com::CLASS_E_NOAGGREGATION);
  // The object made for an interface it does not have is gone again: the last check would see it.
  EXPECT_EQ(factory->CreateInstance(nullptr, com::IID_IClassFactory, aggregated.ReceiveVoid()),
            com::E_NOINTERFACE);
  factory->LockServer(true);
  factory.Reset();
  EXPECT_EQ(library_.can_unload_now(), com::S_FALSE) << "an object and a lock are alive";
  box.Reset();
  EXPECT_EQ(library_.can_unload_now(), com::S_FALSE) << "a lock is alive";
  library_.Factory()->LockServer(false);
  EXPECT_EQ(library_.can_unload_now(), com::S_OK);
}

TEST_F(LibraryTest, a_reloaded_library_starts_from_the_load_time_state) {
  {
    auto box = library_.NewToolbox();
    box->Init();
    box->Execute("PULLWIRE", StringArray({"only one slot"}, 1), nullptr);  // a failed run: Error is sticky
    ASSERT_EQ(Read(*box, &_Toolbox::get_Error), com::kVariantTrue);
    box->Init();
    EXPECT_EQ(Read(*box, &_Toolbox::get_Error), com::kVariantTrue) << "Init leaves the error flag";
  }
  ASSERT_EQ(library_.can_unload_now(), com::S_OK);
  ASSERT_TRUE(library_.Unload()) << "nothing keeps the library in the process";
  library_.Load();
  auto box = library_.NewToolbox();
  EXPECT_EQ(Read(*box, &_Toolbox::get_Error), com::kVariantFalse);
  EXPECT_EQ(Read(*box, &_Toolbox::get_ModuleCount), 0);
}

TEST_F(LibraryTest, a_second_object_sees_the_first_objects_state) {
  auto first = library_.NewToolbox();
  auto second = library_.NewToolbox();
  first->Init();
  first->Execute("pullwire", StringArray({}, 1), nullptr);
  EXPECT_EQ(Read(*second, &_Toolbox::get_Error), com::kVariantTrue);
  EXPECT_EQ(Read(*second, &_Toolbox::get_ModuleCount), 1);
  EXPECT_EQ(Read(*second, &_Toolbox::get_Info), "") << "gInfo is the object's own";
}

TEST_F(LibraryTest, the_type_library_describes_five_types_and_the_members_in_order) {
  auto box = library_.NewToolbox();
  auto provider = box.As<com::IProvideTypeLibrary>(com::IID_IProvideTypeLibrary);
  ASSERT_TRUE(provider);
  const com::TypeLibraryInfo* library = nullptr;
  ASSERT_EQ(provider->GetTypeLibrary(&library), com::S_OK);
  EXPECT_EQ(library->name, "Pullwire");
  EXPECT_EQ(library->help_string, "Norvik Toolbox: Pullwire");
  EXPECT_EQ(library->lcid, 1033u);
  EXPECT_EQ(library->guid, LIBID_Pullwire);
  ASSERT_EQ(library->interfaces.size() + library->classes.size() + library->records.size(), 5u);
  const com::InterfaceInfo& toolbox = library->interfaces.at(0);
  EXPECT_EQ(toolbox.name, "_Toolbox");
  EXPECT_EQ(toolbox.iid, IID__Toolbox);
  EXPECT_TRUE(toolbox.dual);
  const com::ClassInfo& coclass = library->classes.at(0);
  EXPECT_EQ(coclass.name, "Toolbox");
  EXPECT_EQ(coclass.clsid, CLSID_Toolbox);
  EXPECT_EQ(coclass.prog_id, "Pullwire.Toolbox");
  EXPECT_EQ(coclass.default_interface, "_Toolbox");
  EXPECT_TRUE(coclass.creatable);

  using K = com::InvokeKind;
  using T = com::TypeKind;
  const struct {
    const char* name;
    K kind;
    std::vector<T> params;
    T result;
  } expected[] = {
      {"gInfo", K::kPropertyGet, {}, T::kString},
      {"gInfo", K::kPropertyPut, {T::kString}, T::kVoid},
      {"gAuthor", K::kPropertyGet, {}, T::kString},
      {"gAuthor", K::kPropertyPut, {T::kString}, T::kVoid},
      {"Init", K::kMethod, {}, T::kVoid},
      {"Left", K::kPropertyPut, {T::kInt16}, T::kVoid},
      {"Top", K::kPropertyPut, {T::kInt16}, T::kVoid},
      {"AutoLog", K::kPropertyPut, {T::kBool}, T::kVoid},
      {"dInstance", K::kPropertyPut, {T::kString}, T::kVoid},
      {"Info", K::kPropertyGet, {}, T::kString},
      {"Author", K::kPropertyGet, {}, T::kString},
      {"Error", K::kPropertyGet, {}, T::kBool},
      {"Version", K::kPropertyGet, {}, T::kString},
      {"MessageCount", K::kPropertyGet, {}, T::kInt16},
      {"Message", K::kPropertyGet, {T::kInt16}, T::kRecord},
      {"ModuleCount", K::kPropertyGet, {}, T::kInt16},
      {"ModuleInfo", K::kPropertyGet, {T::kInt16}, T::kRecord},
      {"DataCount", K::kPropertyGet, {}, T::kInt16},
      {"Data", K::kPropertyGet, {T::kInt16}, T::kString},
      {"LocalVar", K::kPropertyGet, {T::kInt16}, T::kRecord},
      {"GlobalVar", K::kPropertyGet, {T::kInt16}, T::kRecord},
      {"SetLocalConstants", K::kMethod, {T::kStringArray}, T::kVariant},
      {"SetGlobalConstants", K::kMethod, {T::kStringArray}, T::kVariant},
      {"Setup", K::kMethod, {T::kString, T::kStringArray}, T::kVariant},
      {"Execute", K::kMethod, {T::kString, T::kStringArray}, T::kVariant},
  };
  ASSERT_EQ(toolbox.members.size(), std::size(expected));
  for (std::size_t i = 0; i < toolbox.members.size(); ++i) {
    const com::MemberInfo& m = toolbox.members[i];
    EXPECT_EQ(m.name, expected[i].name) << i;
    EXPECT_EQ(m.kind, expected[i].kind) << m.name;
    EXPECT_EQ(m.result.kind, expected[i].result) << m.name;
    ASSERT_EQ(m.params.size(), expected[i].params.size()) << m.name;
    for (std::size_t p = 0; p < m.params.size(); ++p) EXPECT_EQ(m.params[p].type.kind, expected[i].params[p]);
    com::DispId id = 0;
    box->GetIDsOfNames(m.name, &id);
    EXPECT_EQ(id, m.id) << m.name;
  }
  EXPECT_EQ(toolbox.members[14].result.record_name, "MessageType");
  EXPECT_EQ(toolbox.members[16].result.record_name, "ModType");
  EXPECT_EQ(toolbox.members[19].result.record_name, "VarType");

  ASSERT_EQ(library->records.size(), 3u);
  EXPECT_EQ(library->records[0].name, "VarType");
  EXPECT_EQ(library->records[0].fields[0].type.kind, T::kBool);
  EXPECT_EQ(library->records[1].name, "ModType");
  EXPECT_EQ(library->records[1].fields.size(), 6u);
  EXPECT_EQ(library->records[2].name, "MessageType");
  EXPECT_EQ(library->records[2].fields[2].name, "Mtype");
  EXPECT_EQ(library->records[2].fields[2].type.kind, T::kInt16);
}

TEST_F(LibraryTest, register_and_unregister_through_the_exports_twice) {
  ASSERT_EQ(library_.register_server(), com::S_OK);
  ASSERT_EQ(library_.register_server(), com::S_OK);
  std::vector<com::ClassRegistration> entries;
  ASSERT_EQ(com::Registry(env_.registry()).List(&entries), com::S_OK);
  ASSERT_EQ(entries.size(), 1u) << "registering twice leaves one entry";
  EXPECT_EQ(entries[0].prog_id, "Pullwire.Toolbox");
  EXPECT_EQ(entries[0].clsid, CLSID_Toolbox);
  EXPECT_EQ(std::filesystem::canonical(entries[0].library), std::filesystem::canonical(library_.path()));
  EXPECT_EQ(entries[0].description, "Norvik Toolbox: Pullwire");

  // A host now finds the class by its ProgID; it is the same loaded library and module.
  library_.NewToolbox()->Init();
  com::ComPtr<_Toolbox> box;
  ASSERT_EQ(com::CreateObject("pullwire.toolbox", IID__Toolbox, box.ReceiveVoid()), com::S_OK);
  EXPECT_EQ(Read(*box, &_Toolbox::get_ModuleCount), 1);
  box.Reset();

  ASSERT_TRUE(com::Succeeded(library_.unregister_server()));
  ASSERT_TRUE(com::Succeeded(library_.unregister_server()));
  ASSERT_EQ(com::Registry(env_.registry()).List(&entries), com::S_OK);
  EXPECT_TRUE(entries.empty());
  com::ComPtr<com::IDispatch> late_bound;
  EXPECT_EQ(com::CreateObject("Pullwire.Toolbox", com::IID_IDispatch, late_bound.ReceiveVoid()),
            com::REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace pullwire
