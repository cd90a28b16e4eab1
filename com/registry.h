// The per-user class registry: which library serves which ProgID and CLSID. One JSON file,
// `$NORVIK_REGISTRY`, else `${XDG_CONFIG_HOME:-~/.config}/norvik/registry.json`.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "com/export.h"
#include "com/guid.h"
#include "com/hresult.h"

namespace pullwire::com {

// One registered in-process class.
struct ClassRegistration {
  std::string prog_id;           // "Pullwire.Toolbox"; matched without regard to letter case
  Guid clsid;
  std::filesystem::path library;  // absolute path of the server library
  std::string description;       // "Norvik Toolbox: Pullwire"

  friend bool operator==(const ClassRegistration&, const ClassRegistration&) = default;
};

// Every member returns S_OK or a failure and leaves an error record (GetErrorInfo) whose
// description says what went wrong and names the file. A file that cannot be read or is not a
// registry is reported (E_FAIL, "registry file ... is not valid JSON: ...") and never overwritten.
//
// Changes take an exclusive flock on "<file>.lock" beside the file and replace the file by
// rename from a synced temporary in the same folder, so two processes changing it at once lose
// nothing and a reader never sees half a file. Readers take no lock.
class PULLWIRE_COM_API Registry {
 public:
  explicit Registry(std::filesystem::path file);

  // The file named by the environment, as described above.
  static std::filesystem::path DefaultPath();
  static Registry Default() { return Registry(DefaultPath()); }

  const std::filesystem::path& path() const { return file_; }

  // How long a change waits for another process's lock before failing (default 10 s).
  void set_lock_timeout(std::chrono::milliseconds timeout) { lock_timeout_ = timeout; }

  // Adds the class; an entry with the same ProgID or the same CLSID is replaced, so registering
  // twice leaves one entry. Creates the folder (0700) and the file when missing.
  HRESULT Register(const ClassRegistration& entry);
  // Removes the entry with this ProgID; S_FALSE (not a failure) when there was none.
  HRESULT Unregister(std::string_view prog_id);

  // REGDB_E_CLASSNOTREG when absent. A missing registry file is an empty registry.
  HRESULT FindByProgId(std::string_view prog_id, ClassRegistration* entry /*out*/) const;
  // All entries in file order.
  HRESULT List(std::vector<ClassRegistration>* entries /*out*/) const;

 private:
  std::filesystem::path file_;
  std::chrono::milliseconds lock_timeout_{10000};
};

}  // namespace pullwire::com
