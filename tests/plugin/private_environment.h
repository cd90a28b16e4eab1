// A test's own temporary folder, run-time folder and registry file, set in the environment while
// it lives so that parallel tests never meet each other's servers; and the locale tests' locale.
#pragma once

#include <locale.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/test_files.h"

namespace pullwire::testing {

class PrivateEnvironment {
 public:
  PrivateEnvironment() {
    std::filesystem::create_directory(runtime());
    chmod(runtime().c_str(), 0700);
  }

  const std::filesystem::path& root() const { return dir_.path(); }
  std::filesystem::path runtime() const { return root() / "runtime"; }
  std::filesystem::path registry() const { return root() / "config" / "registry.json"; }

 private:
  TempDir dir_{"test"};
  ScopedEnv runtime_env_{"XDG_RUNTIME_DIR", runtime().string()};
  ScopedEnv registry_env_{"NORVIK_REGISTRY", registry().string()};
};

// A locale unlike English in every way the plug-in follows ("Mär", "21,5"), for LC_ALL.
inline constexpr char kGermanLocale[] = "de_DE.UTF-8";
inline constexpr char kGermanLocaleMissing[] =
    "de_DE.UTF-8 is not installed: run tests/support/prepare-machine.sh as root";

inline bool LocaleInstalled(const char* name) {
  const locale_t locale = newlocale(LC_ALL_MASK, name, nullptr);
  if (locale != nullptr) freelocale(locale);
  return locale != nullptr;
}

}  // namespace pullwire::testing
