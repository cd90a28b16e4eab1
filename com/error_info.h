// The per-thread error record a failing member leaves for its caller, like COM's
// SetErrorInfo/GetErrorInfo. It lives in the one shared runtime library so that the plug-in
// and the host see the same record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "com/export.h"
#include "com/hresult.h"

namespace pullwire::com {

struct ErrorRecord {
  std::int32_t number = 0;   // Visual Basic numbering: 9, 13, 6, ...
  std::string description;   // "Subscript out of range"
  std::string source;        // the ProgID of the object that raised it

  friend bool operator==(const ErrorRecord&, const ErrorRecord&) = default;
};

// Replaces the calling thread's record.
PULLWIRE_COM_API void SetErrorInfo(ErrorRecord record);
// Takes the calling thread's record, leaving none; nullopt when there is none.
PULLWIRE_COM_API std::optional<ErrorRecord> GetErrorInfo();

// Leaves a record numbered by the result itself (as Visual Basic shows a non-VB failure) and
// returns `hr`, for `return ReportFailure(REGDB_E_CLASSNOTREG, "...", prog_id);`.
PULLWIRE_COM_API HRESULT ReportFailure(HRESULT hr, std::string description, std::string source = {});

// Leaves the record and returns the matching failure, for `return RaiseError(9, ...);`.
PULLWIRE_COM_API HRESULT RaiseError(std::int32_t vb_number, std::string description, std::string source);

// The Visual Basic texts of the numbers the plug-in raises.
inline constexpr std::int32_t kVbOverflow = 6;
inline constexpr std::int32_t kVbSubscriptOutOfRange = 9;
inline constexpr std::int32_t kVbTypeMismatch = 13;
PULLWIRE_COM_API std::string VbErrorText(std::int32_t vb_number);

}  // namespace pullwire::com
