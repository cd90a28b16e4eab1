// The typed settings of the current command, in record-slot order; shared by the editor, the
// proxy dialog and the run.
#pragma once

#include <cstdint>
#include <string>

#include "pullwire/record_fields.h"

namespace pullwire {

// Flags are 16-bit automation Booleans in memory (True is -1); here a plain bool, converted at
// the boundary.
struct CommandSettings {
  std::string Host;               // slot 1
  std::string Username;           // 2
  std::string Password;           // 3
  std::int16_t Port = 0;          // 4
  std::int32_t TransferMode = 0;  // 5: 0 ASCII, 1 IMAGE, 2 EBCDIC, 3 ZIP (through a 16-bit conversion)
  std::int32_t Timeout = 0;       // 6: seconds
  bool Passive = false;           // 7
  std::string RemoteDir;          // 8
  std::string LocalDir;           // 9
  bool AutoDelete = false;        // 10
  bool ProcessAll = false;        // 11
  bool Overwrite = false;         // 12
  std::int16_t ProxyType = 0;     // 13: 0 None .. 7 Pipe
  std::string ProxyHost;          // 14
  std::int16_t ProxyPort = 0;     // 15
  std::string ProxyUsername;      // 16
  std::string ProxyPassword;      // 17
  bool SaveFilename = false;      // 18
  std::string VarScope;           // 19: "GLOBAL" or "LOCAL"
  std::int16_t VarNumber = 0;     // 20: 1..15 from the editor
  bool CopySpecific = false;      // 21
  std::string SpecificFilename;   // 22
  std::string Filter;             // 23: ";"-separated
  bool IncludeSubdir = false;     // 24

  friend bool operator==(const CommandSettings&, const CommandSettings&) = default;
};

// Slot n holds the field kRecordFieldNames[n - 1].
inline constexpr int kRecordSlots = kRecordFieldCount;

}  // namespace pullwire
