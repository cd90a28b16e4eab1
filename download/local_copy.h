// The local side of one flat-mode download: a new copy written beside the destination under a
// temporary name and renamed into place only once it is known to be complete, so that a failed
// or short transfer leaves the earlier file intact and no partial file behind. Temporary names
// carry the writer's process id, so that what a writer that is gone left behind can be removed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace pullwire {

// True when something the run must not overwrite without Overwrite is at `path`: a regular file
// or a symbolic link (whatever it points to). A folder, device, socket or pipe does not count.
bool LocalFileExists(const std::string& path);

class LocalCopy {
 public:
  // How the component is given the destination.
  enum class Destination {
    kFile,    // a file path: the component writes exactly there
    kFolder,  // a folder: the component writes the file under its remote name into it
  };

  // Reserves a unique temporary name (".pullwire-<pid>-<random>.part") in `local_folder` for the
  // file `name`: a file created exclusively (never through a symbolic link; readable by its
  // owner only while a file `name` stands there, whose permission bits it takes when placed), or
  // for kFolder a private folder. Throws std::runtime_error naming the folder and the system's
  // reason when nothing can be created there.
  static LocalCopy Create(const std::string& local_folder, const std::string& name, Destination kind);

  LocalCopy(LocalCopy&& other) noexcept;
  LocalCopy& operator=(LocalCopy&& other) noexcept;
  LocalCopy(const LocalCopy&) = delete;
  LocalCopy& operator=(const LocalCopy&) = delete;
  // Discards a copy that was not put in place.
  ~LocalCopy();

  // What to hand the component as the local destination.
  std::string ComponentDestination() const;
  // The file the component writes.
  const std::filesystem::path& written() const { return written_; }

  // Length of the written file; nullopt when there is no regular file (or it cannot be read).
  std::optional<std::int64_t> Length() const;
  // Renames the written file to `final_path` (replacing a file or symbolic link there, never
  // following it); a regular file replaced there hands on its permission bits (read, write and
  // execute; set-id bits are not carried over). Throws std::runtime_error with the system's
  // reason; the copy stays pending.
  void PlaceAt(const std::string& final_path);
  // Removes the written file and the temporary folder; never fails.
  void Discard() noexcept;

  bool pending() const { return !written_.empty(); }

 private:
  LocalCopy(std::filesystem::path written, std::filesystem::path folder)
      : written_(std::move(written)), folder_(std::move(folder)) {}

  std::filesystem::path written_;  // empty once placed or discarded
  std::filesystem::path folder_;   // the private folder of a kFolder copy; empty for kFile
};

// Removes from `local_folder` (not below it) the temporary copies of writers that are no longer
// running: ".pullwire-<pid>-*.part" files and folders of this user whose <pid> is no live
// process. Never fails; returns how many it removed.
int RemoveLeftoverCopies(const std::string& local_folder) noexcept;

}  // namespace pullwire
