// All module-wide state of the plug-in: one object per loaded library, shared by every Toolbox
// object, handed to each routine that uses it. Zero, empty or false at load.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "module/command_settings.h"

namespace pullwire {

// A host variable slot (the VarType record).
struct VariableSlot {
  bool Use = false;
  std::string Value;

  friend bool operator==(const VariableSlot&, const VariableSlot&) = default;
};
inline constexpr int kVariableSlots = 16;
inline constexpr int kConstantCount = 15;

// One kept entry of a remote listing.
struct RemoteEntry {
  std::string Name;
  std::string Size;  // decimal bytes
  bool IsFolder = false;
  bool IsFileLink = false;
  bool IsFolderLink = false;
  std::string ExtraText;
  std::string ExtraNumber;

  friend bool operator==(const RemoteEntry&, const RemoteEntry&) = default;
};

// The item the folder mode works on.
struct SelectedItem {
  std::string Name;
  std::string Folder;
  std::string Kind;  // "FolderClose", "FolderLink" or "File"
  std::string Size;

  friend bool operator==(const SelectedItem&, const SelectedItem&) = default;
};

// The item being fetched by the folder mode.
struct ItemTransfer {
  std::string RemotePath;
  std::string RemoteName;
  std::int64_t ItemSize = 0;
  std::string LocalPath;
  std::string LocalName;
  std::int64_t LocalSize = 0;
};

// A copy the folder mode completed in this run: the delete pass removes a remote item only when
// it finds it here (and, for a file, its local copy still whole).
struct JournalEntry {
  std::string LocalPath;
  std::int64_t Size = 0;  // bytes of the local copy when it was complete
  bool IsFolder = false;  // a folder entered and mirrored

  friend bool operator==(const JournalEntry&, const JournalEntry&) = default;
};

// The module table entry (the ModType record).
struct ModuleDescription {
  std::string Name, IconLarge, IconSmall, Cat, CatIconLarge, CatIconSmall;

  friend bool operator==(const ModuleDescription&, const ModuleDescription&) = default;
};

// A queued message (the MessageType record).
struct QueuedMessage {
  std::string Timestamp;
  std::string Message;
  std::int16_t Mtype = 0;

  friend bool operator==(const QueuedMessage&, const QueuedMessage&) = default;
};

struct ModuleState {
  // Host contract.
  std::vector<ModuleDescription> ModuleTable;  // indices 0..2 after Init; empty before
  std::int16_t ModuleCount = 0;
  std::optional<std::int16_t> DialogLeft;      // empty until Left is put
  std::int16_t DialogTop = 0;

  // The command record.
  CommandSettings Settings;
  std::optional<std::array<std::string, kRecordSlots + 1>> EditedRecord;  // none until the first save
  std::int16_t EditedRecordCount = 0;

  // Messages.
  bool AutoLog = false;
  std::string DaemonInstance;
  bool ErrorFlag = false;
  std::optional<std::vector<QueuedMessage>> MessageQueue;  // none before the first Init
  std::int16_t MessageQueueCount = 0;

  // Variables and the constant captions of the placeholder menu ("<LC1> text"); empty until set.
  std::array<VariableSlot, kVariableSlots> LocalVars{};
  std::array<VariableSlot, kVariableSlots> GlobalVars{};
  std::array<std::optional<std::string>, kConstantCount> LocalConstantCaptions{};
  std::array<std::optional<std::string>, kConstantCount> GlobalConstantCaptions{};

  // Remote listing model (position 0 of each list is an empty record).
  std::vector<RemoteEntry> EntryList{RemoteEntry{}};
  std::vector<RemoteEntry> SubEntryList{RemoteEntry{}};
  std::vector<std::string> FilterList;
  SelectedItem Selected;
  ItemTransfer Transfer;
  // Keyed by the remote path as the delete pass builds it ("/pub/docs/sub/a.txt"); emptied at
  // the start of every run.
  std::map<std::string, JournalEntry> TransferJournal;

  // The flat-mode walk and the file it is writing.
  std::int16_t CurrentIndex = 0;
  std::int32_t DownloadedCount = 0;
  std::string CurrentLocalPath;
};

}  // namespace pullwire
