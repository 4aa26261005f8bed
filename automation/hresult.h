// HRESULT: severity bit, facility and code, the codes the system uses and their system message texts.
#pragma once

#include <string>

#include "automation/types.h"

constexpr HRESULT MAKE_HRESULT(unsigned long severity, unsigned long facility, unsigned long code) {
  return static_cast<HRESULT>(
      static_cast<ULONG>((severity << 31) | ((facility & 0x1fff) << 16) | (code & 0xffff)));
}
constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}
constexpr ULONG HRESULT_SEVERITY(HRESULT hr) {
  return (static_cast<ULONG>(hr) >> 31) & 0x1;
}
constexpr ULONG HRESULT_FACILITY(HRESULT hr) {
  return (static_cast<ULONG>(hr) >> 16) & 0x1fff;
}
constexpr ULONG HRESULT_CODE(HRESULT hr) {
  return static_cast<ULONG>(hr) & 0xffff;
}
constexpr ULONG SCODE_FACILITY(SCODE sc) {
  return HRESULT_FACILITY(sc);
}
constexpr ULONG SCODE_CODE(SCODE sc) {
  return HRESULT_CODE(sc);
}
constexpr bool IS_ERROR(HRESULT hr) {
  return HRESULT_SEVERITY(hr) == 1;
}

constexpr ULONG SEVERITY_SUCCESS = 0;
constexpr ULONG SEVERITY_ERROR = 1;

constexpr ULONG FACILITY_NULL = 0;
constexpr ULONG FACILITY_RPC = 1;
constexpr ULONG FACILITY_DISPATCH = 2;
constexpr ULONG FACILITY_STORAGE = 3;
constexpr ULONG FACILITY_ITF = 4;
constexpr ULONG FACILITY_WIN32 = 7;
constexpr ULONG FACILITY_WINDOWS = 8;

// Operating-system error numbers that appear wrapped in HRESULTs.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_BADKEY = 1010;
constexpr DWORD ERROR_CANTOPEN = 1011;
constexpr DWORD ERROR_CANTREAD = 1012;
constexpr DWORD ERROR_CANTWRITE = 1013;
constexpr DWORD ERROR_KEY_DELETED = 1018;
constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;

constexpr HRESULT HRESULT_FROM_WIN32(DWORD error) {
  return static_cast<HRESULT>(error) <= 0 ? static_cast<HRESULT>(error)
                                          : MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, error & 0xffff);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT E_HANDLE = static_cast<HRESULT>(0x80070006u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT REGDB_E_READREGDB = static_cast<HRESULT>(0x80040150u);
constexpr HRESULT REGDB_E_WRITEREGDB = static_cast<HRESULT>(0x80040151u);
constexpr HRESULT REGDB_E_KEYMISSING = static_cast<HRESULT>(0x80040152u);
constexpr HRESULT REGDB_E_INVALIDVALUE = static_cast<HRESULT>(0x80040153u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT SELFREG_E_TYPELIB = static_cast<HRESULT>(0x80040200u);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8u);
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = static_cast<HRESULT>(0x80080005u);
constexpr HRESULT CO_S_NOTALLINTERFACES = static_cast<HRESULT>(0x00080012u);

// Remote calls: what a call to an object on another machine can fail with besides the object's own errors.
constexpr HRESULT RPC_E_CLIENT_CANTMARSHAL_DATA = static_cast<HRESULT>(0x8001000Bu);
constexpr HRESULT RPC_E_CLIENT_CANTUNMARSHAL_DATA = static_cast<HRESULT>(0x8001000Cu);
constexpr HRESULT RPC_E_SERVER_CANTMARSHAL_DATA = static_cast<HRESULT>(0x8001000Du);
constexpr HRESULT RPC_E_SERVER_CANTUNMARSHAL_DATA = static_cast<HRESULT>(0x8001000Eu);
constexpr HRESULT RPC_E_SERVERFAULT = static_cast<HRESULT>(0x80010105u);
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);
constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108u);
constexpr HRESULT RPC_E_WRONG_THREAD = static_cast<HRESULT>(0x8001010Eu);
constexpr HRESULT RPC_E_TIMEOUT = static_cast<HRESULT>(0x8001011Fu);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_NONAMEDARGS = static_cast<HRESULT>(0x80020007u);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000Bu);
constexpr HRESULT DISP_E_UNKNOWNLCID = static_cast<HRESULT>(0x8002000Cu);
constexpr HRESULT DISP_E_ARRAYISLOCKED = static_cast<HRESULT>(0x8002000Du);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = static_cast<HRESULT>(0x8002000Fu);
constexpr HRESULT DISP_E_BADCALLEE = static_cast<HRESULT>(0x80020010u);
constexpr HRESULT DISP_E_NOTACOLLECTION = static_cast<HRESULT>(0x80020011u);
constexpr HRESULT DISP_E_DIVBYZERO = static_cast<HRESULT>(0x80020012u);

constexpr HRESULT TYPE_E_LIBNOTREGISTERED = static_cast<HRESULT>(0x8002801Du);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = static_cast<HRESULT>(0x8002802Bu);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = static_cast<HRESULT>(0x80029C4Au);

namespace pgx::auto_ {

// The system message text of an HRESULT in the platform's wording (for example "The parameter is
// incorrect." for E_INVALIDARG), without a trailing line break; nullptr when the system has no text for
// the code, so that the caller can fall back to its own wording.
const char* SystemMessageText(HRESULT hr) noexcept;

// The same text as UTF-16; empty when the system has no text.
std::u16string SystemMessageTextW(HRESULT hr);

}  // namespace pgx::auto_
