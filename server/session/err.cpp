#include "server/session/err.h"

#include <cstring>
#include <string>

#include "automation/activation.h"
#include "automation/enum_variant.h"
#include "automation/errorinfo.h"
#include "automation/hresult.h"
#include "driver/pgxgen.h"
#include "server/core/class_ids.h"
#include "server/core/messages.h"

namespace pgx::server {

namespace {

constexpr ViStatus kInstrumentReportedError = static_cast<ViStatus>(0xBFFC0D07);
// The longest system text a description takes.
constexpr std::size_t kSystemTextLimit = 1024;
// An error queue is read until it is empty, but never for more entries than a queue can hold, so that an
// instrument that never says "no error" cannot keep a client waiting for ever.
constexpr int kMaxQueueEntries = 100;

HRESULT AssignSystemText(HRESULT hr, TextBuffer& text) {
  const char* system = auto_::SystemMessageText(hr);
  if (!system) return S_FALSE;
  return text.Assign(std::string_view(system).substr(0, kSystemTextLimit));
}

}  // namespace

// ---- The failure side of ReportError and CheckStatus ------------------------------------------------------

HRESULT Err::RecordHresult(HRESULT hr, const IID& iid) noexcept {
  CallNameStack& stack = CallNameStack::Current();
  if (stack.Reported()) return hr;
  last_hresult_ = hr;
  // Passed on by an outer level of the same call: the description published first says more.
  if (stack.Published() == hr) return hr;
  TextBuffer description;
  bool found = false;
  if (IsOwnCode(hr)) {
    if (const char* text = LoadStringResource(OwnMessageId(hr))) found = SUCCEEDED(description.Assign(text));
  } else {
    found = AssignSystemText(hr, description) == S_OK;
  }
  if (found && verbose_) AppendCallDecoration(description);
  Publish(description, iid);
  stack.SetPublished(hr);
  return hr;
}

HRESULT Err::RecordStatus(ViStatus status, const IID& iid) noexcept {
  if (CallNameStack::Current().Reported()) return kErrDriver;
  if (IsDriverParameterStatus(status)) return RecordHresult(E_INVALIDARG, iid);
  TextBuffer message;
  if (status == kInstrumentReportedError && GetSession() != 0) {
    AppendInstrumentErrors(message);
  } else if (SUCCEEDED(message.Reserve(TextBuffer::kAnswerSize))) {
    message.Data()[0] = '\0';
    pgxgen_error_message(GetSession(), status, message.Data());
    message.TakeWrittenText();
  }
  TextBuffer description;
  description.Assign(LoadStringResource(OwnMessageId(kErrDriver)));
  if (verbose_) AppendCallDecoration(description);
  if (!message.empty()) {
    description.Append("\n");
    description.Append(message.view());
  }
  Publish(description, iid);
  CallNameStack::Current().SetPublished(kErrDriver);
  return kErrDriver;
}

HRESULT Err::AppendCallDecoration(TextBuffer& text) noexcept {
  CallNameStack& stack = CallNameStack::Current();
  const char* outermost = stack.Entry(0);
  stack.SetReported();
  if (HRESULT hr = text.Append(" [in the call to PGXGEN...."); FAILED(hr)) return hr;
  if (HRESULT hr = text.Append(outermost); FAILED(hr)) return hr;
  return text.Append("]");
}

void Err::Publish(const TextBuffer& description, const IID& iid) noexcept {
  SetErrorInfo(0, nullptr);
  BSTR text = nullptr;
  if (description.empty()) {
    text = SysAllocString(u"Unknown Error");
  } else {
    description.ToBstr(&text);
  }
  // The source is the ProgID the registry holds for the Err class, when it holds one.
  LPOLESTR source = nullptr;
  if (FAILED(ProgIDFromCLSID(CLSID_Err, &source))) source = nullptr;
  auto_::RaiseError(E_FAIL, iid, source ? std::u16string_view(source) : std::u16string_view(),
                    auto_::BstrView(text));
  CoTaskMemFree(source);
  SysFreeString(text);
}

int Err::GetInstrumentError(ViInt32* code, TextBuffer& message) noexcept {
  CallFrame frame("Err::GetInstrumentError");
  *code = 0;
  if (FAILED(message.Reserve(TextBuffer::kAnswerSize))) return 1;
  message.Data()[0] = '\0';
  ViStatus status = pgxgen_error_query(GetSession(), code, message.Data());
  message.TakeWrittenText();
  return status != 0 ? 1 : 0;
}

HRESULT Err::AppendInstrumentErrors(TextBuffer& text) noexcept {
  TextBuffer message;
  for (int entry = 0; entry < kMaxQueueEntries; ++entry) {
    ViInt32 code = 0;
    if (GetInstrumentError(&code, message) != 0 || code == 0) break;
    char head[40];
    std::snprintf(head, sizeof head, "Instr. Error [%d]: ", static_cast<int>(code));
    if (HRESULT hr = text.AppendLine(head); FAILED(hr)) return hr;
    if (HRESULT hr = text.Append(message.view()); FAILED(hr)) return hr;
  }
  return S_OK;
}

// ---- IErr ------------------------------------------------------------------------------------------------

STDMETHODIMP Err::get_Count(LONG* value) {
  CallFrame frame("Err.Count");
  if (!value) return ReportError(E_POINTER);
  *value = static_cast<LONG>(texts_.size());
  return S_OK;
}

STDMETHODIMP Err::get__NewEnum(IUnknown** value) {
  CallFrame frame("Err._NewEnum");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  IEnumVARIANT* items = nullptr;
  if (HRESULT hr = auto_::CreateEnumVariant(std::span<const auto_::Variant>(texts_), &items); FAILED(hr))
    return ReportError(hr);
  *value = items;
  return S_OK;
}

STDMETHODIMP Err::get_InstrumentErrors(BSTR* value) {
  CallFrame frame("Err.InstrumentErrors");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  TextBuffer text;
  if (HasInstrument()) {
    if (HRESULT hr = AppendInstrumentErrors(text); FAILED(hr)) return ReportError(hr);
  }
  return ReportError(text.ToBstr(value));
}

STDMETHODIMP Err::get_Item(LONG index, BSTR* value) {
  CallFrame frame("Err.Item");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  if (index < 0 || static_cast<std::size_t>(index) >= texts_.size()) return ReportError(E_INVALIDARG);
  auto_::Variant text;
  if (HRESULT hr = VariantChangeType(&text, &texts_[index], 0, VT_BSTR); FAILED(hr)) return ReportError(hr);
  *value = std::exchange(text.bstrVal, nullptr);
  return S_OK;
}

STDMETHODIMP Err::get_LastError(BSTR* value) {
  CallFrame frame("Err.LastError");
  return get_Text(last_hresult_, value);
}

STDMETHODIMP Err::get_LastViError(LONG* value) {
  CallFrame frame("Err.LastViError");
  if (!value) return ReportError(E_POINTER);
  *value = last_vi_error_;
  return S_OK;
}

HRESULT Err::DescribeNumber(LONG number, TextBuffer& text) noexcept {
  if (IsOwnCode(number)) {
    const char* own = LoadStringResource(OwnMessageId(number));
    return own ? text.Assign(own) : E_UNEXPECTED;
  }
  if (HRESULT hr = text.Reserve(TextBuffer::kAnswerSize); FAILED(hr)) return hr;
  text.Data()[0] = '\0';
  ViStatus status = pgxgen_error_message(GetSession(), number, text.Data());
  text.TakeWrittenText();
  if (status == 0) return S_OK;
  if (AssignSystemText(number, text) == S_OK) return S_OK;
  return text.Assign("Unknown Error Code");
}

STDMETHODIMP Err::get_Text(LONG error_number, BSTR* value) {
  CallFrame frame("Err.Text");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  TextBuffer text;
  if (HRESULT hr = DescribeNumber(error_number, text); FAILED(hr)) return ReportError(hr);
  return ReportError(text.ToBstr(value));
}

STDMETHODIMP Err::get_Verbose(VARIANT_BOOL* value) {
  CallFrame frame("Err.Verbose");
  if (!value) return ReportError(E_POINTER);
  *value = verbose_ ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP Err::put_Verbose(VARIANT_BOOL value) {
  verbose_ = value != VARIANT_FALSE;
  return S_OK;
}

// Each driver status passes CheckStatus once: its HRESULT is the result as it is (checking it again as if
// it were a status would turn a parameter error into a driver error and replace the driver's message).
STDMETHODIMP Err::get_Warnings(BSTR* value) {
  CallFrame frame("Err.Warnings");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  ViInt16 count = 0;
  if (HRESULT hr = CheckStatus(pgxgen_cmdInt16_Q(GetSession(), ":SYST:WARN:COUN?", &count)); FAILED(hr))
    return hr;
  if (count < 1) return S_OK;
  TextBuffer warnings;
  if (HRESULT hr = warnings.Reserve(30720); FAILED(hr)) return ReportError(hr);
  warnings.Data()[0] = '\0';
  HRESULT hr = CheckStatus(pgxgen_cmdString_Q(GetSession(), ":SYST:WARN:STRING?", 30720, warnings.Data()));
  if (FAILED(hr)) return hr;
  warnings.TakeWrittenText();
  return ReportError(warnings.ToBstr(value));
}

}  // namespace pgx::server
