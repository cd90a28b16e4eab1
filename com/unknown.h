// The base interfaces: IUnknown, IClassFactory and IDispatch, shaped like COM's, and the
// one-way calls a local server's proxy offers.
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

// An object in another process, reached through IDispatch, whose calls may also be sent without
// waiting for each to be carried out: a caller with many calls whose results it does not use
// pays one round trip for all of them. Calls are carried out in the order they were made.
class PULLWIRE_COM_API IOneWayDispatch : public IDispatch {
 public:
  // Sends the method call and returns; whether it then succeeds is never reported. Fails with
  // E_INVALIDARG, affecting no other call, for arguments that cannot be sent (a value the
  // connection does not carry, or too long), and with RPC_E_DISCONNECTED or RPC_E_TIMEOUT when
  // the connection is lost or stays full past the bound, after which every call fails.
  virtual HRESULT Post(DispId id, std::span<const Variant> args /*in*/) = 0;
  // Returns once every call made before has been carried out; fails when that is not confirmed
  // within the bound.
  virtual HRESULT Flush() = 0;

 protected:
  ~IOneWayDispatch() = default;
};
inline constexpr Guid IID_IOneWayDispatch{0x5d2f8c41, 0x7a3e, 0x4b19,
                                          {0x9c, 0x62, 0x1e, 0x84, 0xf0, 0x3a, 0xd5, 0x27}};

}  // namespace pullwire::com
