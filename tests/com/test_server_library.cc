// A tiny in-process server library for the activation tests: the four exports and one class,
// "PullwireTest.Calc", whose IDispatch adds numbers and raises an error on request.
#include <string>

#include "com/activation.h"
#include "com/class_factory.h"
#include "com/names.h"
#include "com/registry.h"
#include "com/server_exports.h"

namespace {

using namespace pullwire::com;

constexpr Guid kClsidCalc{0x5B0E7A11, 0x2C3D, 0x4E5F, {0x80, 0x91, 0xA2, 0xB3, 0xC4, 0xD5, 0xE6, 0xF7}};
constexpr const char* kProgId = "PullwireTest.Calc";

ObjectCounter g_live;

// Add(a, b) -> a + b as int32; Fail() raises 9 "Subscript out of range"; Throw() lets a
// std::exception reach the guard.
class Calc final : public RefCounted<IDispatch> {
 public:
  Calc() : RefCounted(&g_live) {}

  HRESULT QueryInterface(const Guid& iid, void** object) override {
    return QueryInterfaceFrom(iid, object, {Expose<IDispatch>(this, IID_IDispatch)});
  }

  HRESULT GetIDsOfNames(std::string_view name, DispId* id) override {
    *id = EqualsIgnoringCase(name, "Add")    ? 1
          : EqualsIgnoringCase(name, "Fail")  ? 2
          : EqualsIgnoringCase(name, "Throw") ? 3
                                              : kDispIdUnknown;
    return *id == kDispIdUnknown ? DISP_E_UNKNOWNNAME : S_OK;
  }

  HRESULT Invoke(DispId id, InvokeKind, std::span<Variant> args, Variant* result) override {
    return GuardedCall(kProgId, [&]() -> HRESULT {
      switch (id) {
        case 1: {
          if (args.size() != 2) return DISP_E_BADPARAMCOUNT;
          const auto* a = args[0].Get<std::int32_t>();
          const auto* b = args[1].Get<std::int32_t>();
          if (!a || !b) return RaiseError(kVbTypeMismatch, VbErrorText(kVbTypeMismatch), kProgId);
          if (result) *result = Variant(*a + *b);
          return S_OK;
        }
        case 2: return RaiseError(kVbSubscriptOutOfRange, VbErrorText(kVbSubscriptOutOfRange), kProgId);
        case 3: throw std::runtime_error("calculator on fire");
        default: return DISP_E_MEMBERNOTFOUND;
      }
    });
  }
};

}  // namespace

PULLWIRE_SERVER_EXPORT HRESULT DllGetClassObject(const Guid* clsid, const Guid* iid, void** object) {
  if (object == nullptr || clsid == nullptr || iid == nullptr) return E_POINTER;
  *object = nullptr;
  if (*clsid != kClsidCalc) return CLASS_E_CLASSNOTAVAILABLE;
  return GuardedCall(kProgId, [&] {
    auto factory = MakeObject<ClassFactory>([]() -> IUnknown* { return new Calc(); }, &g_live, kProgId);
    return factory->QueryInterface(*iid, object);
  });
}

PULLWIRE_SERVER_EXPORT HRESULT DllCanUnloadNow() { return g_live.CanUnloadNow(); }

PULLWIRE_SERVER_EXPORT HRESULT DllRegisterServer() {
  return GuardedCall(kProgId, [] {
    return Registry::Default().Register({kProgId, kClsidCalc,
                                         LibraryPathContaining(reinterpret_cast<const void*>(&DllRegisterServer)),
                                         "Pullwire test calculator"});
  });
}

PULLWIRE_SERVER_EXPORT HRESULT DllUnregisterServer() {
  return GuardedCall(kProgId, [] {
    const HRESULT hr = Registry::Default().Unregister(kProgId);
    return Succeeded(hr) ? S_OK : hr;
  });
}
