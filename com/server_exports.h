// The four entry points every in-process server library exports with C linkage, and their types,
// so that the loader (CreateObject, registration) and the libraries agree on one signature.
#pragma once

#include "com/guid.h"
#include "com/hresult.h"

namespace pullwire::com {

using DllGetClassObjectFn = HRESULT (*)(const Guid* clsid, const Guid* iid, void** object /*out*/);
using DllCanUnloadNowFn = HRESULT (*)();  // S_OK when no object or lock is alive, else S_FALSE
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

inline constexpr const char* kDllGetClassObject = "DllGetClassObject";
inline constexpr const char* kDllCanUnloadNow = "DllCanUnloadNow";
inline constexpr const char* kDllRegisterServer = "DllRegisterServer";
inline constexpr const char* kDllUnregisterServer = "DllUnregisterServer";

}  // namespace pullwire::com

// What a server library declares for itself (definitions in the library).
#define PULLWIRE_SERVER_EXPORT extern "C" __attribute__((visibility("default")))
