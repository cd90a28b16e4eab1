// A local folder of a mirror held open by its descriptor: what lies below it is looked at and
// created with fstatat/mkdirat/openat relative to that descriptor and never through a symbolic
// link, so that a link planted while the walk runs cannot redirect a write.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace pullwire::ftp {

class LocalFolder {
 public:
  // Opens `path`, which must be a folder whose last component is not a symbolic link (the
  // components above it are resolved as usual). Throws FtpError kInvalidValue for an empty
  // path, kLocalFileError otherwise.
  static LocalFolder Open(const std::filesystem::path& path);

  LocalFolder(LocalFolder&& other) noexcept;
  LocalFolder& operator=(LocalFolder&&) = delete;
  LocalFolder(const LocalFolder&) = delete;
  ~LocalFolder();

  // Creates the subfolder `name` when it is missing and opens it. A symbolic link, a file or
  // anything else standing there is refused with kLocalFileError; nothing is written through it.
  LocalFolder Sub(const std::string& name) const;

  enum class Kind { kMissing, kFile, kLink, kOther };
  struct Item {
    Kind kind = Kind::kMissing;
    std::int64_t size = 0;  // regular files only
  };
  // What stands at `name`, the link itself rather than its target.
  Item Look(const std::string& name) const;

  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  LocalFolder(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}

  int fd_ = -1;
  std::filesystem::path path_;  // for messages
};

// "the local folder /x/y is a symbolic link, which is not written through" (kLocalFileError).
[[noreturn]] void ThrowLinkRefused(const std::string& what, const std::filesystem::path& path);

}  // namespace pullwire::ftp
