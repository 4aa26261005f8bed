#include "automation/com_error.h"

#include <cstdio>
#include <exception>
#include <new>

#include "automation/bstr.h"
#include "automation/errorinfo.h"

namespace pgx::auto_ {
namespace {

std::u16string ReadPart(IErrorInfo* info, HRESULT (STDMETHODCALLTYPE IErrorInfo::*getter)(BSTR*)) {
  if (!info) return {};
  BSTR text = nullptr;
  if (FAILED((info->*getter)(&text))) return {};
  Bstr owned = Bstr::Attach(text);
  return std::u16string(owned.View());
}

}  // namespace

com_error::com_error(HRESULT hr, IErrorInfo* info, bool add_ref) noexcept : hr_(hr) {
  if (add_ref) {
    info_ = info;
  } else {
    info_.Attach(info);
  }
  // what() is prepared here, so that it cannot fail later; if memory is short it stays empty.
  try {
    std::string description;
    if (FAILED(BstrToUtf8(Bstr(Description()).get(), &description)) || description.empty()) {
      description = ErrorMessage();
    }
    what_ = std::make_shared<const std::string>(std::move(description));
  } catch (...) {
    what_.reset();
  }
}

IErrorInfo* com_error::ErrorInfo() const noexcept {
  IErrorInfo* out = nullptr;
  info_.CopyTo(&out);
  return out;
}

std::u16string com_error::Description() const {
  return ReadPart(info_.Get(), &IErrorInfo::GetDescription);
}

std::u16string com_error::Source() const {
  return ReadPart(info_.Get(), &IErrorInfo::GetSource);
}

GUID com_error::Guid() const noexcept {
  GUID guid = GUID_NULL;
  if (info_) info_->GetGUID(&guid);
  return guid;
}

std::string com_error::ErrorMessage() const {
  if (const char* text = SystemMessageText(hr_)) return text;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "Unknown error 0x%08X", static_cast<unsigned>(hr_));
  return buffer;
}

const char* com_error::what() const noexcept {
  return what_ ? what_->c_str() : "";
}

namespace {
// Makes `text` the description of the thread's error information; clears it if that cannot be done.
HRESULT RaiseText(HRESULT hr, const char* text) noexcept {
  try {
    return RaiseError(hr, GUID_NULL, {}, Utf8OrLatin1ToUtf16(text ? text : ""));
  } catch (...) {
    SetErrorInfo(0, nullptr);
    return hr;
  }
}
}  // namespace

HRESULT HresultFromCurrentException() noexcept {
  if (!std::current_exception()) return E_UNEXPECTED;
  try {
    throw;
  } catch (const com_error& e) {
    const HRESULT hr = FAILED(e.Error()) ? e.Error() : E_FAIL;
    if (IErrorInfo* info = e.ErrorInfo()) {
      SetErrorInfo(0, info);
      info->Release();
      return hr;
    }
    return RaiseText(hr, e.what());
  } catch (const std::bad_alloc&) {
    SetErrorInfo(0, nullptr);
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    return RaiseText(E_FAIL, e.what());
  } catch (...) {
    SetErrorInfo(0, nullptr);
    return E_UNEXPECTED;
  }
}

void IssueError(HRESULT hr) {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
  throw com_error(hr, info);
}

void IssueErrorEx(HRESULT hr, IUnknown* object, REFIID riid) {
  if (object) {
    ComPtr<ISupportErrorInfo> support;
    if (SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, support.ReleaseAndGetAddressOfVoid())) &&
        support->InterfaceSupportsErrorInfo(riid) == S_OK) {
      IssueError(hr);
    }
  }
  // The thread's record, if any, is not this object's: it must not be taken for the next failure's.
  SetErrorInfo(0, nullptr);
  throw com_error(hr);
}

void IssueDispatchError(HRESULT hr, EXCEPINFO& excep) {
  if (hr != DISP_E_EXCEPTION) IssueError(hr);
  if (excep.pfnDeferredFillIn) {
    excep.pfnDeferredFillIn(&excep);
    excep.pfnDeferredFillIn = nullptr;
  }
  Bstr source = Bstr::Attach(std::exchange(excep.bstrSource, nullptr));
  Bstr description = Bstr::Attach(std::exchange(excep.bstrDescription, nullptr));
  Bstr help_file = Bstr::Attach(std::exchange(excep.bstrHelpFile, nullptr));
  HRESULT error = excep.scode != 0   ? excep.scode
                  : excep.wCode != 0 ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, excep.wCode)
                                     : DISP_E_EXCEPTION;
  RaiseError(error, GUID_NULL, source.View(), description.View(), help_file.View(), excep.dwHelpContext);
  IssueError(error);
}

}  // namespace pgx::auto_
