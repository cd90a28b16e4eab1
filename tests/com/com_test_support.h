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
using pullwire::testing::ScopedEnv;
using pullwire::testing::TempDir;
using pullwire::testing::WriteFile;

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
