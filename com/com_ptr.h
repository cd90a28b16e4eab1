// An owning smart pointer for interface references: Release on destruction, AddRef on copy.
#pragma once

#include <type_traits>
#include <utility>

#include "com/unknown.h"

namespace pullwire::com {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(const ComPtr& other) : ptr_(other.ptr_) { if (ptr_) ptr_->AddRef(); }
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  // From a pointer to a derived class or interface: `ComPtr<IDispatch> d = MakeObject<Daemon>();`.
  template <typename U>
    requires std::is_convertible_v<U*, T*>
  ComPtr(ComPtr<U> other) : ptr_(other.Detach()) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }

  // Takes over a reference the caller already owns (a fresh object, an out-pointer).
  static ComPtr Owned(T* p) {
    ComPtr result;
    result.ptr_ = p;
    return result;
  }
  // Adds a reference of its own to a pointer someone else owns.
  static ComPtr Shared(T* p) {
    if (p) p->AddRef();
    return Owned(p);
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  void Reset() {
    if (T* p = std::exchange(ptr_, nullptr)) p->Release();
  }
  // Gives up ownership without releasing.
  T* Detach() { return std::exchange(ptr_, nullptr); }
  // For out-parameters: releases what is held and returns the slot to fill.
  void** ReceiveVoid() {
    Reset();
    return reinterpret_cast<void**>(&ptr_);
  }
  T** Receive() {
    Reset();
    return &ptr_;
  }

  // QueryInterface into another interface type; a null ComPtr when not supported.
  template <typename U>
  ComPtr<U> As(const Guid& iid) const {
    ComPtr<U> result;
    if (ptr_) ptr_->QueryInterface(iid, result.ReceiveVoid());
    return result;
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace pullwire::com
