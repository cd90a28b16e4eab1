// libpullwire.so loaded the way a host loads it: dlopen and the exports, never linked. Each test
// loads its own copy of the file, so each gets a module of its own even when tests share a process.
#pragma once

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <utility>

#include "com/com_ptr.h"
#include "com/server_exports.h"
#include "pullwire/toolbox.h"

namespace pullwire::testing {

class LoadedLibrary {
 public:
  // Copies the built library into `folder` and loads the copy.
  explicit LoadedLibrary(const std::filesystem::path& folder) : path_(folder / "libpullwire.so") {
    std::filesystem::copy_file(PULLWIRE_LIBRARY_PATH, path_, std::filesystem::copy_options::overwrite_existing);
    Load();
  }
  ~LoadedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  void Load() {
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    get_class_object = reinterpret_cast<com::DllGetClassObjectFn>(dlsym(handle_, com::kDllGetClassObject));
    can_unload_now = reinterpret_cast<com::DllCanUnloadNowFn>(dlsym(handle_, com::kDllCanUnloadNow));
    if (get_class_object == nullptr || can_unload_now == nullptr) throw std::runtime_error("missing exports");
  }
  // Unloads; true when the library really left the process.
  bool Unload() {
    dlclose(std::exchange(handle_, nullptr));
    void* still = dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (still != nullptr) dlclose(still);
    return still == nullptr;
  }
  const std::filesystem::path& path() const { return path_; }

  com::ComPtr<com::IClassFactory> Factory() const {
    com::ComPtr<com::IClassFactory> factory;
    get_class_object(&CLSID_Toolbox, &com::IID_IClassFactory, factory.ReceiveVoid());
    if (!factory) throw std::runtime_error("DllGetClassObject failed");
    return factory;
  }
  com::ComPtr<_Toolbox> NewToolbox() const {
    com::ComPtr<_Toolbox> box;
    Factory()->CreateInstance(nullptr, IID__Toolbox, box.ReceiveVoid());
    if (!box) throw std::runtime_error("CreateInstance failed");
    return box;
  }

  com::DllGetClassObjectFn get_class_object = nullptr;
  com::DllCanUnloadNowFn can_unload_now = nullptr;

 private:
  std::filesystem::path path_;
  void* handle_ = nullptr;
};

}  // namespace pullwire::testing
