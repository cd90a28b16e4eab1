// Object building blocks: reference counts, QueryInterface tables, live-object counting, the
// class factory and the exception guard.
#include "com/ref_counted.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "com/class_factory.h"
#include "com_test_support.h"

namespace pullwire::com {
namespace {

using ::testing::HasSubstr;

class ISecond : public IUnknown {
 public:
  virtual int Value() = 0;

 protected:
  ~ISecond() = default;
};
constexpr Guid IID_ISecond{0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 6, 6, 7, 7}};

// Two interfaces, so the IUnknown identity and the sub-object pointers matter.
class TwoFaced final : public RefCounted<IDispatch, ISecond> {
 public:
  TwoFaced(ObjectCounter* counter, bool* destroyed) : RefCounted(counter), destroyed_(destroyed) {}
  ~TwoFaced() override { *destroyed_ = true; }

  HRESULT QueryInterface(const Guid& iid, void** object) override {
    return QueryInterfaceFrom(iid, object,
                              {Expose<IDispatch>(this, IID_IDispatch), Expose<ISecond>(this, IID_ISecond)});
  }
  HRESULT GetIDsOfNames(std::string_view, DispId*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DispId, InvokeKind, std::span<Variant>, Variant*) override { return DISP_E_MEMBERNOTFOUND; }
  int Value() override { return 42; }

 private:
  bool* destroyed_;
};

TEST(RefCounted, CountsStartAtOneAndTheLastReleaseDestroys) {
  ObjectCounter live;
  bool destroyed = false;
  auto* object = new TwoFaced(&live, &destroyed);
  EXPECT_EQ(live.Live(), 1);
  EXPECT_EQ(live.CanUnloadNow(), S_FALSE);
  EXPECT_EQ(object->AddRef(), 2u);
  EXPECT_EQ(object->Release(), 1u);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(live.Live(), 0);
  EXPECT_EQ(live.CanUnloadNow(), S_OK);
}

TEST(RefCounted, QueryInterfaceGivesTheRightSubObjectAndOneIdentity) {
  bool destroyed = false;
  auto object = MakeObject<TwoFaced>(nullptr, &destroyed);
  auto second = ComPtr<IDispatch>::Shared(object.get()).As<ISecond>(IID_ISecond);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Value(), 42);  // a wrong sub-object would call the wrong slot

  auto unknown_from_dispatch = ComPtr<IDispatch>::Shared(object.get()).As<IUnknown>(IID_IUnknown);
  auto unknown_from_second = second.As<IUnknown>(IID_IUnknown);
  EXPECT_EQ(unknown_from_dispatch.get(), unknown_from_second.get());

  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(object->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
  EXPECT_EQ(object->AddRef(), 5u);  // object, second and the two IUnknowns each hold one
  object->Release();
}

TEST(ClassFactory, CreatesCountsLocksAndRefusesAggregation) {
  ObjectCounter live;
  bool destroyed = false;
  const auto create = [&]() -> IUnknown* { return static_cast<IDispatch*>(new TwoFaced(&live, &destroyed)); };
  auto factory = MakeObject<ClassFactory>(create, &live, "Test.TwoFaced");
  EXPECT_EQ(live.Live(), 1);  // the factory itself

  ComPtr<ISecond> second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISecond, second.ReceiveVoid()), S_OK);
  EXPECT_EQ(second->Value(), 42);
  EXPECT_EQ(live.Live(), 2);
  ComPtr<IUnknown> refused;
  EXPECT_EQ(factory->CreateInstance(second.get(), IID_IUnknown, refused.ReceiveVoid()), CLASS_E_NOAGGREGATION);
  EXPECT_FALSE(refused);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, refused.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_EQ(live.Live(), 2);  // the object made for the refused interface is gone again

  factory->LockServer(true);
  second.Reset();
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(live.Live(), 2);  // the factory and its lock
  factory->LockServer(false);
  factory.Reset();
  EXPECT_EQ(live.CanUnloadNow(), S_OK);
}

TEST(GuardedCall, TurnsExceptionsIntoResultsAndRecords) {
  GetErrorInfo();
  EXPECT_EQ(GuardedCall("Src", [] { return S_FALSE; }), S_FALSE);

  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw ComError(VbErrorResult(6), {6, "Overflow", "Box"}); }),
            VbErrorResult(6));
  EXPECT_EQ(GetErrorInfo(), (ErrorRecord{6, "Overflow", "Box"}));

  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw std::runtime_error("disk on fire"); }), E_FAIL);
  EXPECT_EQ(GetErrorInfo(), (ErrorRecord{E_FAIL, "disk on fire", "Src"}));

  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw 7; }), E_UNEXPECTED);
}

TEST(ErrorInfo, RecordIsTakenOnceAndVbNumbersMapToControlResults) {
  EXPECT_EQ(RaiseError(kVbSubscriptOutOfRange, VbErrorText(kVbSubscriptOutOfRange), "Pullwire.Toolbox"),
            static_cast<HRESULT>(0x800A0009));
  const auto record = GetErrorInfo();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->description, "Subscript out of range");
  EXPECT_EQ(GetErrorInfo(), std::nullopt);
  EXPECT_EQ(VbErrorText(kVbTypeMismatch), "Type mismatch");
  EXPECT_EQ(VbErrorText(kVbOverflow), "Overflow");
}

}  // namespace
}  // namespace pullwire::com
