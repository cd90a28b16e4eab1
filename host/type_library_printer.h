// The type library as text, in Visual Basic's terms, for `pullwire typelib`.
#pragma once

#include <string>

#include "com/type_info.h"

namespace pullwire::host {

// The library line, then each interface's members in slot order with their dispatch ids, the
// classes and the records.
std::string FormatTypeLibrary(const com::TypeLibraryInfo& library);

}  // namespace pullwire::host
