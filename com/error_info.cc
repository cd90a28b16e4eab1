// The per-thread error record.
#include "com/error_info.h"

#include <utility>

namespace pullwire::com {
namespace {

thread_local std::optional<ErrorRecord> t_error_record;

}  // namespace

void SetErrorInfo(ErrorRecord record) { t_error_record = std::move(record); }

std::optional<ErrorRecord> GetErrorInfo() { return std::exchange(t_error_record, std::nullopt); }

HRESULT RaiseError(std::int32_t vb_number, std::string description, std::string source) {
  SetErrorInfo(ErrorRecord{vb_number, std::move(description), std::move(source)});
  return VbErrorResult(vb_number);
}

HRESULT ReportFailure(HRESULT hr, std::string description, std::string source) {
  SetErrorInfo(ErrorRecord{hr, std::move(description), std::move(source)});
  return hr;
}

std::string VbErrorText(std::int32_t vb_number) {
  switch (vb_number) {
    case kVbOverflow: return "Overflow";
    case kVbSubscriptOutOfRange: return "Subscript out of range";
    case kVbTypeMismatch: return "Type mismatch";
    default: return "Application-defined or object-defined error";
  }
}

}  // namespace pullwire::com
