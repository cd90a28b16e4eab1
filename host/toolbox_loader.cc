// Loading the Toolbox through the registry or a library file.
#include "host/toolbox_loader.h"

#include <fmt/format.h>

#include <system_error>

#include "com/activation.h"
#include "com/error_info.h"
#include "com/registry.h"
#include "host/host_error.h"

namespace pullwire::host {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLibraryName = "libpullwire.so";

LoadedToolbox FromLibrary(const fs::path& library) {
  LoadedToolbox loaded;
  const com::HRESULT hr =
      com::CreateInstanceFromLibrary(library, CLSID_Toolbox, IID__Toolbox, loaded.toolbox.ReceiveVoid());
  Check(hr, fmt::format("cannot create {} from {}", kToolboxProgId, library.string()));
  loaded.origin = library.string();
  return loaded;
}

}  // namespace

fs::path DefaultLibraryPath() {
  std::error_code ec;
  const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  const fs::path folder = executable.parent_path();
  for (const fs::path& candidate : {folder / kLibraryName, folder.parent_path() / "plugin" / kLibraryName,
                                    folder.parent_path() / "lib" / kLibraryName,
                                    folder.parent_path() / "lib" / "pullwire" / kLibraryName}) {
    if (fs::is_regular_file(candidate, ec)) return candidate.lexically_normal();
  }
  return {};
}

fs::path LibraryForRegistration(const std::optional<fs::path>& library) {
  if (library) return fs::absolute(*library);
  fs::path found = DefaultLibraryPath();
  if (found.empty()) {
    throw HostError(fmt::format("no {} beside this program; name one with --library PATH", kLibraryName));
  }
  return found;
}

LoadedToolbox LoadToolbox(const std::optional<fs::path>& library) {
  if (library) return FromLibrary(*library);

  com::ComPtr<_Toolbox> toolbox;
  const com::HRESULT hr = com::CreateObject(kToolboxProgId, IID__Toolbox, toolbox.ReceiveVoid());
  if (com::Succeeded(hr)) {
    LoadedToolbox loaded;
    loaded.toolbox = toolbox;
    com::ClassRegistration entry;
    com::Registry::Default().FindByProgId(kToolboxProgId, &entry);
    com::GetErrorInfo();
    loaded.origin = fmt::format("registry ({})", entry.library.string());
    return loaded;
  }
  const std::string failure = FailureText(fmt::format("cannot create {}", kToolboxProgId), hr);
  if (hr != com::REGDB_E_CLASSNOTREG) throw HostError(failure);

  const fs::path fallback = DefaultLibraryPath();
  if (fallback.empty()) {
    throw HostError(fmt::format("{} is not registered and there is no {} beside this program; "
                                "run 'pullwire register --library PATH' or pass --library PATH",
                                kToolboxProgId, kLibraryName));
  }
  return FromLibrary(fallback);
}

}  // namespace pullwire::host
