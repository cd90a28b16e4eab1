// Temporary copies in the destination folder, made with exclusive creation and put in place by
// rename(2), which replaces a symbolic link rather than writing through it.
#include "download/local_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <fmt/core.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <random>
#include <stdexcept>
#include <system_error>

namespace pullwire {
namespace {

// Bounded: a collision of 64 random bits is already unheard of.
constexpr int kNameAttempts = 16;

constexpr std::string_view kTempPrefix = ".pullwire-";
constexpr std::string_view kTempSuffix = ".part";

std::string TemporaryName(std::mt19937_64& random) {
  return fmt::format("{}{}-{:016x}{}", kTempPrefix, ::getpid(), random(), kTempSuffix);
}

// The writer's process id in a temporary name of ours; nullopt for any other name.
std::optional<pid_t> WriterOf(std::string_view name) {
  if (name.size() <= kTempPrefix.size() + kTempSuffix.size() || !name.starts_with(kTempPrefix) ||
      !name.ends_with(kTempSuffix)) {
    return std::nullopt;
  }
  name.remove_prefix(kTempPrefix.size());
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc() || end == name.data() || *end != '-' || pid <= 0) return std::nullopt;
  return pid;
}

bool Alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// The permission bits a replaced regular file at `path` hands on; nullopt when none stands there.
std::optional<mode_t> EarlierMode(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return info.st_mode & 0777;
}

// Seeded once per thread: seeding for every file would read the entropy source per download.
std::mt19937_64& Random() {
  thread_local std::mt19937_64 random = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return random;
}

[[noreturn]] void ThrowSystem(const std::string& action, const std::string& path, int error) {
  throw std::runtime_error(fmt::format("cannot {} {}: {}", action, path, std::strerror(error)));
}

}  // namespace

bool LocalFileExists(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  return S_ISREG(info.st_mode) || S_ISLNK(info.st_mode);
}

LocalCopy LocalCopy::Create(const std::string& local_folder, const std::string& name, Destination kind) {
  std::mt19937_64& random = Random();
  const std::filesystem::path folder(local_folder);
  int error = 0;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::filesystem::path temp = folder / TemporaryName(random);
    if (kind == Destination::kFolder) {
      if (::mkdir(temp.c_str(), 0700) == 0) return LocalCopy(temp / name, temp);
    } else {
      // Until it takes the earlier file's bits, the new copy is no more open than that file.
      const mode_t mode = EarlierMode((folder / name).string()) ? 0600 : 0666;
      const int fd =
          ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
      if (fd >= 0) {
        ::close(fd);
        return LocalCopy(temp, {});
      }
    }
    error = errno;
    if (error != EEXIST) break;
  }
  ThrowSystem("create a file in", local_folder, error);
}

LocalCopy::LocalCopy(LocalCopy&& other) noexcept
    : written_(std::move(other.written_)), folder_(std::move(other.folder_)) {
  other.written_.clear();
  other.folder_.clear();
}

LocalCopy& LocalCopy::operator=(LocalCopy&& other) noexcept {
  if (this != &other) {
    Discard();
    written_ = std::move(other.written_);
    folder_ = std::move(other.folder_);
    other.written_.clear();
    other.folder_.clear();
  }
  return *this;
}

LocalCopy::~LocalCopy() { Discard(); }

std::string LocalCopy::ComponentDestination() const {
  return folder_.empty() ? written_.string() : folder_.string();
}

std::optional<std::int64_t> LocalCopy::Length() const {
  struct stat info {};
  if (written_.empty() || ::lstat(written_.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(info.st_size);
}

void LocalCopy::PlaceAt(const std::string& final_path) {
  if (const std::optional<mode_t> mode = EarlierMode(final_path);
      mode && ::chmod(written_.c_str(), *mode) != 0) {
    ThrowSystem("give the downloaded file the permissions of", final_path, errno);
  }
  if (::rename(written_.c_str(), final_path.c_str()) != 0) {
    ThrowSystem("put the downloaded file in place as", final_path, errno);
  }
  written_.clear();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    folder_.clear();
  }
}

void LocalCopy::Discard() noexcept {
  std::error_code ignored;
  if (!folder_.empty()) {
    // Our own 0700 folder: remove_all deletes links inside it, never what they point to.
    std::filesystem::remove_all(folder_, ignored);
  } else if (!written_.empty()) {
    std::filesystem::remove(written_, ignored);
  }
  written_.clear();
  folder_.clear();
}

int RemoveLeftoverCopies(const std::string& local_folder) noexcept {
  DIR* dir = ::opendir(local_folder.c_str());
  if (dir == nullptr) return 0;
  int removed = 0;
  const int fd = ::dirfd(dir);
  const uid_t user = ::geteuid();
  while (const dirent* item = ::readdir(dir)) {
    const std::string_view name(item->d_name);
    const std::optional<pid_t> writer = WriterOf(name);
    if (!writer || *writer == ::getpid() || Alive(*writer)) continue;
    struct stat info {};
    if (::fstatat(fd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || info.st_uid != user) {
      continue;
    }
    std::error_code error;
    if (S_ISREG(info.st_mode)) {
      removed += ::unlinkat(fd, item->d_name, 0) == 0 ? 1 : 0;
    } else if (S_ISDIR(info.st_mode)) {
      // A ZIP entry's private folder; remove_all removes links inside it, never what they lead to.
      removed += std::filesystem::remove_all(std::filesystem::path(local_folder) / name, error) > 0;
    }
  }
  ::closedir(dir);
  return removed;
}

}  // namespace pullwire
