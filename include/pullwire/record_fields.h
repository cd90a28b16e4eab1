// The command record's field names in slot order, as hosts, command files and the plug-in's
// own messages call them.
#pragma once

#include <array>
#include <string_view>

namespace pullwire {

inline constexpr int kRecordFieldCount = 24;

// Slot n (1..24) holds the field kRecordFieldNames[n - 1].
inline constexpr std::array<std::string_view, kRecordFieldCount> kRecordFieldNames = {
    "Host",          "Username",      "Password",     "Port",         "TransferMode",
    "Timeout",       "Passive",       "RemoteDir",    "LocalDir",     "AutoDelete",
    "ProcessAll",    "Overwrite",     "ProxyType",    "ProxyHost",    "ProxyPort",
    "ProxyUsername", "ProxyPassword", "SaveFilename", "VarScope",     "VarNumber",
    "CopySpecific",  "SpecificFilename", "Filter",    "IncludeSubdir"};

}  // namespace pullwire
