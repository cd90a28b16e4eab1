// The private run-time folder of local servers and the socket path of a ProgID.
#include "com/runtime_folder.h"

#include <fmt/format.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "com/error_info.h"
#include "com/names.h"

namespace pullwire::com {
namespace {

constexpr const char* kSource = "pullwire.com";

std::filesystem::path RuntimeBase(bool* is_own_tmp) {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && xdg[0] == '/') {
    *is_own_tmp = false;
    return xdg;
  }
  *is_own_tmp = true;
  return fmt::format("/tmp/norvik-{}", geteuid());
}

// A folder we may trust: a real directory (not a link), ours, closed to group and others.
// S_FALSE when it does not exist.
HRESULT CheckFolder(const std::filesystem::path& folder) {
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) {
    if (errno == ENOENT) return S_FALSE;
    return ReportFailure(E_FAIL, fmt::format("cannot examine folder {}: {}", folder.string(), std::strerror(errno)),
                         kSource);
  }
  if (!S_ISDIR(st.st_mode)) {
    return ReportFailure(E_ACCESSDENIED, fmt::format("{} is not a directory", folder.string()), kSource);
  }
  if (st.st_uid != geteuid()) {
    return ReportFailure(E_ACCESSDENIED,
                         fmt::format("folder {} is owned by user {}, not by user {}", folder.string(), st.st_uid,
                                     geteuid()),
                         kSource);
  }
  if ((st.st_mode & 077) != 0) {
    return ReportFailure(E_ACCESSDENIED,
                         fmt::format("folder {} is open to other users (mode {:04o}); it must be 0700",
                                     folder.string(), st.st_mode & 07777),
                         kSource);
  }
  return S_OK;
}

HRESULT MakeFolder(const std::filesystem::path& folder) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return ReportFailure(E_FAIL, fmt::format("cannot create folder {}: {}", folder.string(), std::strerror(errno)),
                         kSource);
  }
  const HRESULT hr = CheckFolder(folder);
  return hr == S_FALSE ? ReportFailure(E_FAIL, fmt::format("folder {} vanished", folder.string()), kSource) : hr;
}

}  // namespace

HRESULT LocalServerFolder(bool create, std::filesystem::path* folder) {
  if (folder == nullptr) return E_POINTER;
  bool is_own_tmp = false;
  const std::filesystem::path base = RuntimeBase(&is_own_tmp);
  *folder = base / "norvik";
  HRESULT hr = CheckFolder(base);
  if (Failed(hr)) return hr;
  if (hr == S_FALSE) {
    if (!create) return S_OK;
    if (!is_own_tmp) {
      return ReportFailure(E_FAIL, fmt::format("run-time folder {} (XDG_RUNTIME_DIR) does not exist", base.string()),
                           kSource);
    }
    if (hr = MakeFolder(base); Failed(hr)) return hr;
  }
  hr = CheckFolder(*folder);
  if (Failed(hr)) return hr;
  if (hr == S_FALSE && create) return MakeFolder(*folder);
  return S_OK;
}

HRESULT LocalServerSocketPath(std::string_view prog_id, bool create_folder, std::filesystem::path* socket) {
  if (socket == nullptr) return E_POINTER;
  if (!IsPlainProgId(prog_id)) {
    return ReportFailure(E_INVALIDARG,
                         fmt::format("ProgID \"{}\" cannot name a local server: use letters, digits, '.', '_', '-'",
                                     prog_id),
                         kSource);
  }
  std::filesystem::path folder;
  if (const HRESULT hr = LocalServerFolder(create_folder, &folder); Failed(hr)) return hr;
  *socket = folder / std::string(prog_id);
  if (socket->native().size() >= sizeof(sockaddr_un{}.sun_path)) {
    return ReportFailure(E_INVALIDARG,
                         fmt::format("socket path {} is longer than a Unix socket address allows ({} bytes)",
                                     socket->string(), sizeof(sockaddr_un{}.sun_path) - 1),
                         kSource);
  }
  return S_OK;
}

}  // namespace pullwire::com
