// A local file being downloaded. A replacing download writes a new file beside the target and
// renames it over the target when the transfer is complete, so that a failed transfer leaves
// the earlier file intact and no partial file under the final name, and a symbolic link at the
// target is replaced, never followed. A continued download writes in place from an offset, so
// that a later attempt can continue it.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "ftp/sys_io.h"

namespace pullwire::ftp {

class LocalFile {
 public:
  // Throws FtpError kLocalFileError when the folder is not writable.
  static LocalFile Replace(const std::filesystem::path& target, SysIo& sys);
  // Checks an existing regular file (none is needed when `offset` is 0) for continuing at
  // `offset`. Throws kInvalidValue when the file is shorter than `offset`, kLocalFileError when
  // it cannot be opened (a symbolic link is not written through). Nothing is cut or created
  // before Begin(), so a transfer the server refuses leaves the local file as it was.
  static LocalFile Continue(const std::filesystem::path& target, std::int64_t offset,
                            SysIo& sys);
  // The same for the file `name` inside the open folder `dir_fd` (which must stay open until
  // the file is committed or abandoned); `shown` names it in messages.
  static LocalFile ContinueIn(int dir_fd, const std::string& name,
                              const std::filesystem::path& shown, std::int64_t offset,
                              SysIo& sys);

  LocalFile(LocalFile&& other) noexcept;
  LocalFile& operator=(LocalFile&&) = delete;
  LocalFile(const LocalFile&) = delete;
  ~LocalFile();

  // Called when the data starts: creates a missing file, cuts a continued one to its offset.
  void Begin();
  // Before Begin(): the server would not continue, so the file is written from byte 0.
  void StartOver();
  int fd() const { return fd_; }
  const std::filesystem::path& target() const { return target_; }

  // Writes everything (short writes and EINTR retried); throws kLocalFileError ("No space left
  // on device") naming the file.
  void Write(const char* data, std::size_t size);
  [[noreturn]] void FailWrite(int error_number);

  // Closes the file and, for a replacing download, renames it over the target. Returns the
  // file's length in bytes.
  std::int64_t Commit();
  // Closes the file; a replacing download's new file is removed, a continued one is kept.
  void Abandon() noexcept;

 private:
  LocalFile(std::filesystem::path target, std::filesystem::path temp, int fd, SysIo& sys)
      : target_(std::move(target)), temp_(std::move(temp)), fd_(fd), sys_(&sys) {}

  // Opens the file for writing, never through a symbolic link; without `create`, a missing file
  // gives -1 when there is nothing to continue (`offset_` 0) and an error otherwise.
  int OpenInPlace(bool create) const;

  std::filesystem::path target_;
  std::filesystem::path temp_;  // empty when writing in place
  int dir_fd_ = AT_FDCWD;       // AT_FDCWD: `name_` is a path
  std::string name_;            // what openat() opens, in place
  int fd_ = -1;
  SysIo* sys_;
  bool begun_ = true;
  std::int64_t offset_ = 0;  // continued files: where Begin() cuts
};

// "cannot write /x/y: No space left on device" as an FtpError kLocalFileError.
[[noreturn]] void ThrowLocalError(const std::string& action, const std::filesystem::path& path,
                                  int error_number);

}  // namespace pullwire::ftp
