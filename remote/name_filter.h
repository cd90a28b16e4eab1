// The command's name filter: the Filter setting split into FilterList, and the test of one name.
#pragma once

#include <string_view>

#include "module/module_state.h"

namespace pullwire {

// Rebuilds state.FilterList from state.Settings.Filter: the pieces between ";" separators, empty
// pieces kept ("a;b;" gives "a", "b", ""); a text without ";" gives the whole text and one empty
// string.
void ParseFilter(ModuleState& state);

// True when every name passes (FilterList holds a single string, or the Filter text is exactly
// "*"), or when a non-empty string of FilterList occurs anywhere in `name`, ASCII letter case
// ignored. There are no wildcards: "*" and "?" inside a piece are ordinary characters.
bool NameAccepted(const ModuleState& state, std::string_view name);

}  // namespace pullwire
