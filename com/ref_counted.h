// Building blocks for objects behind interfaces: the reference count, QueryInterface over a
// table, the live-object count a library answers DllCanUnloadNow from, and the guard that keeps
// exceptions from crossing an interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <new>
#include <string>
#include <utility>

#include "com/com_ptr.h"
#include "com/error_info.h"
#include "com/unknown.h"

namespace pullwire::com {

// Objects and server locks alive in one library; DllCanUnloadNow returns S_OK when it is zero.
class ObjectCounter {
 public:
  void Add() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
  void Remove() noexcept { count_.fetch_sub(1, std::memory_order_acq_rel); }
  std::int64_t Live() const noexcept { return count_.load(std::memory_order_acquire); }
  // The answer for DllCanUnloadNow.
  HRESULT CanUnloadNow() const noexcept { return Live() == 0 ? S_OK : S_FALSE; }

 private:
  std::atomic<std::int64_t> count_{0};
};

// One row of an object's interface table: the identifier and the object seen as that interface.
struct InterfaceEntry {
  Guid iid;
  IUnknown* unknown = nullptr;  // for AddRef
  void* pointer = nullptr;      // what the caller receives, already of the interface's type
};

// `Expose<IDispatch>(this, IID_IDispatch)`: converts to the interface first, so that the pointer
// handed out is the right sub-object whatever the object's inheritance.
template <typename Interface, typename Self>
InterfaceEntry Expose(Self* self, const Guid& iid) {
  Interface* as_interface = self;
  return InterfaceEntry{iid, as_interface, static_cast<void*>(as_interface)};
}

// QueryInterface over a table. IID_IUnknown always answers with the first row, so an object
// has one identity whichever interface it is asked through; the out-pointer is null on failure.
inline HRESULT QueryInterfaceFrom(const Guid& iid, void** object /*out*/,
                                  std::initializer_list<InterfaceEntry> table) noexcept {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (table.size() == 0) return E_NOINTERFACE;
  for (const InterfaceEntry& entry : table) {
    if (entry.iid == iid || (iid == IID_IUnknown && &entry == table.begin())) {
      entry.unknown->AddRef();
      *object = entry.pointer;
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

// AddRef/Release for an object implementing `Interfaces...` (each derived from IUnknown). A new
// object starts with one reference, owned by whoever called `new` (wrap it with
// ComPtr<T>::Owned or hand it out as an out-pointer). The derived class implements
// QueryInterface, usually with QueryInterfaceFrom. With a counter, the object counts itself as
// live from construction to destruction.
template <typename... Interfaces>
class RefCounted : public Interfaces... {
 public:
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  std::uint32_t AddRef() final { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  std::uint32_t Release() final {
    const std::uint32_t remaining = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) delete this;
    return remaining;
  }

 protected:
  explicit RefCounted(ObjectCounter* counter = nullptr) noexcept : counter_(counter) {
    if (counter_) counter_->Add();
  }
  virtual ~RefCounted() {
    if (counter_) counter_->Remove();
  }

 private:
  std::atomic<std::uint32_t> refs_{1};
  ObjectCounter* counter_;
};

// A new object, already owned: `auto box = MakeObject<Toolbox>(state, &counter);`.
template <typename T, typename... Args>
ComPtr<T> MakeObject(Args&&... args) {
  return ComPtr<T>::Owned(new T(std::forward<Args>(args)...));
}

// Thrown inside an object's own code to fail the current member with a result and a record;
// GuardedCall turns it into both.
class ComError : public std::exception {
 public:
  ComError(HRESULT hr, ErrorRecord record) : hr_(hr), record_(std::move(record)) {}
  HRESULT hr() const noexcept { return hr_; }
  const ErrorRecord& record() const noexcept { return record_; }
  const char* what() const noexcept override { return record_.description.c_str(); }

 private:
  HRESULT hr_;
  ErrorRecord record_;
};

// Runs `body` (returning HRESULT) so that no exception leaves it: ComError gives its own result
// and record, bad_alloc gives E_OUTOFMEMORY, any other std::exception E_FAIL with its what() as
// the description, anything else E_UNEXPECTED. Every member of an exported object wraps its body.
template <typename Body>
HRESULT GuardedCall(const std::string& source, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const ComError& e) {
    try {
      SetErrorInfo(e.record());
    } catch (...) {
    }
    return e.hr();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    try {
      return ReportFailure(E_FAIL, e.what(), source);
    } catch (...) {
      return E_FAIL;
    }
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace pullwire::com
