// Taking, giving back and clearing away a local server's lock file.
#include "com/server_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "com/error_info.h"
#include "com/runtime_folder.h"

namespace pullwire::com {
namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A socket nobody answers on.
bool DeadSocket(const std::filesystem::path& socket) {
  struct stat st {};
  UniqueFd probe;
  return lstat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
         !ConnectUnix(socket, Clock::now() + std::chrono::milliseconds(200), &probe).ok();
}

}  // namespace

UniqueFd TakeServerLock(const std::string& path, bool create) {
  // Bounded: each round means the holder removed the file between our open and our flock.
  for (int attempt = 0; attempt < 8; ++attempt) {
    UniqueFd lock(open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600));
    if (!lock || flock(lock.get(), LOCK_EX | LOCK_NB) != 0) return {};
    struct stat held {};
    struct stat named {};
    if (fstat(lock.get(), &held) == 0 && stat(path.c_str(), &named) == 0 && SameFile(held, named)) {
      return lock;
    }
  }
  errno = EWOULDBLOCK;
  return {};
}

void ReleaseServerLock(const std::filesystem::path& socket, UniqueFd& lock) {
  if (!lock) return;
  unlink((socket.string() + ".lock").c_str());
  lock.Reset();
}

bool RemoveStaleServerFiles(std::string_view prog_id) {
  std::filesystem::path socket;
  if (Failed(LocalServerSocketPath(prog_id, /*create_folder=*/false, &socket))) {
    GetErrorInfo();
    return false;
  }
  UniqueFd lock = TakeServerLock(socket.string() + ".lock", /*create=*/false);
  if (!lock) {
    // Without a lock file no server can be behind the socket: every server holds its lock.
    return errno == ENOENT && DeadSocket(socket) && unlink(socket.c_str()) == 0;
  }
  struct stat st {};
  if (lstat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(socket.c_str());
  ReleaseServerLock(socket, lock);
  return true;
}

}  // namespace pullwire::com
