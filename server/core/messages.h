// The server's own failures and their texts.
//
// An own failure is an HRESULT with the failure bit, facility 4 (FACILITY_ITF) and code 0x400 + its message
// id; the message texts are the server's string resources 100 to 111 (100 is the library's name).
#pragma once

#include "automation/hresult.h"

namespace pgx::server {

inline constexpr int kLibraryNameId = 100;
inline constexpr int kOwnCodeBase = 0x400;

constexpr HRESULT OwnCode(int id) {
  return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, static_cast<unsigned long>(kOwnCodeBase + id));
}

inline constexpr HRESULT kErrAlreadyOpen = OwnCode(101);          // 0x80040465
inline constexpr HRESULT kErrInvalidResponse = OwnCode(102);      // 0x80040466
inline constexpr HRESULT kErrNotSupported = OwnCode(103);         // 0x80040467
inline constexpr HRESULT kErrSingleDimensionOnly = OwnCode(104);  // 0x80040468
inline constexpr HRESULT kErrArrayTooSmall = OwnCode(105);        // 0x80040469
inline constexpr HRESULT kErrRefreshFailed = OwnCode(106);        // 0x8004046A
inline constexpr HRESULT kErrInstrumentErrors = OwnCode(107);     // 0x8004046B
inline constexpr HRESULT kErrDriver = OwnCode(108);               // 0x8004046C
inline constexpr HRESULT kErrFileVersion = OwnCode(109);          // 0x8004046D
inline constexpr HRESULT kErrModuleName = OwnCode(110);           // 0x8004046E
inline constexpr HRESULT kErrPulseModeCount = OwnCode(111);       // 0x8004046F

// An own failure: negative, facility 4 and a code above 0x400.
constexpr bool IsOwnCode(HRESULT hr) {
  return hr < 0 && HRESULT_FACILITY(hr) == FACILITY_ITF && HRESULT_CODE(hr) > kOwnCodeBase;
}
constexpr int OwnMessageId(HRESULT hr) {
  return static_cast<int>(HRESULT_CODE(hr)) - kOwnCodeBase;
}

// The driver's parameter errors (0xBFFC0001 to 0xBFFC0008, 0xBFFC0D20 to 0xBFFC0D29), which reach clients as
// E_INVALIDARG.
constexpr bool IsDriverParameterStatus(LONG status) {
  auto s = static_cast<ULONG>(status);
  return (s >= 0xBFFC0001u && s <= 0xBFFC0008u) || (s >= 0xBFFC0D20u && s <= 0xBFFC0D29u);
}

// The string resource `id`, or nullptr when the server has none with that id.
const char* LoadStringResource(int id) noexcept;

}  // namespace pgx::server
