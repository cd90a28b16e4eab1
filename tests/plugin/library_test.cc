// libpullwire.so as a host meets it: the exports, the Toolbox by name, raised errors, the
// module's state and unloading, the type library and activation.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "com/activation.h"
#include "com/com_ptr.h"
#include "com/error_info.h"
#include "com/late_binding.h"
#include "com/registry.h"
#include "com/server_exports.h"
#include "com/type_info.h"
#include "private_environment.h"
#include "pullwire/record_variants.h"
#include "pullwire/toolbox.h"

namespace pullwire {
namespace {

using ::testing::HasSubstr;
using com::StringArray;
using com::Variant;
using K = com::InvokeKind;

// A raised error: the facility-control result and the record with number, text and source.
void ExpectRaised(com::HRESULT hr, std::int32_t number, const std::string& call) {
  const char* text = number == 6 ? "Overflow" : number == 9 ? "Subscript out of range" : "Type mismatch";
  EXPECT_EQ(hr, com::VbErrorResult(number)) << call;
  EXPECT_EQ(com::GetErrorInfo(), (com::ErrorRecord{number, text, "Pullwire.Toolbox"})) << call;
}

std::string TakeErrorText() {
  const auto record = com::GetErrorInfo();
  return record ? record->description : "<no record>";
}

template <typename T>
T Read(_Toolbox& box, com::HRESULT (_Toolbox::*get)(T* /*out*/)) {
  T value{};
  EXPECT_EQ((box.*get)(&value), com::S_OK);
  return value;
}

// Each test loads its own copy of the library, so that it gets a module of its own.
class LibraryTest : public ::testing::Test {
 protected:
  LibraryTest() {
    std::filesystem::copy_file(PULLWIRE_LIBRARY_PATH, path_);
    Load();
    com::GetErrorInfo();
  }
  ~LibraryTest() override {
    box_.Reset();
    if (handle_ != nullptr) dlclose(handle_);
  }

  void Load() {
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    get_class_object_ =
        reinterpret_cast<com::DllGetClassObjectFn>(dlsym(handle_, com::kDllGetClassObject));
    can_unload_ = reinterpret_cast<com::DllCanUnloadNowFn>(dlsym(handle_, com::kDllCanUnloadNow));
    Factory()->CreateInstance(nullptr, IID__Toolbox, box_.ReceiveVoid());
    if (!box_) throw std::runtime_error("CreateInstance failed");
  }
  com::ComPtr<com::IClassFactory> Factory() const {
    com::ComPtr<com::IClassFactory> factory;
    get_class_object_(&CLSID_Toolbox, &com::IID_IClassFactory, factory.ReceiveVoid());
    if (!factory) throw std::runtime_error("DllGetClassObject failed");
    return factory;
  }
  com::HRESULT Call(std::string_view name, K kind, std::vector<Variant> args, Variant* result = nullptr) {
    return com::InvokeByName(*box_.get(), name, kind, args, result);
  }

  testing::PrivateEnvironment env_;
  const std::filesystem::path path_ = env_.root() / "libpullwire.so";
  void* handle_ = nullptr;
  com::DllGetClassObjectFn get_class_object_ = nullptr;
  com::DllCanUnloadNowFn can_unload_ = nullptr;
  com::ComPtr<_Toolbox> box_;
};

// Only the four entry points are exported; activation failures carry their code and reason.
TEST_F(LibraryTest, exports_and_activation_failures) {
  FILE* nm = popen(("nm -D --defined-only --format=just-symbols '" + path_.string() + "'").c_str(), "r");
  ASSERT_NE(nm, nullptr);
  std::string symbols(4096, '\0');
  symbols.resize(fread(symbols.data(), 1, symbols.size(), nm));
  pclose(nm);
  EXPECT_EQ(symbols, "DllCanUnloadNow\nDllGetClassObject\nDllRegisterServer\nDllUnregisterServer\n");
  void* other_class = &other_class;
  const com::Guid unknown_clsid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(get_class_object_(&unknown_clsid, &com::IID_IClassFactory, &other_class),
            com::CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(other_class, nullptr);
  // A missing library and one that is no server library are `pullwire info`'s and `typelib`'s.
  const com::Guid wrong{9, 9, 9, {}};
  ASSERT_EQ(com::Registry(env_.registry()).Register({"Test.Wrong", wrong, path_, ""}), com::S_OK);
  com::ComPtr<com::IDispatch> object;
  EXPECT_EQ(com::CreateObject("Test.Wrong", com::IID_IDispatch, object.ReceiveVoid()),
            com::CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_THAT(TakeErrorText(), HasSubstr("serve class {00000009-0009-0009-0000-000000000000}"));
  EXPECT_FALSE(object);
  EXPECT_EQ(com::CreateObject("Test.Wrong", com::IID_IDispatch, nullptr), com::E_POINTER);
  EXPECT_EQ(com::RegisterServerLibrary(PULLWIRE_COM_LIBRARY), com::CO_E_SERVER_EXEC_FAILURE);
  EXPECT_THAT(TakeErrorText(), HasSubstr("does not export DllGetClassObject"));
  com::ComPtr<com::IUnknown> factory;
  EXPECT_EQ(com::CreateInstanceFromLibrary(path_, CLSID_Toolbox, com::IID_IClassFactory,
                                           factory.ReceiveVoid()),
            com::E_NOINTERFACE);
  EXPECT_THAT(TakeErrorText(), HasSubstr("could not create the object"));
}

// One call by name and what it gives back: a value (Empty for a put or a Sub), or an error raised.
struct Step {
  const char* name;
  K kind;
  std::vector<Variant> args;
  Variant expected = Variant();
  std::int32_t raised = 0;
};

// A host session through Invoke: Init's values with their types, names in any letter case,
// arguments converted; indexes outside the messages (0..1), modules (0..2), variables (0..15) or
// data (none before a save), constants without 1..15, a faulty record or argument raise 9, 6, 13.
TEST_F(LibraryTest, a_host_session_by_name) {
  const K get = K::kPropertyGet, put = K::kPropertyPut, call = K::kMethod;
  const ModType ours{"Pullwire", "il_pullwire.ico", "is_pullwire.ico", "Network",
                     "icl_network.ico", "ics_network.ico"};
  const Variant module = ToRecord(ours);
  const std::int16_t h0 = 0, h1 = 1, h2 = 2;
  const std::string info = "Norvik Plugin: Pullwire", author = "Maren Holt, Quenlo";
  const Step steps[] = {
      {"Info", get, {}, ""}, {"ModuleInfo", get, {h1}, {}, 9}, {"Message", get, {h0}, {}, 9},
      {"gInfo", put, {"overwritten by Init"}}, {"Left", put, {std::int16_t{120}}}, {"Top", put, {h2}},
      {"AutoLog", put, {com::kVariantTrue}}, {"dInstance", put, {"none-here"}}, {"init", call, {}},
      {"Info", get, {}, info}, {"gInfo", get, {}, info}, {"Author", get, {}, author}, {"GAUTHOR", get, {}, author},
      {"Version", get, {}, "4.5.0"}, {"Version", call, {}, "4.5.0"}, {"ModuleCount", get, {}, h1},
      {"MessageCount", get, {}, h0}, {"DataCount", get, {}, h0}, {"Error", get, {}, com::kVariantFalse},
      {"ModuleInfo", get, {h1}, module}, {"moduleinfo", get, {" 1.4 "}, module},
      {"ModuleInfo", get, {h0}, ToRecord(ModType{})}, {"ModuleInfo", get, {h2}, ToRecord(ModType{})},
      {"Message", get, {h0}, ToRecord(MessageType{})}, {"Message", get, {h1}, ToRecord(MessageType{})},
      {"LocalVar", get, {h0}, ToRecord(VarType{})}, {"GlobalVar", get, {std::int16_t{15}}, ToRecord(VarType{})},
      {"gInfo", put, {"by name"}}, {"Info", get, {}, "by name"}, {"gAuthor", put, {42}}, {"gAuthor", get, {}, "42"},
      {"SetLocalConstants", call, {StringArray(std::vector<std::string>(15, "x"), 1)}},
      {"SetGlobalConstants", call, {StringArray(std::vector<std::string>(16, "x"), 0)}},
      {"Execute", call, {"Other", StringArray({}, 1)}},
      {"Message", get, {h2}, {}, 9}, {"Message", get, {std::int16_t{-1}}, {}, 9}, {"ModuleInfo", get, {3}, {}, 9},
      {"Data", get, {h0}, {}, 9}, {"LocalVar", get, {"16"}, {}, 9}, {"GlobalVar", get, {std::int16_t{-32768}}, {}, 9},
      {"SetLocalConstants", call, {StringArray(std::vector<std::string>(14), 1)}, {}, 9},
      {"SetGlobalConstants", call, {StringArray(std::vector<std::string>(15), 2)}, {}, 9},
      {"Setup", call, {"pullwire", StringArray({"h"}, 1)}, {}, 9},
      {"Setup", call, {"PULLWIRE", StringArray::WithBounds({{0, 25}, {0, 2}})}, {}, 9},
      {"Top", put, {40000}, {}, 6}, {"ModuleInfo", get, {"32768"}, {}, 6}, {"Left", put, {"abc"}, {}, 13},
      {"AutoLog", put, {"maybe"}, {}, 13}, {"Setup", call, {"PULLWIRE", "not an array"}, {}, 13},
      {"dInstance", put, {StringArray({"a"}, 0)}, {}, 13},
  };
  for (std::size_t row = 0; row < std::size(steps); ++row) {
    const Step& step = steps[row];
    Variant result = "unset";
    const com::HRESULT hr = Call(step.name, step.kind, step.args, &result);
    const std::string what = "row " + std::to_string(row) + ": " + step.name;
    if (step.raised != 0) {
      ExpectRaised(hr, step.raised, what);
    } else {
      EXPECT_EQ(hr, com::S_OK) << what;
      EXPECT_EQ(result, step.expected) << what;
    }
    if (const auto* record = result.Get<com::Record>()) {
      EXPECT_TRUE(VarTypeFromRecord(*record) || ModTypeFromRecord(*record) || MessageTypeFromRecord(*record)) << what;
    }
  }
  EXPECT_EQ(Call("Info", get, {h1}), com::DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(com::GetErrorInfo()->number, 450);
  EXPECT_EQ(Call("Info", put, {"x"}), com::DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(com::GetErrorInfo()->number, 438);
  com::DispId id = 0;
  EXPECT_EQ(box_->GetIDsOfNames("Download", &id), com::DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, com::kDispIdUnknown);
  EXPECT_EQ(box_->Invoke(9999, call, {}, nullptr), com::DISP_E_MEMBERNOTFOUND);
  // By vtable a failure leaves the out-value as it was, and a null out-pointer is refused.
  MessageType kept{"kept", "", 0};
  ExpectRaised(box_->get_Message(-1, &kept), 9, "Message(-1) by vtable");
  EXPECT_EQ(kept, (MessageType{"kept", "", 0}));
  ModType read_module;
  VarType read_slot{com::kVariantTrue, "x"};
  ASSERT_EQ(box_->get_ModuleInfo(1, &read_module) | box_->get_GlobalVar(15, &read_slot), com::S_OK);
  EXPECT_TRUE(read_module == ours && read_slot == VarType{});
  EXPECT_EQ(box_->get_Info(nullptr), com::E_POINTER);
}

// Everything but gInfo and gAuthor is the module's: shared by its objects, the error flag sticky
// until the library is unloaded, which it may be only when no object, factory or lock is alive.
TEST_F(LibraryTest, state_is_the_module_s_until_the_library_is_unloaded) {
  auto factory = Factory();
  com::ComPtr<_Toolbox> second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID__Toolbox, second.ReceiveVoid()), com::S_OK);
  com::ComPtr<com::IUnknown> refused;
  EXPECT_EQ(factory->CreateInstance(box_.get(), IID__Toolbox, refused.ReceiveVoid()), com::CLASS_E_NOAGGREGATION);
  // The object made for an interface it does not have is gone again: the last check would see it.
  EXPECT_EQ(factory->CreateInstance(nullptr, com::IID_IClassFactory, refused.ReceiveVoid()), com::E_NOINTERFACE);
  box_->Init();
  box_->put_gInfo("the first object's");
  box_->Execute("PULLWIRE", StringArray({"only one slot"}, 1), nullptr);  // a failed run
  EXPECT_EQ(Read(*second, &_Toolbox::get_Error), com::kVariantTrue);
  EXPECT_EQ(Read(*second, &_Toolbox::get_ModuleCount), 1);
  EXPECT_EQ(Read(*second, &_Toolbox::get_Info), "");
  second->Init();
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Error), com::kVariantTrue) << "Init leaves the error flag";
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Info), "the first object's");

  box_.Reset();
  second.Reset();
  EXPECT_EQ(can_unload_(), com::S_FALSE) << "a class factory is alive";
  factory->LockServer(true);
  factory.Reset();
  EXPECT_EQ(can_unload_(), com::S_FALSE) << "a lock is alive";
  Factory()->LockServer(false);
  ASSERT_EQ(can_unload_(), com::S_OK);
  dlclose(handle_);
  EXPECT_EQ(dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
  Load();
  EXPECT_EQ(Read(*box_, &_Toolbox::get_Error), com::kVariantFalse);
  EXPECT_EQ(Read(*box_, &_Toolbox::get_ModuleCount), 0);
}

// The members in vtable order as "name kind(parameters)result" (b Boolean, h Integer, s String,
// a String(), v Variant, records by name), each with the id GetIDsOfNames gives.
TEST_F(LibraryTest, the_type_library_lists_the_members_in_vtable_order) {
  const com::TypeLibraryInfo* library = nullptr;
  ASSERT_EQ(box_.As<com::IProvideTypeLibrary>(com::IID_IProvideTypeLibrary)->GetTypeLibrary(&library), com::S_OK);
  const auto type = [](const com::TypeRef& t) {
    return t.kind == com::TypeKind::kRecord ? t.record_name : std::string(1, "-vbhisa"[static_cast<int>(t.kind)]);
  };
  std::vector<std::string> members;
  for (const com::MemberInfo& m : library->interfaces.at(0).members) {
    std::string text = m.name + (m.kind == K::kMethod ? " call(" : m.kind == K::kPropertyGet ? " get(" : " put(");
    for (const com::ParamInfo& p : m.params) text += type(p.type);
    members.push_back(text + ")" + (m.result.kind == com::TypeKind::kVoid ? "" : type(m.result)));
    com::DispId id = 0;
    box_->GetIDsOfNames(m.name, &id);
    EXPECT_EQ(id, m.id) << m.name;
  }
  EXPECT_EQ(members, (std::vector<std::string>{
                         "gInfo get()s", "gInfo put(s)", "gAuthor get()s", "gAuthor put(s)", "Init call()",
                         "Left put(h)", "Top put(h)", "AutoLog put(b)", "dInstance put(s)", "Info get()s",
                         "Author get()s", "Error get()b", "Version get()s", "MessageCount get()h",
                         "Message get(h)MessageType", "ModuleCount get()h", "ModuleInfo get(h)ModType",
                         "DataCount get()h", "Data get(h)s", "LocalVar get(h)VarType", "GlobalVar get(h)VarType",
                         "SetLocalConstants call(a)v", "SetGlobalConstants call(a)v", "Setup call(sa)v",
                         "Execute call(sa)v"}));
}

}  // namespace
}  // namespace pullwire
