// The trace of a session's control connection, for diagnostics.
#pragma once

#include <functional>
#include <string_view>

namespace pullwire::ftp {

// Receives every line sent ("> USER anna", "> PASS ****") and received ("< 230 Welcome").
using TraceHandler = std::function<void(std::string_view line)>;

}  // namespace pullwire::ftp
