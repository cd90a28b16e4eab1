// Opening, writing, committing and abandoning a local download file.
#include "ftp/local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>
#include <fmt/format.h>

#include "ftp/errors.h"
#include "ftp/local_folder.h"

namespace pullwire::ftp {
namespace {

std::filesystem::path TempPathBeside(const std::filesystem::path& target) {
  static std::atomic<unsigned> counter{0};
  static const pid_t pid = ::getpid();
  return target.parent_path() / fmt::format(".pullwire-{}-{}.part", pid, counter.fetch_add(1));
}

}  // namespace

void ThrowLocalError(const std::string& action, const std::filesystem::path& path,
                     int error_number) {
  throw FtpError(ErrorCode::kLocalFileError,
                 fmt::format("cannot {} {}: {}", action, PrintableText(path.string(), 1000),
                             std::strerror(error_number)));
}

LocalFile LocalFile::Replace(const std::filesystem::path& target, SysIo& sys) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path temp = TempPathBeside(target);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return LocalFile(target, std::move(temp), fd, sys);
    if (errno != EEXIST) ThrowLocalError("create a file in", target.parent_path(), errno);
  }
  ThrowLocalError("create a file in", target.parent_path(), EEXIST);
}

int LocalFile::OpenInPlace(bool create) const {
  const int flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0);
  const int fd = ::openat(dir_fd_, name_.c_str(), flags, 0666);
  if (fd >= 0) return fd;
  if (errno == ENOENT && offset_ == 0 && !create) return -1;
  if (errno == ELOOP) ThrowLinkRefused("local file", target_);
  if (errno == ENOENT && offset_ > 0) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("cannot continue {} from byte {}: the file does not exist",
                               PrintableText(target_.string(), 1000), offset_));
  }
  ThrowLocalError("open", target_, errno);
}

LocalFile LocalFile::Continue(const std::filesystem::path& target, std::int64_t offset,
                              SysIo& sys) {
  return ContinueIn(AT_FDCWD, target.string(), target, offset, sys);
}

LocalFile LocalFile::ContinueIn(int dir_fd, const std::string& name,
                                const std::filesystem::path& shown, std::int64_t offset,
                                SysIo& sys) {
  LocalFile file(shown, {}, -1, sys);
  file.dir_fd_ = dir_fd;
  file.name_ = name;
  file.begun_ = false;
  file.offset_ = offset;
  file.fd_ = file.OpenInPlace(false);
  if (file.fd_ < 0) return file;
  struct stat info {};
  if (::fstat(file.fd_, &info) != 0) ThrowLocalError("read the size of", shown, errno);
  if (!S_ISREG(info.st_mode)) ThrowLocalError("write", shown, EISDIR);
  if (info.st_size < offset) {
    throw FtpError(ErrorCode::kInvalidValue,
                   fmt::format("cannot continue {} from byte {}: the file has only {} bytes",
                               PrintableText(shown.string(), 1000), offset, info.st_size));
  }
  return file;
}

void LocalFile::Begin() {
  if (begun_) return;
  begun_ = true;
  if (fd_ < 0) fd_ = OpenInPlace(true);
  if (::ftruncate(fd_, offset_) != 0) ThrowLocalError("shorten", target_, errno);
  // A file opened here stands at byte 0 already.
  if (offset_ > 0 && ::lseek(fd_, offset_, SEEK_SET) < 0) {
    ThrowLocalError("seek in", target_, errno);
  }
}

void LocalFile::StartOver() {
  if (!begun_) offset_ = 0;
}

LocalFile::LocalFile(LocalFile&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      dir_fd_(other.dir_fd_),
      name_(std::move(other.name_)),
      fd_(std::exchange(other.fd_, -1)),
      sys_(other.sys_),
      begun_(other.begun_),
      offset_(other.offset_) {
  other.temp_.clear();
}

LocalFile::~LocalFile() { Abandon(); }

void LocalFile::FailWrite(int error_number) { ThrowLocalError("write", target_, error_number); }

void LocalFile::Write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = sys_->Write(fd_, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      FailWrite(errno);
    }
    if (written == 0) FailWrite(ENOSPC);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

std::int64_t LocalFile::Commit() {
  Begin();
  struct stat info {};
  if (::fstat(fd_, &info) != 0) info.st_size = 0;
  const int fd = std::exchange(fd_, -1);
  // close() reports late write errors of some file systems (NFS, full quota).
  if (::close(fd) != 0) {
    const int error = errno;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    ThrowLocalError("write", target_, error);
  }
  if (temp_.empty()) return info.st_size;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp_.c_str());
    temp_.clear();
    ThrowLocalError("replace", target_, error);
  }
  temp_.clear();
  return info.st_size;
}

void LocalFile::Abandon() noexcept {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace pullwire::ftp
