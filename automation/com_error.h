// com_error: a failed HRESULT with its error information, thrown by client-side code.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "automation/comptr.h"
#include "automation/interfaces.h"

namespace pgx::auto_ {

class com_error : public std::exception {
 public:
  // Takes `info` as given: with add_ref false the exception takes over the caller's reference.
  explicit com_error(HRESULT hr, IErrorInfo* info = nullptr, bool add_ref = false) noexcept;
  com_error(const com_error& other) noexcept = default;
  com_error& operator=(const com_error& other) noexcept = default;
  ~com_error() override = default;

  HRESULT Error() const noexcept { return hr_; }
  // The error information record, with a new reference for the caller, or NULL.
  IErrorInfo* ErrorInfo() const noexcept;
  // Parts of the record; empty when there is none.
  std::u16string Description() const;
  std::u16string Source() const;
  GUID Guid() const noexcept;
  // The system message text for the HRESULT, or "Unknown error 0x80040154"-style text when it has none.
  std::string ErrorMessage() const;
  // The description when there is one, otherwise ErrorMessage(); UTF-8.
  const char* what() const noexcept override;

 private:
  HRESULT hr_;
  ComPtr<IErrorInfo> info_;
  std::shared_ptr<const std::string> what_;  // shared, so that copying an exception cannot throw
};

// Throws com_error for a failed HRESULT, taking the thread's error information with it (IssueErrorEx: when
// the failing object says it supports error information for `riid`; otherwise the thread's error
// information is cleared, as it describes something else).
[[noreturn]] void IssueError(HRESULT hr);
[[noreturn]] void IssueErrorEx(HRESULT hr, IUnknown* object, REFIID riid);
inline void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) IssueError(hr);
}
// For a catch block at an automation boundary (catch (...) { return HresultFromCurrentException(); }): the
// exception being handled becomes an HRESULT, and its description the thread's error information, which
// IDispatch::Invoke hands to the caller in EXCEPINFO. A com_error keeps its HRESULT (E_FAIL if it holds a
// success code) and its error information, or its what() when it has none; std::bad_alloc gives
// E_OUTOFMEMORY; any other std::exception E_FAIL with what() as the description (converted leniently);
// anything else E_UNEXPECTED. Outside a catch block it returns E_UNEXPECTED. Never throws.
HRESULT HresultFromCurrentException() noexcept;
// Throws com_error built from what IDispatch::Invoke reported: for DISP_E_EXCEPTION the EXCEPINFO's scode
// (or the HRESULT of its wCode) with a record of its source and description; the EXCEPINFO's strings are
// freed.
[[noreturn]] void IssueDispatchError(HRESULT hr, EXCEPINFO& excep);

}  // namespace pgx::auto_
