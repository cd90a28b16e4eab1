// Command files for `pullwire run`: a JSON object keyed by the record's field names (Host ...
// IncludeSubdir; a missing key is an empty slot) or a JSON array of 24 values.
#pragma once

#include <array>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "com/variant.h"

namespace pullwire::host {

inline constexpr int kCommandSlots = 24;
using CommandSlots = std::array<std::string, kCommandSlots>;  // slot 1 at index 0

// The field names of the record in slot order, as command files spell them.
extern const std::array<const char*, kCommandSlots> kCommandFieldNames;

// A command file that cannot be used; what() is one line naming the key (or element) and the
// problem. `pullwire run` exits with 2 for it.
class CommandFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Values may be strings (taken as they are), numbers (as decimal text), true/false ("1"/"0")
// or null (empty). `source` names the file in messages.
CommandSlots ParseCommandFile(std::string_view json_text, std::string_view source);
CommandSlots ReadCommandFile(const std::filesystem::path& path);

// The slots as the record array a host hands to Setup and Execute: slot 1 at index 1.
com::StringArray RecordArray(const CommandSlots& slots);

// The JSON object form, keys in slot order, every value a string.
std::string FormatCommandFile(const CommandSlots& slots);
// Replaces `path` atomically (a temporary file beside it, flushed, renamed over it), so a crash
// leaves the old file or the new one, never half of one. A new file is private to its owner
// (it holds a password); an existing one keeps its mode. Throws CommandFileError.
void WriteCommandFile(const std::filesystem::path& path, const CommandSlots& slots);

}  // namespace pullwire::host
