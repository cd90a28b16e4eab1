// The base interfaces: IUnknown, IClassFactory and IDispatch, shaped like COM's.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "com/export.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/variant.h"

namespace pullwire::com {

class PULLWIRE_COM_API IUnknown {
 public:
  // Out-pointer is null on failure; on success the caller owns one new reference.
  virtual HRESULT QueryInterface(const Guid& iid, void** object /*out*/) = 0;
  // Both return the new reference count.
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;  // objects are released, never deleted through an interface
};
inline constexpr Guid IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class PULLWIRE_COM_API IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer /*in*/, const Guid& iid, void** object /*out*/) = 0;
  virtual HRESULT LockServer(bool lock) = 0;

 protected:
  ~IClassFactory() = default;
};
inline constexpr Guid IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

using DispId = std::int32_t;
inline constexpr DispId kDispIdUnknown = -1;

enum class InvokeKind { kMethod, kPropertyGet, kPropertyPut };

// Late binding by member name. Arguments come in declaration order (not COM's reversed order);
// the span is in/out so that by-reference arguments could be written back.
class PULLWIRE_COM_API IDispatch : public IUnknown {
 public:
  // Case-insensitive, as automation names are.
  virtual HRESULT GetIDsOfNames(std::string_view name, DispId* id /*out*/) = 0;
  virtual HRESULT Invoke(DispId id, InvokeKind kind, std::span<Variant> args /*in, out*/,
                         Variant* result /*out, may be null*/) = 0;

 protected:
  ~IDispatch() = default;
};
inline constexpr Guid IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

}  // namespace pullwire::com
