// Reading command files into the 24 text slots of a command record.
#include "host/command_file.h"

#include <fmt/format.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace pullwire::host {

const std::array<const char*, kCommandSlots> kCommandFieldNames = {
    "Host",          "Username",      "Password",     "Port",         "TransferMode",     "Timeout",
    "Passive",       "RemoteDir",     "LocalDir",     "AutoDelete",   "ProcessAll",       "Overwrite",
    "ProxyType",     "ProxyHost",     "ProxyPort",    "ProxyUsername", "ProxyPassword",   "SaveFilename",
    "VarScope",      "VarNumber",     "CopySpecific", "SpecificFilename", "Filter",       "IncludeSubdir"};

namespace {

using Json = nlohmann::json;

// `where` is "key \"Port\"" or "element 4".
std::string SlotText(const Json& value, std::string_view source, const std::string& where) {
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
      throw CommandFileError(fmt::format("{}: {}: expected a string, a number or true/false, not {}", source,
                                         where, value.type_name()));
  }
}

int SlotOfField(const std::string& key) {
  for (int i = 0; i < kCommandSlots; ++i) {
    if (key == kCommandFieldNames[static_cast<std::size_t>(i)]) return i;
  }
  return -1;
}

std::string FieldList() {
  std::string names;
  for (const char* name : kCommandFieldNames) names += (names.empty() ? "" : ", ") + std::string(name);
  return names;
}

}  // namespace

CommandSlots ParseCommandFile(std::string_view json_text, std::string_view source) {
  Json document;
  try {
    document = Json::parse(json_text);
  } catch (const Json::parse_error& e) {
    // "[json.exception.parse_error.101] parse error at line 2, column 1: ..." without the tag.
    std::string text = e.what();
    const std::size_t tag_end = text.find("] ");
    if (tag_end != std::string::npos) text.erase(0, tag_end + 2);
    throw CommandFileError(fmt::format("{} is not valid JSON: {}", source, text));
  }
  CommandSlots slots;
  if (document.is_object()) {
    for (const auto& [key, value] : document.items()) {
      const int slot = SlotOfField(key);
      if (slot < 0) {
        throw CommandFileError(fmt::format("{}: unknown key \"{}\" (the keys are {})", source, key, FieldList()));
      }
      slots[static_cast<std::size_t>(slot)] = SlotText(value, source, fmt::format("key \"{}\"", key));
    }
    return slots;
  }
  if (document.is_array()) {
    if (document.size() != kCommandSlots) {
      throw CommandFileError(fmt::format("{}: the array has {} elements; a command record has {}", source,
                                         document.size(), kCommandSlots));
    }
    for (int i = 0; i < kCommandSlots; ++i) {
      slots[static_cast<std::size_t>(i)] =
          SlotText(document[static_cast<std::size_t>(i)], source,
                   fmt::format("element {} ({})", i + 1, kCommandFieldNames[static_cast<std::size_t>(i)]));
    }
    return slots;
  }
  throw CommandFileError(fmt::format(
      "{}: expected a JSON object keyed by field names or an array of 24 values, not {}", source,
      document.type_name()));
}

CommandSlots ReadCommandFile(const std::filesystem::path& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw CommandFileError(fmt::format("cannot read {}: it is a folder", path.string()));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CommandFileError(fmt::format("cannot read {}: {}", path.string(), std::strerror(errno)));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw CommandFileError(fmt::format("cannot read {}", path.string()));
  return ParseCommandFile(text.str(), path.string());
}

com::StringArray RecordArray(const CommandSlots& slots) {
  return com::StringArray(std::vector<std::string>(slots.begin(), slots.end()), 1);
}

std::string FormatCommandFile(const CommandSlots& slots) {
  nlohmann::ordered_json document = nlohmann::ordered_json::object();
  for (int i = 0; i < kCommandSlots; ++i) {
    document[kCommandFieldNames[static_cast<std::size_t>(i)]] = slots[static_cast<std::size_t>(i)];
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
