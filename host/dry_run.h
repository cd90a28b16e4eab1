// `pullwire run --dry-run`: a command file's settings as the run would take them (passwords
// masked) and, in plain words, what the run would do, by the run's own rules for the record.
#pragma once

#include <string>
#include <string_view>

#include "host/command_file.h"

namespace pullwire::host {

// `password_env`: the variable the password comes from, or empty when it is the file's own.
std::string DescribeRun(const CommandFile& file, std::string_view source,
                        std::string_view password_env);

}  // namespace pullwire::host
