// The four entry points of the in-process server library libpullwire.so, and its one module with
// the real services wired in.
#include <filesystem>
#include <memory>

#include "com/activation.h"
#include "com/class_factory.h"
#include "com/error_info.h"
#include "com/registry.h"
#include "com/server_exports.h"
#include "download/module_download_run.h"
#include "module/daemon_channel.h"
#include "plugin/dialogs_loader.h"
#include "plugin/toolbox.h"
#include "plugin/type_library.h"

using pullwire::com::HRESULT;

namespace pullwire {
namespace {

// The services of a real host process: the daemon message channel, the download run, and the
// dialogs loaded when Setup first needs them.
void WireLibraryServices(PluginModule& module) {
  module.set_message_channel(std::make_unique<DaemonChannel>(module.state(), module.clock()));
  InstallDownloadRun(module);
  // Setup's desktop: loaded only when Setup first needs it, so Execute never loads Qt.
  InstallLazyDialogs(module);
}

struct WiredModule {
  WiredModule() { WireLibraryServices(module); }
  PluginModule module;
};

// The module of the loaded library.
PluginModule& LibraryModule() {
  // Made by the first call, destroyed at dlclose, so a reloaded library starts from the
  // load-time state again.
  static WiredModule wired;
  return wired.module;
}

com::HRESULT GetToolboxFactory(const com::Guid& iid, void** object) {
  PluginModule& module = LibraryModule();
  auto factory = com::MakeObject<com::ClassFactory>(
      [&module]() -> com::IUnknown* { return static_cast<_Toolbox*>(new Toolbox(module)); }, &module.objects(),
      kToolboxProgId);
  return factory->QueryInterface(iid, object);
}

}  // namespace
}  // namespace pullwire

PULLWIRE_SERVER_EXPORT HRESULT DllGetClassObject(const pullwire::com::Guid* clsid, const pullwire::com::Guid* iid,
                                                 void** object) {
  using namespace pullwire;
  if (object == nullptr) return com::E_POINTER;
  *object = nullptr;
  if (clsid == nullptr || iid == nullptr) return com::E_INVALIDARG;
  if (*clsid != CLSID_Toolbox) return com::CLASS_E_CLASSNOTAVAILABLE;
  return com::GuardedCall(kToolboxProgId, [&] { return GetToolboxFactory(*iid, object); });
}

PULLWIRE_SERVER_EXPORT HRESULT DllCanUnloadNow() {
  return pullwire::com::GuardedCall(pullwire::kToolboxProgId,
                                    [] { return pullwire::LibraryModule().objects().CanUnloadNow(); });
}

PULLWIRE_SERVER_EXPORT HRESULT DllRegisterServer() {
  using namespace pullwire;
  return com::GuardedCall(kToolboxProgId, [] {
    std::filesystem::path library = com::LibraryPathContaining(reinterpret_cast<const void*>(&DllRegisterServer));
    if (library.empty()) {
      return com::ReportFailure(com::E_FAIL, "cannot tell which file this library was loaded from", kToolboxProgId);
    }
    const com::ClassRegistration entry{kToolboxProgId, CLSID_Toolbox, std::filesystem::absolute(library),
                                       kTypeLibraryHelpString};
    return com::Registry::Default().Register(entry);
  });
}

PULLWIRE_SERVER_EXPORT HRESULT DllUnregisterServer() {
  using namespace pullwire;
  return com::GuardedCall(kToolboxProgId, [] { return com::Registry::Default().Unregister(kToolboxProgId); });
}
