// A test's own temporary folder, run-time folder and registry file, set in the environment
// for as long as the object lives, so parallel tests never meet each other's servers.
#pragma once

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
    runtime_ = root_ / "runtime";
    std::filesystem::create_directory(runtime_);
    chmod(runtime_.c_str(), 0700);
    registry_ = root_ / "config" / "registry.json";
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    setenv("NORVIK_REGISTRY", registry_.c_str(), 1);
  }
  ~PrivateEnvironment() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  PrivateEnvironment(const PrivateEnvironment&) = delete;
  PrivateEnvironment& operator=(const PrivateEnvironment&) = delete;

  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& runtime() const { return runtime_; }
  const std::filesystem::path& registry() const { return registry_; }

 private:
  std::filesystem::path root_;
  std::filesystem::path runtime_;
  std::filesystem::path registry_;
};

}  // namespace pullwire::testing
