#include "automation/errorinfo.h"

#include <new>
#include <string>

#include "automation/comptr.h"
#include "automation/object.h"

namespace pgx::auto_ {
namespace {

// One error-information record: written through ICreateErrorInfo, read through IErrorInfo.
class ErrorRecord final : public Object<ErrorRecord, IErrorInfo, ICreateErrorInfo> {
 public:
  STDMETHODIMP GetGUID(GUID* guid) override {
    if (!guid) return E_INVALIDARG;
    *guid = guid_;
    return S_OK;
  }
  STDMETHODIMP GetSource(BSTR* out) override { return Hand(source_, out); }
  STDMETHODIMP GetDescription(BSTR* out) override { return Hand(description_, out); }
  STDMETHODIMP GetHelpFile(BSTR* out) override { return Hand(help_file_, out); }
  STDMETHODIMP GetHelpContext(DWORD* out) override {
    if (!out) return E_INVALIDARG;
    *out = help_context_;
    return S_OK;
  }

  STDMETHODIMP SetGUID(REFGUID guid) override {
    guid_ = guid;
    return S_OK;
  }
  STDMETHODIMP SetSource(LPOLESTR text) override { return Store(source_, text); }
  STDMETHODIMP SetDescription(LPOLESTR text) override { return Store(description_, text); }
  STDMETHODIMP SetHelpFile(LPOLESTR text) override { return Store(help_file_, text); }
  STDMETHODIMP SetHelpContext(DWORD context) override {
    help_context_ = context;
    return S_OK;
  }

 private:
  // A part that was never set reads as a NULL BSTR.
  static HRESULT Hand(const Bstr& part, BSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!part.get()) return S_OK;
    *out = SysAllocStringLen(part.get(), part.Length());
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT Store(Bstr& part, LPOLESTR text) {
    BSTR copy = SysAllocString(text);
    if (text && !copy) return E_OUTOFMEMORY;
    part = Bstr::Attach(copy);
    return S_OK;
  }

  GUID guid_ = GUID_NULL;
  Bstr source_;
  Bstr description_;
  Bstr help_file_;
  DWORD help_context_ = 0;
};

// The calling thread's current record; released when the thread ends.
thread_local ComPtr<IErrorInfo> t_error_info;

}  // namespace

HRESULT RaiseError(HRESULT hr, REFGUID guid, std::u16string_view source, std::u16string_view description,
                   std::u16string_view help_file, DWORD help_context) noexcept {
  SetErrorInfo(0, nullptr);
  try {
    ComPtr<ICreateErrorInfo> record;
    if (FAILED(CreateErrorInfo(record.ReleaseAndGetAddressOf()))) return hr;
    record->SetGUID(guid);
    // The parts go through Bstr so that each is a terminated copy, even when the view is not.
    if (!source.empty()) record->SetSource(Bstr(source).get());
    if (!description.empty()) record->SetDescription(Bstr(description).get());
    if (!help_file.empty()) record->SetHelpFile(Bstr(help_file).get());
    record->SetHelpContext(help_context);
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(record.As(&info))) SetErrorInfo(0, info.Get());
  } catch (...) {
    SetErrorInfo(0, nullptr);
  }
  return hr;
}

}  // namespace pgx::auto_

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = nullptr;
  return pgx::auto_::ErrorRecord::CreateInstance(IID_ICreateErrorInfo, reinterpret_cast<void**>(pperrinfo));
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  // The old record is released after the slot holds the new one, so a record whose release sets error
  // information again cannot disturb the slot.
  pgx::auto_::ComPtr<IErrorInfo> old = std::move(pgx::auto_::t_error_info);
  pgx::auto_::t_error_info = perrinfo;
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (dwReserved != 0 || !pperrinfo) return E_INVALIDARG;
  *pperrinfo = pgx::auto_::t_error_info.Detach();
  return *pperrinfo ? S_OK : S_FALSE;
}
