// Test data helpers: temporary folders, whole-file reads and writes, deterministic content.
#include "tests/support/test_files.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <fmt/core.h>
#include <fmt/std.h>

namespace pullwire::testing {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in.is_open() || in.bad()) throw std::runtime_error(fmt::format("cannot read {}", path));
  return bytes;
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error(fmt::format("cannot write {}", path));
}

void WriteFiles(const fs::path& root, const Files& files) {
  for (const auto& [name, content] : files) WriteFile(root / name, content);
}

Files Contents(const fs::path& root) {
  Files found;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string& value = found[item.path().lexically_relative(root).string()];
    if (item.is_symlink()) {
      value = "-> " + fs::read_symlink(item.path()).string();
    } else {
      value = item.is_directory() ? "/" : ReadFile(item.path());
    }
  }
  return found;
}

std::string PatternBytes(std::size_t size, std::uint32_t seed) {
  // A 64-bit LCG, one step per 8 bytes, started from the seed and the size.
  std::string bytes(size, '\0');
  std::uint64_t state = 0x9E3779B97F4A7C15ULL ^ (static_cast<std::uint64_t>(seed) << 32) ^ size;
  for (std::size_t i = 0; i < size; ++i) {
    if (i % 8 == 0) state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    bytes[i] = static_cast<char>((state >> (8 * (i % 8))) & 0xFF);
  }
  return bytes;
}

int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  auto* generic = reinterpret_cast<sockaddr*>(&address);
  const bool bound = ::bind(fd, generic, length) == 0 && ::getsockname(fd, generic, &length) == 0;
  const int error = errno;
  ::close(fd);
  if (!bound) throw std::system_error(error, std::generic_category(), "bind to a loopback port");
  return ntohs(address.sin_port);
}

TempDir::TempDir(std::string_view label) {
  std::string pattern = fs::temp_directory_path() / fmt::format("pullwire-{}-XXXXXX", label);
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "cannot create " + pattern);
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

}  // namespace pullwire::testing
