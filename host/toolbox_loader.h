// How the pullwire host gets its Toolbox: only as any host would, through the registry or a
// library file and its exports.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "com/com_ptr.h"
#include "pullwire/toolbox.h"

namespace pullwire::host {

struct LoadedToolbox {
  com::ComPtr<_Toolbox> toolbox;
  std::string origin;  // "registry (PATH)" or the library file, for the user
};

// With `library`, that file through its DllGetClassObject. Without, the class registered as
// Pullwire.Toolbox; when it is not registered, the library found by DefaultLibraryPath.
// Throws HostError with a readable reason.
LoadedToolbox LoadToolbox(const std::optional<std::filesystem::path>& library);

// The libpullwire.so that belongs to this executable: beside it, in the build tree's plugin/
// folder next to host/, or in ../lib or ../lib/pullwire of an installation; the first that
// exists. Empty when none does.
std::filesystem::path DefaultLibraryPath();

// The library a register/unregister command means: `library` when given, else the default.
// Throws HostError when there is none.
std::filesystem::path LibraryForRegistration(const std::optional<std::filesystem::path>& library);

}  // namespace pullwire::host
