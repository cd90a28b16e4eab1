// Command files: bounded reading, the two JSON forms into the 24 record slots, and writing.
#include "host/command_file.h"

#include <fmt/format.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <nlohmann/json.hpp>

namespace pullwire::host {
namespace {

using Json = nlohmann::json;

// An array element as the slot text a host would pass: `where` is "element 4 (Port)".
std::string ElementText(const Json& value, std::string_view source, const std::string& where) {
  switch (value.type()) {
    case Json::value_t::string:
      return value.get<std::string>();
    case Json::value_t::boolean:
      return value.get<bool>() ? "1" : "0";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return value.dump();
    case Json::value_t::null:
      return {};
    default:
      throw CommandFileError(
          fmt::format("{}: {}: expected a string, a number or true/false, not {}", source, where,
                      value.type_name()));
  }
}

std::string FieldList() {
  std::string names;
  for (const CommandField& field : kCommandFields) {
    names += fmt::format("{}{}", names.empty() ? "" : ", ", field.name);
  }
  return names;
}

// Parses the whole text, refusing a key written twice in the top object (the JSON reader
// would otherwise keep the last one without a word).
Json ParseJson(std::string_view json_text, std::string_view source) {
  std::vector<std::string> keys;
  const Json::parser_callback_t refuse_repeats = [&](int depth, Json::parse_event_t event,
                                                     Json& parsed) {
    if (event == Json::parse_event_t::key && depth == 1) {
      const std::string& key = parsed.get_ref<const std::string&>();
      if (std::find(keys.begin(), keys.end(), key) != keys.end()) {
        throw CommandFileError(fmt::format("{}: the key \"{}\" is written twice", source, key));
      }
      keys.push_back(key);
    }
    return true;
  };
  try {
    return Json::parse(json_text, refuse_repeats);
  } catch (const Json::parse_error& e) {
    // "[json.exception.parse_error.101] parse error at line 2, column 1: ..." without the tag.
    std::string text = e.what();
    const std::size_t tag_end = text.find("] ");
    if (tag_end != std::string::npos) text.erase(0, tag_end + 2);
    throw CommandFileError(fmt::format("{} is not valid JSON: {}", source, text));
  }
}

CommandFile FromObject(const Json& document, std::string_view source) {
  CommandFile file = DefaultCommandFile();
  try {
    for (const auto& [key, value] : document.items()) {
      const int index = FieldIndex(key);
      if (index < 0) {
        const std::string_view close = ClosestFieldName(key);
        throw CommandFileError(
            close.empty() ? fmt::format("unknown key \"{}\" (the keys are {})", key, FieldList())
                          : fmt::format("unknown key \"{}\" (did you mean \"{}\"?)", key, close));
      }
      const auto i = static_cast<std::size_t>(index);
      file.record[i] = CheckedSlotText(kCommandFields[i], value);
      file.written[i] = !value.is_null();
    }
    CheckCombination(file.record);
  } catch (const CommandFileError& e) {
    throw CommandFileError(fmt::format("{}: {}", source, e.what()));
  }
  return file;
}

CommandFile FromArray(const Json& document, std::string_view source) {
  if (document.size() != kCommandSlots) {
    throw CommandFileError(fmt::format("{}: the array has {} elements; a command record has {}",
                                       source, document.size(), kCommandSlots));
  }
  CommandFile file;
  file.form = CommandForm::kArray;
  for (std::size_t i = 0; i < kCommandSlots; ++i) {
    const std::string where = fmt::format("element {} ({})", i + 1, kCommandFields[i].name);
    file.record[i] = ElementText(document[i], source, where);
    const std::string_view problem = UnsafeTextProblem(file.record[i]);
    if (!problem.empty()) throw CommandFileError(fmt::format("{}: {} {}", source, where, problem));
  }
  return file;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string ReadBounded(const std::filesystem::path& path) {
  const auto fail = [&](std::string_view why) {
    return CommandFileError(fmt::format("cannot read {}: {}", path.string(), why));
  };
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw fail(std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) == 0 && S_ISDIR(info.st_mode)) throw fail("it is a folder");
  std::string text(kMaxCommandFileBytes + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw fail(std::strerror(errno));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > kMaxCommandFileBytes) {
    throw fail("it is larger than 1 MiB, and a command file is a few hundred bytes");
  }
  text.resize(got);
  return text;
}

}  // namespace

CommandFile ParseCommandFile(std::string_view json_text, std::string_view source) {
  const Json document = ParseJson(json_text, source);
  if (document.is_object()) return FromObject(document, source);
  if (document.is_array()) return FromArray(document, source);
  throw CommandFileError(fmt::format(
      "{}: expected a JSON object keyed by field names or an array of 24 values, not {}", source,
      document.type_name()));
}

CommandFile ReadCommandFile(const std::filesystem::path& path) {
  return ParseCommandFile(ReadBounded(path), path.string());
}

CommandFile DefaultCommandFile() {
  CommandFile file;
  for (std::size_t i = 0; i < kCommandSlots; ++i) file.record[i] = kCommandFields[i].default_text;
  return file;
}

void RequireRunnable(const CommandFile& file, std::string_view source) {
  if (file.form != CommandForm::kObject) return;  // a host's record runs as it is
  for (const std::string_view name : {"Host", "RemoteDir", "LocalDir"}) {
    if (file.record[static_cast<std::size_t>(FieldIndex(name))].empty()) {
      throw CommandFileError(fmt::format("{}: {} is missing; a run needs it", source, name));
    }
  }
}

com::StringArray RecordArray(const CommandSlots& slots) {
  return com::StringArray(std::vector<std::string>(slots.begin(), slots.end()), 1);
}

std::string FormatCommandFile(const CommandSlots& slots) {
  nlohmann::ordered_json document = nlohmann::ordered_json::object();
  for (std::size_t i = 0; i < kCommandSlots; ++i) {
    document[std::string(kCommandFields[i].name)] = slots[i];
  }
  try {
    return document.dump(2) + "\n";
  } catch (const nlohmann::ordered_json::type_error&) {
    // JSON holds only UTF-8; the files we read and the editor's Qt texts always are.
    throw CommandFileError("the command holds text that is not UTF-8 and cannot be written as JSON");
  }
}

void WriteCommandFile(const std::filesystem::path& path, const CommandSlots& slots) {
  const std::string text = FormatCommandFile(slots);
  const auto fail = [&](std::string_view what) {
    return CommandFileError(fmt::format("cannot write {}: {}: {}", path.string(), what, std::strerror(errno)));
  };
  mode_t mode = S_IRUSR | S_IWUSR;
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) {
    if (!S_ISREG(existing.st_mode)) {
      errno = EISDIR;
      throw fail("not a regular file");
    }
    mode = existing.st_mode & 07777;
  }
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw fail("cannot create a temporary file beside it");
  bool written = ::fchmod(fd, mode) == 0;
  for (std::size_t done = 0; written && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  written = written && ::fsync(fd) == 0;
  const int saved_errno = errno;
  ::close(fd);
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    const int why = written ? errno : saved_errno;
    ::unlink(temp.c_str());
    errno = why;
    throw fail("the old file is unchanged");
  }
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); dir >= 0) {
    ::fsync(dir);  // the rename itself survives a crash
    ::close(dir);
  }
}

}  // namespace pullwire::host
