// A failure numbered the Visual Basic way (9 subscript out of range, 13 type mismatch, 6 overflow),
// thrown inside the plug-in and turned into an HRESULT plus error record at the boundary.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "com/error_info.h"

namespace pullwire {

class VbError : public std::runtime_error {
 public:
  VbError(std::int32_t vb_number, const std::string& description)
      : std::runtime_error(description), vb_number_(vb_number) {}
  // With the standard text of the number ("Subscript out of range").
  explicit VbError(std::int32_t vb_number) : VbError(vb_number, com::VbErrorText(vb_number)) {}

  std::int32_t vb_number() const { return vb_number_; }

 private:
  std::int32_t vb_number_;
};

}  // namespace pullwire
