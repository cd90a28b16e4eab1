// In-process activation: registering a server library, creating its object by ProgID or from
// the file, the failures a host meets, and unloading unused libraries.
#include "com/activation.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "com/com_ptr.h"
#include "com/registry.h"
#include "com_test_support.h"

namespace pullwire::com {
namespace {

using ::testing::HasSubstr;
using testing::CallMethod;
using testing::ScopedEnv;
using testing::TakeErrorText;

constexpr Guid kClsidCalc{0x5B0E7A11, 0x2C3D, 0x4E5F, {0x80, 0x91, 0xA2, 0xB3, 0xC4, 0xD5, 0xE6, 0xF7}};
const std::filesystem::path kServer = PULLWIRE_COM_TEST_SERVER;

bool ServerLoaded() {
  void* handle = dlopen(kServer.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

using Activation = testing::PrivateRuntime;

TEST_F(Activation, RegisteredClassIsCreatedByProgIdAndCalledByName) {
  ASSERT_EQ(RegisterServerLibrary(kServer), S_OK) << TakeErrorText();
  ASSERT_EQ(RegisterServerLibrary(kServer), S_OK) << TakeErrorText();
  ClassRegistration entry;
  ASSERT_EQ(Registry::Default().FindByProgId("PullwireTest.Calc", &entry), S_OK);
  EXPECT_EQ(entry.library, std::filesystem::canonical(kServer));
  EXPECT_EQ(entry.clsid, kClsidCalc);

  ComPtr<IDispatch> calc;
  ASSERT_EQ(CreateObject("pullwiretest.CALC", IID_IDispatch, calc.ReceiveVoid()), S_OK) << TakeErrorText();
  Variant sum;
  std::vector<Variant> operands{Variant(std::int32_t{2}), Variant(std::int32_t{40})};
  ASSERT_EQ(CallMethod(*calc.get(), "Add", operands, &sum), S_OK);
  EXPECT_EQ(sum, Variant(std::int32_t{42}));

  EXPECT_EQ(CallMethod(*calc.get(), "Fail", {}, nullptr), VbErrorResult(9));
  EXPECT_EQ(GetErrorInfo(), (ErrorRecord{9, "Subscript out of range", "PullwireTest.Calc"}));
  EXPECT_EQ(CallMethod(*calc.get(), "Throw", {}, nullptr), E_FAIL);
  EXPECT_EQ(TakeErrorText(), "calculator on fire");
  EXPECT_EQ(CallMethod(*calc.get(), "Missing", {}, nullptr), DISP_E_UNKNOWNNAME);

  ASSERT_EQ(UnregisterServerLibrary(kServer), S_OK) << TakeErrorText();
  ASSERT_EQ(UnregisterServerLibrary(kServer), S_OK) << TakeErrorText();
  ComPtr<IDispatch> gone;
  EXPECT_EQ(CreateObject("PullwireTest.Calc", IID_IDispatch, gone.ReceiveVoid()), REGDB_E_CLASSNOTREG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("Class not registered: PullwireTest.Calc"));
  EXPECT_FALSE(gone);
}

TEST_F(Activation, CreatesStraightFromTheLibraryFile) {
  ComPtr<IDispatch> calc;
  ASSERT_EQ(CreateInstanceFromLibrary(kServer, kClsidCalc, IID_IDispatch, calc.ReceiveVoid()), S_OK)
      << TakeErrorText();
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(CreateInstanceFromLibrary(kServer, kClsidCalc, IID_IUnknown, unknown.ReceiveVoid()), S_OK);
  ComPtr<IUnknown> wrong_interface;
  EXPECT_EQ(CreateInstanceFromLibrary(kServer, kClsidCalc, IID_IClassFactory, wrong_interface.ReceiveVoid()),
            E_NOINTERFACE);
  EXPECT_FALSE(wrong_interface);
  EXPECT_THAT(TakeErrorText(), HasSubstr("could not create the object"));
}

TEST_F(Activation, FailuresCarryTheirCodeAndAReadableReason) {
  Registry registry = Registry::Default();
  ASSERT_EQ(registry.Register({"Test.Missing", kClsidCalc, folder_ / "libmissing.so", ""}), S_OK);
  ASSERT_EQ(registry.Register({"Test.NotServer", Guid{1, 2, 3, {}}, PULLWIRE_COM_LIBRARY, ""}), S_OK);
  ASSERT_EQ(registry.Register({"Test.WrongClass", Guid{9, 9, 9, {}}, kServer, ""}), S_OK);

  ComPtr<IDispatch> object;
  EXPECT_EQ(CreateObject("Test.Missing", IID_IDispatch, object.ReceiveVoid()), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_THAT(TakeErrorText(), HasSubstr("libmissing.so: cannot open shared object file"));
  EXPECT_EQ(CreateObject("Test.NotServer", IID_IDispatch, object.ReceiveVoid()), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_THAT(TakeErrorText(), HasSubstr("is not a server library: it does not export DllGetClassObject"));
  EXPECT_EQ(CreateObject("Test.WrongClass", IID_IDispatch, object.ReceiveVoid()), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_THAT(TakeErrorText(), HasSubstr("does not serve class {00000009-0009-0009-0000-000000000000}"));
  EXPECT_EQ(CreateObject("Test.Nothing", IID_IDispatch, object.ReceiveVoid()), REGDB_E_CLASSNOTREG);
  EXPECT_THAT(TakeErrorText(), HasSubstr("no local server at"));
  EXPECT_FALSE(object);
  EXPECT_EQ(CreateObject("Test.Nothing", IID_IDispatch, nullptr), E_POINTER);

  EXPECT_EQ(RegisterServerLibrary(PULLWIRE_COM_LIBRARY), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_THAT(TakeErrorText(), HasSubstr("does not export DllGetClassObject"));

  std::filesystem::create_directory(folder_ / "registry.json.d");
  ScopedEnv corrupt_registry("NORVIK_REGISTRY", (folder_ / "registry.json.d").string());
  EXPECT_EQ(CreateObject("Test.Missing", IID_IDispatch, object.ReceiveVoid()), E_FAIL);
  EXPECT_THAT(TakeErrorText(), HasSubstr("cannot read registry file"));
}

TEST_F(Activation, UnusedLibrariesAreUnloadedOnlyWhenTheySaySo) {
  ComPtr<IDispatch> calc;
  ASSERT_EQ(CreateInstanceFromLibrary(kServer, kClsidCalc, IID_IDispatch, calc.ReceiveVoid()), S_OK);
  EXPECT_TRUE(ServerLoaded());
  EXPECT_EQ(FreeUnusedLibraries(), 0);  // an object is alive
  EXPECT_TRUE(ServerLoaded());
  calc.Reset();
  EXPECT_EQ(FreeUnusedLibraries(), 1);
  EXPECT_FALSE(ServerLoaded());
  EXPECT_EQ(FreeUnusedLibraries(), 0);

  // Loaded again on demand, with fresh state.
  ASSERT_EQ(CreateInstanceFromLibrary(kServer, kClsidCalc, IID_IDispatch, calc.ReceiveVoid()), S_OK);
  EXPECT_TRUE(ServerLoaded());
}

}  // namespace
}  // namespace pullwire::com
