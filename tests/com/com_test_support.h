// Helpers for the runtime tests: private temporary folders, environment overrides, a private
// registry and run-time folder per test, and calls by name.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "com/error_info.h"
#include "com/late_binding.h"
#include "tests/support/test_files.h"

namespace pullwire::com::testing {

using pullwire::testing::ReadFile;
using pullwire::testing::TempDir;
using pullwire::testing::WriteFile;

// Sets (or with nullopt, unsets) an environment variable for the scope of one test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A test of its own registry file and run-time folder (one 0700 folder for both), set in the
// environment for the test's span.
class PrivateRuntime : public ::testing::Test {
 protected:
  TempDir folder_{"com"};
  ScopedEnv registry_{"NORVIK_REGISTRY", (folder_ / "registry.json").string()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", folder_.path().string()};
};

// A method call by name; by-reference arguments come back in `args`.
inline HRESULT CallMethod(IDispatch& object, std::string_view name, std::span<Variant> args, Variant* result) {
  return InvokeByName(object, name, InvokeKind::kMethod, args, result);
}

// The description of the calling thread's error record, or "<no record>".
inline std::string TakeErrorText() {
  const auto record = GetErrorInfo();
  return record ? record->description : "<no record>";
}

}  // namespace pullwire::com::testing
