// Calling a member by name, as a late-binding host does: GetIDsOfNames, then Invoke.
#pragma once

#include <span>
#include <string_view>

#include "com/unknown.h"

namespace pullwire::com {

// `InvokeByName(*daemon, "SetMessage", InvokeKind::kMethod, args, nullptr)`. Fails with what
// GetIDsOfNames or Invoke returned; their error record is left for the caller.
inline HRESULT InvokeByName(IDispatch& object, std::string_view name, InvokeKind kind,
                            std::span<Variant> args /*in, out*/, Variant* result /*out, may be null*/) {
  DispId id = kDispIdUnknown;
  if (const HRESULT hr = object.GetIDsOfNames(name, &id); Failed(hr)) return hr;
  return object.Invoke(id, kind, args, result);
}

}  // namespace pullwire::com
