// `pullwire edit`: load the command, Setup, read back DataCount/Data, write the file.
#include "host/edit_command.h"

#include <fmt/format.h>

#include <memory>
#include <system_error>

#include "com/error_info.h"
#include "host/command_file.h"
#include "host/host_error.h"
#include "host/toolbox_loader.h"

namespace pullwire::host {
namespace {

// A new command starts from the defaults a hand-written file gets for the keys it leaves out.
CommandSlots LoadOrStartNew(const std::filesystem::path& file) {
  std::error_code ignored;
  if (!std::filesystem::exists(std::filesystem::symlink_status(file, ignored))) {
    return DefaultCommandFile().record;
  }
  return ReadCommandFile(file).record;
}

// The edited record, or nothing when the user cancelled.
std::optional<CommandSlots> EditedRecord(_Toolbox& box) {
  std::int16_t count = 0;
  Check(box.get_DataCount(&count), "DataCount failed");
  if (count != kCommandSlots) return std::nullopt;
  CommandSlots slots;
  for (std::int16_t slot = 1; slot <= kCommandSlots; ++slot) {
    Check(box.get_Data(slot, &slots[static_cast<std::size_t>(slot - 1)]), fmt::format("Data({}) failed", slot));
  }
  return slots;
}

}  // namespace

int EditCommandFile(const EditOptions& edit, const HostOptions& options) {
  CommandSlots slots;
  try {
    slots = LoadOrStartNew(edit.command_file);
  } catch (const CommandFileError& e) {
    fmt::print(stderr, "pullwire: {}\n", e.what());
    return kEditBadCommand;
  }

  LoadedToolbox loaded = LoadToolbox(options.library);
  _Toolbox& box = *loaded.toolbox.get();
  Check(box.Init(), "Init failed");
  if (edit.left) Check(box.put_Left(*edit.left), "Left failed");
  if (edit.top) Check(box.put_Top(*edit.top), "Top failed");

  com::Variant result;
  const com::HRESULT hr = box.Setup("PULLWIRE", RecordArray(slots), &result);
  if (com::Failed(hr)) {
    fmt::print(stderr, "pullwire: {}\n",
               FailureText(fmt::format("{} cannot be edited", edit.command_file.string()), hr));
    return kEditBadCommand;
  }
  const std::optional<CommandSlots> edited = EditedRecord(box);
  if (!edited) {
    fmt::print(stderr, "pullwire: not saved: {} is unchanged\n", edit.command_file.string());
    return kEditCancelled;
  }
  try {
    WriteCommandFile(edit.command_file, *edited);
  } catch (const CommandFileError& e) {
    fmt::print(stderr, "pullwire: {}\n", e.what());
    return kEditBadCommand;
  }
  fmt::print("Saved {}\n", edit.command_file.string());
  return kEditSaved;
}

void AddEditCommand(CLI::App& app, const HostOptions& options, int& exit_code) {
  auto edit = std::make_shared<EditOptions>();
  auto* command = app.add_subcommand(
      "edit", "Edit the command in COMMAND_FILE with the plug-in's editor and write it back on Ok "
              "(a missing file starts a new command); exit 1 when cancelled");
  command->add_option("COMMAND_FILE", edit->command_file, "The command file")->required();
  command->add_option("--left", edit->left, "The editor's left edge in twips")->type_name("TWIPS");
  command->add_option("--top", edit->top, "The editor's top edge in twips")->type_name("TWIPS");
  command->callback([edit, &options, &exit_code] { exit_code = EditCommandFile(*edit, options); });
}

}  // namespace pullwire::host
