// Reading command files into the 24 text slots of a command record.
#include "host/command_file.h"

#include <fmt/format.h>

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

}  // namespace pullwire::host
