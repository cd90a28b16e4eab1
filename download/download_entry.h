// One file of the flat mode: the existing-file rule, the transfer with the ZIP destination rule,
// the completeness check, the rate, the remote delete and the variable slot.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "component/run_context.h"

namespace pullwire {

// Downloads the entry of state.EntryList at state.CurrentIndex into LocalDir + "/" + name.
// `storeName` is false in the all-files mode. The copy is written under a temporary name in
// LocalDir and renamed into place once complete: binary types compare the local length with the
// listed size, ASCII compares the bytes received (the local copy has LF endings). A short copy
// is removed together with the earlier local file it was to replace, with a warning naming the
// byte counts; it is still counted, reported and stored, and never deleted remotely. Throws on any
// failure of the component, of the local file or of the variable slot, leaving no partial copy.
void DownloadEntry(RunContext& run, bool storeName);

// Mode 3 and a name whose last three characters are "ZIP" in any letter case (no dot needed).
bool IsZipEntry(std::int32_t transfer_mode, const std::string& name);

// The listed size over the whole seconds taken, in KiB a second rounded down; "<unknown>" for
// less than a second, an unknown size or a rate of 0.
std::string RateText(std::optional<std::int64_t> listed_size, std::int64_t seconds);

// The clock read at whole-second resolution.
std::int64_t WholeSeconds(std::chrono::system_clock::time_point time);

// The decimal text of a listed size; nullopt when it is not a whole number.
std::optional<std::int64_t> ParseListedSize(const std::string& text);

}  // namespace pullwire
