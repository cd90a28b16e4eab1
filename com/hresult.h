// Result codes of the COM-like layer, with the values and names COM uses.
#pragma once

#include <cstdint>

namespace pullwire::com {

using HRESULT = std::int32_t;

constexpr HRESULT MakeHresult(std::uint32_t severity, std::uint32_t facility, std::uint32_t code) {
  return static_cast<HRESULT>((severity << 31) | (facility << 16) | code);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHresult(1, 0, 0x4001);
inline constexpr HRESULT E_NOINTERFACE = MakeHresult(1, 0, 0x4002);
inline constexpr HRESULT E_POINTER = MakeHresult(1, 0, 0x4003);
inline constexpr HRESULT E_FAIL = MakeHresult(1, 0, 0x4005);
inline constexpr HRESULT E_UNEXPECTED = MakeHresult(1, 0, 0xFFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHresult(1, 7, 5);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHresult(1, 7, 14);
inline constexpr HRESULT E_INVALIDARG = MakeHresult(1, 7, 87);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHresult(1, 4, 0x0110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHresult(1, 4, 0x0111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHresult(1, 4, 0x0154);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MakeHresult(1, 4, 0x1E08);
inline constexpr HRESULT RPC_E_TIMEOUT = MakeHresult(1, 1, 0x011F);
inline constexpr HRESULT RPC_E_DISCONNECTED = MakeHresult(1, 1, 0x0108);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHresult(1, 2, 1);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHresult(1, 2, 3);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHresult(1, 2, 5);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHresult(1, 2, 6);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHresult(1, 2, 9);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHresult(1, 2, 10);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHresult(1, 2, 11);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHresult(1, 2, 14);

// Errors raised the Visual Basic way (9 "Subscript out of range", 13 "Type mismatch", 6 "Overflow")
// travel as facility-control results, 0x800A0000 + number, as a VB host expects.
inline constexpr std::uint32_t kFacilityControl = 10;
constexpr HRESULT VbErrorResult(std::int32_t vb_number) {
  return MakeHresult(1, kFacilityControl, static_cast<std::uint32_t>(vb_number) & 0xFFFF);
}

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

}  // namespace pullwire::com
