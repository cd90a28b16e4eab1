// Object creation: by ProgID (an in-process class from the registry, else a local server over
// its Unix socket), straight from a library file, and the registration calls of server libraries.
#pragma once

#include <chrono>
#include <filesystem>
#include <string_view>

#include "com/export.h"
#include "com/guid.h"
#include "com/hresult.h"

namespace pullwire::com {

// Creates an object of the class registered as `prog_id` and returns its `iid` interface (one
// reference, owned by the caller; null on failure). A registered in-process class is served by
// its library (loaded once per path and kept loaded) through DllGetClassObject and
// IClassFactory::CreateInstance. A ProgID that is not registered is looked for as a local
// server: a connection to `LocalServerSocketPath(prog_id)` gives a proxy that is an
// IOneWayDispatch (iid must be IID_IDispatch, IID_IOneWayDispatch or IID_IUnknown).
//
// Failures leave an error record with a readable description (including dlerror() text):
//   REGDB_E_CLASSNOTREG       neither registered nor a local-server socket present
//   CO_E_SERVER_EXEC_FAILURE  library cannot be loaded or lacks its exports; local server
//                             refuses the connection or does not accept it within the bound
//   CLASS_E_CLASSNOTAVAILABLE the library does not serve the registered CLSID
//   E_NOINTERFACE             the object lacks `iid`
//   E_FAIL                    the registry file cannot be read
PULLWIRE_COM_API HRESULT CreateObject(std::string_view prog_id, const Guid& iid, void** object /*out*/);

// For a host that loads a server library file directly, without the registry.
PULLWIRE_COM_API HRESULT CreateInstanceFromLibrary(const std::filesystem::path& library, const Guid& clsid,
                                                   const Guid& iid, void** object /*out*/);

// Load the library and call its DllRegisterServer / DllUnregisterServer.
PULLWIRE_COM_API HRESULT RegisterServerLibrary(const std::filesystem::path& library);
PULLWIRE_COM_API HRESULT UnregisterServerLibrary(const std::filesystem::path& library);

// The file of the loaded library that contains `address` (a function or variable of it), so
// that a library's DllRegisterServer can register its own path; empty when unknown.
PULLWIRE_COM_API std::filesystem::path LibraryPathContaining(const void* address);

// The bound on connecting to a local server, on sending each call through its proxy (Invoke or
// Post) and on the reply to an Invoke or a Flush, for the whole process (default 2 s). A proxy
// keeps the bound it was created with. Failing calls return RPC_E_TIMEOUT (not sent or not
// answered in time) or RPC_E_DISCONNECTED (connection lost); after either the proxy is
// disconnected and every later call returns RPC_E_DISCONNECTED.
inline constexpr std::chrono::milliseconds kDefaultLocalServerTimeout{2000};
PULLWIRE_COM_API void SetLocalServerTimeout(std::chrono::milliseconds timeout);
PULLWIRE_COM_API std::chrono::milliseconds LocalServerTimeout();

}  // namespace pullwire::com
