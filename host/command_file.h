// Command files for `pullwire run` and `pullwire edit`: a JSON object keyed by the record's field
// names, written by hand (missing keys take safe defaults, every value is checked), or a JSON
// array of the 24 slot texts, the record exactly as a host hands it over.
#pragma once

#include <array>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "com/variant.h"
#include "host/command_fields.h"

namespace pullwire::host {

// A command file that cannot be used; what() is one line naming the key (or element), the value
// and what is allowed. `pullwire run` exits with 2 for it.
class CommandFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Bigger files are refused unread: a command is a few hundred bytes.
inline constexpr std::size_t kMaxCommandFileBytes = std::size_t{1} << 20;

enum class CommandForm { kObject, kArray };

struct CommandFile {
  CommandSlots record;  // not "slots": Qt headers define that word
  CommandForm form = CommandForm::kObject;
  std::array<bool, kCommandSlots> written{};  // the object form's keys the file wrote

  friend bool operator==(const CommandFile&, const CommandFile&) = default;
};

// Object form: keys are the field names (case counts; an unknown or repeated key is refused),
// each value checked by CheckedSlotText, a key not written (or null) takes its default, then
// CheckCombination. Array form: 24 strings, numbers, true/false or nulls taken as texts. No text
// of either form may hold a NUL or a line break. `source` names the file in messages.
CommandFile ParseCommandFile(std::string_view json_text, std::string_view source);
// Reads at most kMaxCommandFileBytes (a device that never ends is refused at once).
CommandFile ReadCommandFile(const std::filesystem::path& path);
// Every key at its default: a new command.
CommandFile DefaultCommandFile();

// What a run needs beyond valid values: an object-form file must name Host, RemoteDir and
// LocalDir. Throws CommandFileError.
void RequireRunnable(const CommandFile& file, std::string_view source);

// The slots as the record array a host hands to Setup and Execute: slot 1 at index 1.
com::StringArray RecordArray(const CommandSlots& slots);

// The JSON object form, keys in slot order, every value a string.
std::string FormatCommandFile(const CommandSlots& slots);
// Replaces `path` atomically (a temporary file beside it, flushed, renamed over it), so a crash
// leaves the old file or the new one, never half of one. A new file is private to its owner
// (it holds a password); an existing one keeps its mode. Throws CommandFileError.
void WriteCommandFile(const std::filesystem::path& path, const CommandSlots& slots);

}  // namespace pullwire::host
