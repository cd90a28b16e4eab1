// `pullwire register` and `pullwire unregister`: the library's own DllRegisterServer and
// DllUnregisterServer against the per-user registry.
#include <fmt/format.h>

#include "com/activation.h"
#include "com/registry.h"
#include "host/commands.h"
#include "host/host_error.h"
#include "host/toolbox_loader.h"
#include "pullwire/toolbox.h"

namespace pullwire::host {
namespace {

void Register(const HostOptions& options) {
  const auto library = LibraryForRegistration(options.library);
  Check(com::RegisterServerLibrary(library), fmt::format("cannot register {}", library.string()));
  fmt::print("Registered {} -> {} in {}\n", kToolboxProgId, library.string(), com::Registry::DefaultPath().string());
}

void Unregister(const HostOptions& options) {
  const auto library = LibraryForRegistration(options.library);
  const com::HRESULT hr = com::UnregisterServerLibrary(library);
  Check(hr, fmt::format("cannot unregister {}", library.string()));
  if (hr == com::S_FALSE) {
    fmt::print("{} was not registered in {}\n", kToolboxProgId, com::Registry::DefaultPath().string());
  } else {
    fmt::print("Unregistered {} from {}\n", kToolboxProgId, com::Registry::DefaultPath().string());
  }
}

}  // namespace

void AddRegisterCommands(CLI::App& app, const HostOptions& options) {
  app.add_subcommand("register", "Enter Pullwire.Toolbox in the per-user registry ($NORVIK_REGISTRY)")
      ->callback([&options] { Register(options); });
  app.add_subcommand("unregister", "Remove Pullwire.Toolbox from the per-user registry")
      ->callback([&options] { Unregister(options); });
}

}  // namespace pullwire::host
