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

// A server library, loaded once per path and kept for the life of the process.
struct ServerLibrary {
  void* handle = nullptr;
  DllGetClassObjectFn get_class_object = nullptr;
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

// The loaded library at `key`, loading it when needed.
HRESULT LoadServerLibrary(const std::string& key, const std::string& source, ServerLibrary* out) {
  std::lock_guard lock(g_mutex);
  auto& libraries = Libraries();
  auto it = libraries.find(key);
  if (it == libraries.end()) {
    void* handle = dlopen(key.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      return ReportFailure(CO_E_SERVER_EXEC_FAILURE, fmt::format("cannot load server library: {}", DlError()), source);
    }
    ServerLibrary library{handle, reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, kDllGetClassObject))};
    if (library.get_class_object == nullptr || dlsym(handle, kDllCanUnloadNow) == nullptr) {
      const std::string missing = library.get_class_object == nullptr ? kDllGetClassObject : kDllCanUnloadNow;
      dlclose(handle);
      return ReportFailure(CO_E_SERVER_EXEC_FAILURE,
                           fmt::format("{} is not a server library: it does not export {}", key, missing), source);
    }
    it = libraries.emplace(key, library).first;
  }
  *out = it->second;
  return S_OK;
}

HRESULT CreateFromLibrary(const fs::path& path, const Guid& clsid, const Guid& iid, void** object,
                          const std::string& source) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const std::string key = LibraryKey(path);
  ServerLibrary library;
  if (const HRESULT hr = LoadServerLibrary(key, source, &library); Failed(hr)) return hr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = library.get_class_object(&clsid, &IID_IClassFactory, factory.ReceiveVoid());
  if (Failed(hr) || !factory) {
    return ReportFailure(Failed(hr) ? hr : E_UNEXPECTED,
                         fmt::format("{} does not serve class {} (DllGetClassObject returned 0x{:08X})", key,
                                     ToString(clsid), static_cast<std::uint32_t>(hr)),
                         source);
  }
  hr = factory->CreateInstance(nullptr, iid, object);
  factory.Reset();
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
  if (const HRESULT hr = LoadServerLibrary(key, key, &library); Failed(hr)) return hr;
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
