// The per-user class registry file: reading, and changing it atomically under a lock.
#include "com/registry.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "com/error_info.h"
#include "com/names.h"

namespace pullwire::com {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kSource = "norvik.registry";
constexpr std::size_t kMaxRegistryBytes = 16 << 20;

std::string Errno() { return std::strerror(errno); }

// A registry document that failed to load; the file is left as it is.
struct LoadError {
  HRESULT hr;
  std::string description;
};

// {"norvik_registry": 1, "classes": [{"prog_id": ..., "clsid": "{...}", "library": ..., "description": ...}]}
// Keys this version does not know are kept when the file is rewritten.
ClassRegistration EntryFrom(const json& j, std::size_t index) {
  const auto text = [&](const char* key) -> std::string {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_string()) {
      throw std::runtime_error(fmt::format("class {} has no text \"{}\"", index + 1, key));
    }
    return it->get<std::string>();
  };
  if (!j.is_object()) throw std::runtime_error(fmt::format("class {} is not an object", index + 1));
  ClassRegistration entry;
  entry.prog_id = text("prog_id");
  const auto clsid = ParseGuid(text("clsid"));
  if (!clsid) throw std::runtime_error(fmt::format("class {} has a malformed \"clsid\"", index + 1));
  entry.clsid = *clsid;
  entry.library = text("library");
  if (j.contains("description")) entry.description = text("description");
  return entry;
}

json EntryJson(const ClassRegistration& entry) {
  return json{{"prog_id", entry.prog_id},
              {"clsid", ToString(entry.clsid)},
              {"library", entry.library.string()},
              {"description", entry.description}};
}

// The registry as read: the whole document (a rewrite keeps the keys this version does not know)
// and its classes in file order.
struct Document {
  json doc;
  std::vector<ClassRegistration> entries;
};

// Reads and checks the document; a missing file is an empty registry.
Document Load(const fs::path& file) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return Document{json{{"norvik_registry", 1}, {"classes", json::array()}}, {}};
    throw LoadError{E_FAIL, fmt::format("cannot read registry file {}: {}", file.string(), Errno())};
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text.size() + static_cast<std::size_t>(n) > kMaxRegistryBytes) {
      const std::string why = n < 0 ? Errno() : "larger than 16 MiB";
      close(fd);
      throw LoadError{E_FAIL, fmt::format("cannot read registry file {}: {}", file.string(), why)};
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  Document loaded{json::parse(text, nullptr, /*allow_exceptions=*/false), {}};
  const json& doc = loaded.doc;
  const auto corrupt = [&](const std::string& why) {
    return LoadError{E_FAIL, fmt::format("registry file {} is not valid: {}; fix or remove it", file.string(), why)};
  };
  if (doc.is_discarded()) throw corrupt("not JSON");
  if (!doc.is_object() || !doc.contains("classes") || !doc["classes"].is_array()) {
    throw corrupt("no \"classes\" list");
  }
  try {
    const json& classes = doc["classes"];
    for (std::size_t i = 0; i < classes.size(); ++i) loaded.entries.push_back(EntryFrom(classes[i], i));
  } catch (const std::runtime_error& e) {
    throw corrupt(e.what());
  }
  return loaded;
}

// Writes a complete temporary beside `file`, syncs it, renames it over `file` and syncs the
// folder, so that the file is at every moment either the old or the new document.
void Store(const fs::path& file, const json& doc) {
  const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  std::string temp = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw LoadError{E_FAIL, fmt::format("cannot write registry folder {}: {}", folder.string(), Errno())};
  const std::string text = doc.dump(2) + "\n";
  std::string_view rest = text;
  bool ok = fchmod(fd, 0644) == 0;
  while (ok && !rest.empty()) {
    const ssize_t n = write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) rest.remove_prefix(static_cast<std::size_t>(n));
  }
  ok = ok && fsync(fd) == 0;
  const std::string why = Errno();
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), file.c_str()) != 0) {
    const std::string error = ok ? Errno() : why;
    unlink(temp.c_str());
    throw LoadError{E_FAIL, fmt::format("cannot write registry file {}: {}", file.string(), error)};
  }
  if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

// An exclusive flock on "<file>.lock", taken with a bounded wait and released on destruction.
class ChangeLock {
 public:
  ChangeLock(const fs::path& file, std::chrono::milliseconds timeout) {
    const fs::path lock_path = file.string() + ".lock";
    fd_ = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) throw LoadError{E_FAIL, fmt::format("cannot open lock file {}: {}", lock_path.string(), Errno())};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        const std::string why = Errno();
        close(fd_);
        throw LoadError{E_FAIL, fmt::format("cannot lock {}: {}", lock_path.string(), why)};
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        close(fd_);
        throw LoadError{E_FAIL, fmt::format("registry file {} stayed locked by another process for {} ms",
                                            file.string(), timeout.count())};
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  ~ChangeLock() { close(fd_); }  // closing releases the lock
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;

 private:
  int fd_ = -1;
};

// The file a change rewrites: a symbolic link is followed so that the link itself survives.
fs::path ChangeTarget(const fs::path& file) {
  std::error_code ec;
  if (fs::is_symlink(file, ec)) {
    const fs::path target = fs::weakly_canonical(file, ec);
    if (!ec) return target;
  }
  return file;
}

// Runs `change` on the document's class list under the lock and stores the document when
// `change` returns S_OK.
template <typename Change>
HRESULT Modify(const fs::path& file, std::chrono::milliseconds timeout, Change&& change) {
  try {
    const fs::path target = ChangeTarget(file);
    std::error_code ec;
    if (!target.parent_path().empty()) fs::create_directories(target.parent_path(), ec);
    if (ec) {
      return ReportFailure(E_FAIL, fmt::format("cannot create folder {}: {}", target.parent_path().string(),
                                               ec.message()), kSource);
    }
    ChangeLock lock(target, timeout);
    Document loaded = Load(target);
    const HRESULT hr = change(loaded.doc["classes"], loaded.entries);
    if (hr == S_OK) Store(target, loaded.doc);
    return hr;
  } catch (const LoadError& e) {
    return ReportFailure(e.hr, e.description, kSource);
  } catch (const std::exception& e) {
    return ReportFailure(E_FAIL, fmt::format("registry file {}: {}", file.string(), e.what()), kSource);
  }
}

template <typename Match>
HRESULT Find(const fs::path& file, ClassRegistration* entry, Match&& match, const std::string& wanted) {
  if (entry == nullptr) return E_POINTER;
  try {
    for (ClassRegistration& candidate : Load(file).entries) {
      if (match(candidate)) {
        *entry = std::move(candidate);
        return S_OK;
      }
    }
  } catch (const LoadError& e) {
    return ReportFailure(e.hr, e.description, kSource);
  }
  return ReportFailure(REGDB_E_CLASSNOTREG, fmt::format("Class not registered: {} (registry {})", wanted,
                                                        file.string()), kSource);
}

}  // namespace

Registry::Registry(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path Registry::DefaultPath() {
  if (const char* explicit_file = std::getenv("NORVIK_REGISTRY"); explicit_file && *explicit_file) {
    return explicit_file;
  }
  fs::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    config = fs::path(home) / ".config";
  } else if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir) {
    config = fs::path(pw->pw_dir) / ".config";
  } else {
    config = fs::temp_directory_path() / fmt::format("norvik-config-{}", geteuid());
  }
  return config / "norvik" / "registry.json";
}

HRESULT Registry::Register(const ClassRegistration& entry) {
  if (!IsPlainProgId(entry.prog_id)) {
    return ReportFailure(E_INVALIDARG, fmt::format("ProgID \"{}\" is not valid: use letters, digits, '.', '_', '-'",
                                                   entry.prog_id), kSource);
  }
  if (!entry.library.is_absolute()) {
    return ReportFailure(E_INVALIDARG, fmt::format("library path \"{}\" is not absolute", entry.library.string()),
                         kSource);
  }
  return Modify(file_, lock_timeout_, [&](json& classes, const std::vector<ClassRegistration>& old) {
    json kept = json::array();
    for (std::size_t i = 0; i < classes.size(); ++i) {
      if (!EqualsIgnoringCase(old[i].prog_id, entry.prog_id) && old[i].clsid != entry.clsid) {
        kept.push_back(classes[i]);
      }
    }
    kept.push_back(EntryJson(entry));
    classes = std::move(kept);
    return S_OK;
  });
}

HRESULT Registry::Unregister(std::string_view prog_id) {
  return Modify(file_, lock_timeout_, [&](json& classes, const std::vector<ClassRegistration>& old) {
    json kept = json::array();
    for (std::size_t i = 0; i < classes.size(); ++i) {
      if (!EqualsIgnoringCase(old[i].prog_id, prog_id)) kept.push_back(classes[i]);
    }
    if (kept.size() == classes.size()) return S_FALSE;
    classes = std::move(kept);
    return S_OK;
  });
}

HRESULT Registry::FindByProgId(std::string_view prog_id, ClassRegistration* entry) const {
  return Find(file_, entry, [&](const ClassRegistration& e) { return EqualsIgnoringCase(e.prog_id, prog_id); },
              std::string(prog_id));
}

HRESULT Registry::List(std::vector<ClassRegistration>* entries) const {
  if (entries == nullptr) return E_POINTER;
  entries->clear();
  try {
    *entries = Load(file_).entries;
    return S_OK;
  } catch (const LoadError& e) {
    return ReportFailure(e.hr, e.description, kSource);
  }
}

}  // namespace pullwire::com
