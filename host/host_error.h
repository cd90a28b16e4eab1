// A failure of the pullwire host, told to the user as one line, and the text of a failed call.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "com/hresult.h"

namespace pullwire::host {

class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "what failed: description (error 9, 0x800A0009)" from the calling thread's error record;
// without a record only the result code.
std::string FailureText(std::string_view what, com::HRESULT hr);

// Throws HostError with FailureText when `hr` failed.
void Check(com::HRESULT hr, std::string_view what);

}  // namespace pullwire::host
