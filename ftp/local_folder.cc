// Opening and creating the local folders of a mirror without following symbolic links.
#include "ftp/local_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include <fmt/format.h>

#include "ftp/errors.h"
#include "ftp/local_file.h"

namespace pullwire::ftp {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Explains a failed open of a folder: a link is refused as a link, anything else by its errno.
[[noreturn]] void ThrowOpenFailure(int dir_fd, const char* name, const std::filesystem::path& path,
                                   int error_number, const std::string& action) {
  struct stat info {};
  if (::fstatat(dir_fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
    ThrowLinkRefused("local folder", path);
  }
  ThrowLocalError(action, path, error_number);
}

}  // namespace

void ThrowLinkRefused(const std::string& what, const std::filesystem::path& path) {
  throw FtpError(ErrorCode::kLocalFileError,
                 fmt::format("the {} {} is a symbolic link, which is not written through", what,
                             PrintableText(path.string(), 1000)));
}

LocalFolder LocalFolder::Open(const std::filesystem::path& path) {
  if (path.empty()) throw FtpError(ErrorCode::kInvalidValue, "the local folder is empty");
  const int fd = ::open(path.c_str(), kFolderFlags);
  if (fd >= 0) return LocalFolder(fd, path);
  const int error = errno;
  if (error == ENOENT || error == ENOTDIR) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      ThrowLinkRefused("local folder", path);
    }
    throw FtpError(ErrorCode::kLocalFileError,
                   fmt::format("the local folder {} does not exist or is not a folder",
                               PrintableText(path.string(), 1000)));
  }
  ThrowOpenFailure(AT_FDCWD, path.c_str(), path, error, "open the folder");
}

LocalFolder::LocalFolder(LocalFolder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

LocalFolder::~LocalFolder() {
  if (fd_ >= 0) ::close(fd_);
}

LocalFolder LocalFolder::Sub(const std::string& name) const {
  const std::filesystem::path sub = path_ / name;
  if (::mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) {
    ThrowLocalError("create the folder", sub, errno);
  }
  const int fd = ::openat(fd_, name.c_str(), kFolderFlags);
  if (fd >= 0) return LocalFolder(fd, sub);
  // ENOTDIR (a file stands there) reads best as the creation that could not happen.
  const int error = errno == ENOTDIR ? EEXIST : errno;
  ThrowOpenFailure(fd_, name.c_str(), sub, error, "create the folder");
}

LocalFolder::Item LocalFolder::Look(const std::string& name) const {
  struct stat info {};
  if (::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return {};
    ThrowLocalError("look at", path_ / name, errno);
  }
  if (S_ISLNK(info.st_mode)) return {Kind::kLink, 0};
  if (S_ISREG(info.st_mode)) return {Kind::kFile, static_cast<std::int64_t>(info.st_size)};
  return {Kind::kOther, 0};
}

}  // namespace pullwire::ftp
