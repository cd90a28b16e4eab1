// Object creation by ProgID or library file, the cache of loaded server libraries, and the
// registration calls.
#include "com/activation.h"

#include <dlfcn.h>
#include <fmt/format.h>

#include <atomic>
#include <map>
#include <mutex>

#include "com/com_ptr.h"
#include "com/error_info.h"
#include "com/local_proxy.h"
#include "com/registry.h"
#include "com/server_exports.h"

namespace pullwire::com {
namespace {

namespace fs = std::filesystem;

std::atomic<std::int64_t> g_timeout_ms{kDefaultLocalServerTimeout.count()};

std::string DlError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

// A server library loaded once per path and kept until FreeUnusedLibraries finds it unused.
// `activations` counts calls into it still running, so that it is never closed under one.
struct ServerLibrary {
  void* handle = nullptr;
  DllGetClassObjectFn get_class_object = nullptr;
  DllCanUnloadNowFn can_unload_now = nullptr;
  int activations = 0;
};

std::mutex g_mutex;
std::map<std::string, ServerLibrary>& Libraries() {
  static auto* libraries = new std::map<std::string, ServerLibrary>;  // lives until exit
  return *libraries;
}

std::string LibraryKey(const fs::path& library) {
  std::error_code ec;
  const fs::path canonical = fs::canonical(library, ec);
  return ec ? fs::absolute(library, ec).string() : canonical.string();
}

// The loaded library at `key`, loading it when needed, with one activation counted; the caller
// ends it with EndActivation.
HRESULT BeginActivation(const std::string& key, const std::string& source, ServerLibrary* out) {
  std::lock_guard lock(g_mutex);
  auto& libraries = Libraries();
  auto it = libraries.find(key);
  if (it == libraries.end()) {
    void* handle = dlopen(key.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      return ReportFailure(CO_E_SERVER_EXEC_FAILURE, fmt::format("cannot load server library: {}", DlError()), source);
    }
    ServerLibrary library{handle, nullptr, nullptr, 0};
    library.get_class_object = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, kDllGetClassObject));
    library.can_unload_now = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle, kDllCanUnloadNow));
    if (library.get_class_object == nullptr || library.can_unload_now == nullptr) {
      const std::string missing = library.get_class_object == nullptr ? kDllGetClassObject : kDllCanUnloadNow;
      dlclose(handle);
      return ReportFailure(CO_E_SERVER_EXEC_FAILURE,
                           fmt::format("{} is not a server library: it does not export {}", key, missing), source);
    }
    it = libraries.emplace(key, library).first;
  }
  ++it->second.activations;
  *out = it->second;
  return S_OK;
}

void EndActivation(const std::string& key) {
  std::lock_guard lock(g_mutex);
  if (auto it = Libraries().find(key); it != Libraries().end()) --it->second.activations;
}

HRESULT CreateFromLibrary(const fs::path& path, const Guid& clsid, const Guid& iid, void** object,
                          const std::string& source) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const std::string key = LibraryKey(path);
  ServerLibrary library;
  if (const HRESULT hr = BeginActivation(key, source, &library); Failed(hr)) return hr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = library.get_class_object(&clsid, &IID_IClassFactory, factory.ReceiveVoid());
  if (Failed(hr) || !factory) {
    EndActivation(key);
    return ReportFailure(Failed(hr) ? hr : E_UNEXPECTED,
                         fmt::format("{} does not serve class {} (DllGetClassObject returned 0x{:08X})", key,
                                     ToString(clsid), static_cast<std::uint32_t>(hr)),
                         source);
  }
  hr = factory->CreateInstance(nullptr, iid, object);
  factory.Reset();
  EndActivation(key);
  if (Failed(hr)) {
    auto record = GetErrorInfo();
    if (!record) {
      record = ErrorRecord{hr, fmt::format("class {} of {} could not create the object (0x{:08X})", ToString(clsid),
                                           key, static_cast<std::uint32_t>(hr)),
                           source};
    }
    SetErrorInfo(std::move(*record));
  }
  return hr;
}

// Loads the library and calls one of its registration exports.
HRESULT CallRegistrationExport(const fs::path& path, const char* name) {
  const std::string key = LibraryKey(path);
  ServerLibrary library;
  if (const HRESULT hr = BeginActivation(key, key, &library); Failed(hr)) return hr;
  dlerror();
  const auto function = reinterpret_cast<DllRegisterServerFn>(dlsym(library.handle, name));
  HRESULT hr;
  if (function == nullptr) {
    hr = ReportFailure(CO_E_SERVER_EXEC_FAILURE, fmt::format("{} does not export {}", key, name), key);
  } else {
    hr = function();
    if (Failed(hr)) {
      auto record = GetErrorInfo();
      SetErrorInfo(record.value_or(ErrorRecord{
          hr, fmt::format("{} of {} failed (0x{:08X})", name, key, static_cast<std::uint32_t>(hr)), key}));
    }
  }
  EndActivation(key);
  return hr;
}

}  // namespace

HRESULT CreateObject(std::string_view prog_id, const Guid& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const std::string source(prog_id);
  ClassRegistration entry;
  const HRESULT hr = Registry::Default().FindByProgId(prog_id, &entry);
  if (hr == S_OK) return CreateFromLibrary(entry.library, entry.clsid, iid, object, source);
  if (hr != REGDB_E_CLASSNOTREG) return hr;
  GetErrorInfo();  // the local server reports its own failure
  return ConnectLocalServer(prog_id, iid, LocalServerTimeout(), object);
}

HRESULT CreateInstanceFromLibrary(const fs::path& library, const Guid& clsid, const Guid& iid, void** object) {
  return CreateFromLibrary(library, clsid, iid, object, library.string());
}

HRESULT RegisterServerLibrary(const fs::path& library) {
  return CallRegistrationExport(library, kDllRegisterServer);
}

HRESULT UnregisterServerLibrary(const fs::path& library) {
  return CallRegistrationExport(library, kDllUnregisterServer);
}

int FreeUnusedLibraries() {
  std::lock_guard lock(g_mutex);
  int freed = 0;
  auto& libraries = Libraries();
  for (auto it = libraries.begin(); it != libraries.end();) {
    if (it->second.activations == 0 && it->second.can_unload_now() == S_OK) {
      dlclose(it->second.handle);
      it = libraries.erase(it);
      ++freed;
    } else {
      ++it;
    }
  }
  return freed;
}

fs::path LibraryPathContaining(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code ec;
  const fs::path canonical = fs::canonical(info.dli_fname, ec);
  return ec ? fs::path(info.dli_fname) : canonical;
}

void SetLocalServerTimeout(std::chrono::milliseconds timeout) {
  g_timeout_ms.store(timeout.count() < 1 ? 1 : timeout.count());
}

std::chrono::milliseconds LocalServerTimeout() { return std::chrono::milliseconds(g_timeout_ms.load()); }

}  // namespace pullwire::com
