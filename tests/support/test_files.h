// Test data helpers: temporary folders, file reads and writes, deterministic bytes, scoped env.
#pragma once

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <map>
#include <string>
#include <string_view>

namespace pullwire::testing {

// Both throw std::runtime_error naming the path on failure.
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view bytes);  // makes parents

// A tree by relative path: a file's content, "-> target" for a link, "/" for a folder.
using Files = std::map<std::string, std::string>;
void WriteFiles(const std::filesystem::path& root, const Files& files);  // files only
Files Contents(const std::filesystem::path& root);
// Deterministic bytes: every size and seed gives different content, and no 8-byte word repeats,
// so a copy that skipped or doubled a block never compares equal.
std::string PatternBytes(std::size_t size, std::uint32_t seed = 1);
// A loopback TCP port nobody listens on at the moment (for "connection refused" cases).
int UnusedPort();

// A fresh 0700 folder under the temp directory, removed with everything in it on destruction.
class TempDir {
 public:
  explicit TempDir(std::string_view label = "test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view relative) const { return path_ / relative; }

 private:
  std::filesystem::path path_;
};

// Sets (or with nullopt, unsets) an environment variable for the scope of one test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    Set(name_, value);
  }
  ~ScopedEnv() { Set(name_, old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  static void Set(const char* name, const std::optional<std::string>& value) {
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace pullwire::testing
