// A test's own temporary folder, run-time folder and registry file, set in the environment so
// that parallel tests never meet each other's servers; and the locale the locale tests name.
#pragma once

#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace pullwire::testing {

class PrivateEnvironment {
 public:
  PrivateEnvironment() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pullwire-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    std::filesystem::create_directory(runtime());
    chmod(runtime().c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime().c_str(), 1);
    setenv("NORVIK_REGISTRY", registry().c_str(), 1);
  }
  ~PrivateEnvironment() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  PrivateEnvironment(const PrivateEnvironment&) = delete;
  PrivateEnvironment& operator=(const PrivateEnvironment&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path runtime() const { return root_ / "runtime"; }
  std::filesystem::path registry() const { return root_ / "config" / "registry.json"; }

 private:
  std::filesystem::path root_;
};

// The locale whose conventions differ from English in every way the plug-in follows: "Mär",
// "21,5". tests/support/prepare-machine.sh generates it; a test names it in LC_ALL (ctest runs
// every test under C.UTF-8).
inline constexpr char kGermanLocale[] = "de_DE.UTF-8";
inline constexpr char kGermanLocaleMissing[] =
    "de_DE.UTF-8 is not installed: run tests/support/prepare-machine.sh as root";

inline bool LocaleInstalled(const char* name) {
  const locale_t locale = newlocale(LC_ALL_MASK, name, nullptr);
  if (locale != nullptr) freelocale(locale);
  return locale != nullptr;
}

}  // namespace pullwire::testing
