// A class factory for one creatable class, for a server library's DllGetClassObject.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "com/ref_counted.h"

namespace pullwire::com {

// Makes objects with `create` (which returns a new object holding its one reference) and hands
// out the interface asked for. LockServer(true/false) counts in the library's ObjectCounter, as
// the factory itself does while it is alive.
class ClassFactory final : public RefCounted<IClassFactory> {
 public:
  using Create = std::function<IUnknown*()>;

  ClassFactory(Create create, ObjectCounter* counter, std::string source)
      : RefCounted(counter), create_(std::move(create)), counter_(counter), source_(std::move(source)) {}

  HRESULT QueryInterface(const Guid& iid, void** object /*out*/) override {
    return QueryInterfaceFrom(iid, object, {Expose<IClassFactory>(this, IID_IClassFactory)});
  }

  HRESULT CreateInstance(IUnknown* outer /*in*/, const Guid& iid, void** object /*out*/) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return GuardedCall(source_, [&] {
      IUnknown* created = create_();
      if (created == nullptr) return E_OUTOFMEMORY;
      const HRESULT hr = created->QueryInterface(iid, object);
      created->Release();
      return hr;
    });
  }

  HRESULT LockServer(bool lock) override {
    if (counter_ == nullptr) return S_OK;
    if (lock) {
      counter_->Add();
    } else {
      counter_->Remove();
    }
    return S_OK;
  }

 private:
  Create create_;
  ObjectCounter* counter_;
  std::string source_;
};

}  // namespace pullwire::com
