#include "server/session/instrument.h"

#include <cstring>

#include "automation/activation.h"
#include "automation/comptr.h"
#include "driver/pgxgen.h"
#include "server/channel/channels.h"
#include "server/core/byte_array.h"
#include "server/core/lookup.h"
#include "server/core/messages.h"
#include "server/pattern/pattern.h"
#include "server/pattern/pll_reference.h"
#include "server/pattern/setting.h"
#include "server/pattern/status.h"
#include "server/session/err.h"
#include "server/session/raw_command.h"
#include "server/session/restrictions.h"
#include "server/trigger/mode.h"
#include "server/trigger/trigger.h"

namespace pgx::server {

namespace {

constexpr VARIANT_BOOL ToVariantBool(bool flag) {
  return flag ? VARIANT_TRUE : VARIANT_FALSE;
}

constexpr KeywordRow kChannelMathKeywords[] = {{PgxChannelMathOff, "OFF"}, {PgxChannelMathPlus, "PLUS"}};

// The restriction id of the output math (ChannelMath).
constexpr int kRestrictOutputMath = 23;
// The restriction id of the automatic calibration.
constexpr int kRestrictAutoCalibrate = 8;

// An address inside this module, to find the module's file.
void ModuleAnchor() {}

}  // namespace

Instrument::Instrument() noexcept = default;
Instrument::~Instrument() = default;

// ---- For the objects of the tree
// ----------------------------------------------------------------------------

Err* Instrument::AttachedErr() noexcept {
  if (!err_) err_.Create(this);
  return err_.get();
}

HRESULT Instrument::RestrictionsObject(Restrictions** out) noexcept {
  if (!restrictions_) {
    if (HRESULT hr = restrictions_.Create(this); FAILED(hr)) return hr;
  }
  *out = restrictions_.get();
  return S_OK;
}

HRESULT Instrument::CheckOwnRestriction(int id) noexcept {
  Restrictions* restrictions = nullptr;
  if (HRESULT hr = RestrictionsObject(&restrictions); FAILED(hr)) return hr;
  return restrictions->CheckRestriction(id);
}

HRESULT Instrument::CheckOwnRestrictionMask(ULONG bits) noexcept {
  Restrictions* restrictions = nullptr;
  if (HRESULT hr = RestrictionsObject(&restrictions); FAILED(hr)) return hr;
  return restrictions->CheckRestrictionMask(bits);
}

HRESULT Instrument::SetRestrictionModel(const char* model) noexcept {
  Restrictions* restrictions = nullptr;
  if (HRESULT hr = RestrictionsObject(&restrictions); FAILED(hr)) return hr;
  return restrictions->SetCurrModel(model);
}

HRESULT Instrument::SetResource(const char* resource_name, const ViAttributeInfo& attributes) noexcept {
  try {
    resource_name_ = resource_name;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  attributes_ = attributes;
  return S_OK;
}

void Instrument::Shutdown() noexcept {
  Close();
}

// ---- Shared query shapes
// ---------------------------------------------------------------------------------------

HRESULT Instrument::QueryBstr(const char* query, BSTR* value) noexcept {
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  TextBuffer answer;
  if (HRESULT hr = QueryText(query, answer); FAILED(hr)) return hr;
  return ReportError(answer.ToBstr(value));
}

HRESULT Instrument::QueryFlag(const char* query, const char* truth, VARIANT_BOOL* value) noexcept {
  if (!value) return ReportError(E_POINTER);
  TextBuffer answer;
  if (HRESULT hr = QueryText(query, answer); FAILED(hr)) return hr;
  *value = ToVariantBool(answer.view() == truth);
  return S_OK;
}

// ---- IInstrument
// -------------------------------------------------------------------------------------------------

STDMETHODIMP Instrument::AttributeInfo(SAFEARRAY** array) {
  CallFrame frame("Instrument.AttributeInfo");
  if (!array || !*array) return ReportError(E_POINTER);
  ByteArrayData bytes(*array);
  if (FAILED(bytes.status())) return ReportError(bytes.status());
  if (bytes.count() < static_cast<LONG>(sizeof attributes_)) return ReportError(kErrArrayTooSmall);
  std::memcpy(bytes.data(), &attributes_, sizeof attributes_);
  return S_OK;
}

STDMETHODIMP Instrument::get_AutoDetect(VARIANT_BOOL* value) {
  CallFrame frame("Instrument.AutoDetect");
  ViBoolean flag = 0;
  if (HRESULT hr = CheckStatus(pgxgen_errorQueryDetect_Q(session_, &flag)); FAILED(hr)) return hr;
  auto_detect_ = flag;
  if (!value) return ReportError(E_POINTER);
  *value = ToVariantBool(flag != 0);
  return S_OK;
}

STDMETHODIMP Instrument::put_AutoDetect(VARIANT_BOOL value) {
  CallFrame frame("Instrument.AutoDetect");
  ViBoolean flag = value ? 1 : 0;
  if (HRESULT hr = CheckStatus(pgxgen_errorQueryDetect(session_, flag)); FAILED(hr)) return hr;
  auto_detect_ = flag;
  return S_OK;
}

STDMETHODIMP Instrument::get__Cmd(I_Cmd** value) {
  CallFrame frame("Instrument._Cmd");
  return GetChild(raw_command_, value);
}

STDMETHODIMP Instrument::get_Caption(BSTR* value) {
  CallFrame frame("Instrument.Caption");
  if (!value) return ReportError(E_POINTER);
  *value = SysAllocStringLen(caption_.get(), caption_.Length());
  return *value || caption_.Empty() ? S_OK : ReportError(E_OUTOFMEMORY);
}

STDMETHODIMP Instrument::put_Caption(BSTR value) {
  CallFrame frame("Instrument.Caption");
  BSTR copy = SysAllocStringLen(value, SysStringLen(value));
  if (!copy && SysStringLen(value) > 0) return ReportError(E_OUTOFMEMORY);
  caption_ = auto_::Bstr::Attach(copy);
  return S_OK;
}

STDMETHODIMP Instrument::Calibrate() {
  CallFrame frame("Instrument.Calibrate");
  if (HRESULT hr = CheckRestriction(kRestrictAutoCalibrate)) return ReportError(hr);
  return CheckStatus(pgxgen_timeCalibration(session_));
}

HRESULT Instrument::IsChannelMathRestricted() noexcept {
  CallFrame frame("Instrument::IsChannelMathRestricted");
  if (!channels_) {
    if (HRESULT hr = channels_.Create(this); FAILED(hr)) return hr;
  }
  LONG count = 0;
  if (HRESULT hr = channels_->get_Count(&count); FAILED(hr)) return hr;
  if (count < 2) return E_NOTIMPL;
  auto_::ComPtr<IChannel> first;
  if (FAILED(channels_->get_Item(1, first.ReleaseAndGetAddressOf())) || !first) return E_UNEXPECTED;
  return CheckRestriction(kRestrictOutputMath);
}

STDMETHODIMP Instrument::get_ChannelMath(PgxChannelMath* value) {
  CallFrame frame("Instrument.ChannelMath");
  if (HRESULT hr = IsChannelMathRestricted()) return ReportError(hr);
  if (!value) return ReportError(E_POINTER);
  ViInt16 math = 0;
  if (HRESULT hr = CheckStatus(pgxgen_outputMath_Q(session_, &math)); FAILED(hr)) return hr;
  channel_math_ = math;
  *value = static_cast<PgxChannelMath>(math);
  return S_OK;
}

STDMETHODIMP Instrument::put_ChannelMath(PgxChannelMath value) {
  CallFrame frame("Instrument.ChannelMath");
  if (HRESULT hr = IsChannelMathRestricted()) return ReportError(hr);
  if (value < PgxChannelMathStart || value >= PgxChannelMathEnd) return ReportError(E_INVALIDARG);
  TextBuffer keyword;
  if (HRESULT hr = LookupText(value, kChannelMathKeywords, keyword); FAILED(hr)) return ReportError(hr);
  if (HRESULT hr = CheckStatus(pgxgen_cmdString(session_, ":CHAN:MATH", keyword.c_str())); FAILED(hr))
    return hr;
  channel_math_ = value;
  return S_OK;
}

STDMETHODIMP Instrument::get_Channels(IChannels** value) {
  CallFrame frame("Instrument.Channels");
  return GetChild(channels_, value);
}

STDMETHODIMP Instrument::Close() {
  if (session_ == 0) return S_OK;
  ViSession closing = session_;
  session_ = 0;
  CheckStatus(pgxgen_close(closing));
  return S_OK;
}

STDMETHODIMP Instrument::DeviceClear() {
  CallFrame frame("Instrument.DeviceClear");
  return CheckStatus(pgxgen_dcl(session_));
}

STDMETHODIMP Instrument::get_Err(IErr** value) {
  CallFrame frame("Instrument.Err");
  return GetChild(err_, value);
}

STDMETHODIMP Instrument::get_Frequency(DOUBLE* value) {
  CallFrame frame("Instrument.Frequency");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdReal64_Q(session_, ":FREQ?", value));
}

STDMETHODIMP Instrument::put_Frequency(DOUBLE value) {
  CallFrame frame("Instrument.Frequency");
  return CheckStatus(pgxgen_cmdReal(session_, ":FREQ", value));
}

STDMETHODIMP Instrument::get_IdString(BSTR* value) {
  CallFrame frame("Instrument.IdString");
  return QueryBstr("*IDN?", value);
}

STDMETHODIMP Instrument::get_IsCalibrated(VARIANT_BOOL* value) {
  CallFrame frame("Instrument.IsCalibrated");
  return QueryFlag(":CAL:ALL?", "0", value);
}

STDMETHODIMP Instrument::get_IsOpen(VARIANT_BOOL* value) {
  CallFrame frame("Instrument.IsOpen");
  if (!value) return ReportError(E_POINTER);
  *value = ToVariantBool(IsOpen());
  return S_OK;
}

STDMETHODIMP Instrument::get_IsTransactionActive(LONG* byte_count, VARIANT_BOOL* value) {
  CallFrame frame("Instrument.IsTransactionActive");
  if (!value) return ReportError(E_POINTER);
  ViBoolean active = 0;
  ViInt32 count = 0;
  if (HRESULT hr = CheckStatus(pgxgen_transaction_Q(session_, &active, &count)); FAILED(hr)) return hr;
  if (byte_count) *byte_count = count;
  *value = ToVariantBool(active != 0);
  return S_OK;
}

STDMETHODIMP Instrument::MeasureClkInFreq() {
  CallFrame frame("Instrument.MeasureClkInFreq");
  return CheckStatus(pgxgen_timeFrequencyMeasure(session_));
}

STDMETHODIMP Instrument::MeasureClkInPeriod() {
  CallFrame frame("Instrument.MeasureClkInPeriod");
  return CheckStatus(pgxgen_timePeriodMeasure(session_));
}

STDMETHODIMP Instrument::get_Mode(IMode** value) {
  CallFrame frame("Instrument.Mode");
  return GetChild(mode_, value);
}

STDMETHODIMP Instrument::get_Name(BSTR* value) {
  CallFrame frame("Instrument.Name");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  TextBuffer name;
  if (HRESULT hr = name.Assign(resource_name_); FAILED(hr)) return ReportError(hr);
  return ReportError(name.ToBstr(value));
}

STDMETHODIMP Instrument::get_Open(VARIANT_BOOL id_query, VARIANT_BOOL reset, VARIANT_BOOL auto_detect_errors,
                                  VARIANT_BOOL* value) {
  CallFrame frame("Instrument.Open");
  if (!value) return ReportError(E_POINTER);
  if (IsOpen()) {
    *value = VARIANT_TRUE;
    return S_OK;
  }
  ViSession session = 0;
  ViStatus status = pgxgen_init(resource_name_.c_str(), id_query ? 1 : 0, reset ? 1 : 0, &session);
  if (HRESULT hr = CheckStatus(status); FAILED(hr)) return hr;
  session_ = session;
  *value = ToVariantBool(IsOpen());
  if (!IsOpen()) return S_OK;
  if (auto_detect_errors) {
    if (HRESULT hr = put_AutoDetect(VARIANT_TRUE); FAILED(hr)) return hr;
  }
  if (!channels_) {
    if (HRESULT hr = channels_.Create(this); FAILED(hr)) return ReportError(hr);
  }
  channels_->Refresh();
  return OnSessionOpen();
}

STDMETHODIMP Instrument::get_Options(BSTR* value) {
  CallFrame frame("Instrument.Options");
  return QueryBstr("*OPT?", value);
}

STDMETHODIMP Instrument::get_Parent(IDispatch** value) {
  return GetParentDispatch(value);
}

STDMETHODIMP Instrument::get_Pattern(IPattern** value) {
  CallFrame frame("Instrument.Pattern");
  return GetChild(pattern_, value);
}

STDMETHODIMP Instrument::get_Period(DOUBLE* value) {
  CallFrame frame("Instrument.Period");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_cmdReal64_Q(session_, ":PULS:PER?", value));
}

STDMETHODIMP Instrument::put_Period(DOUBLE value) {
  CallFrame frame("Instrument.Period");
  return CheckStatus(pgxgen_cmdReal(session_, ":PULS:PER", value));
}

STDMETHODIMP Instrument::get_PllReference(IPllReference** value) {
  CallFrame frame("Instrument.PllReference");
  return GetChild(pll_reference_, value);
}

STDMETHODIMP Instrument::get_PulseMode(LONG* length, PgxPulseMode* value) {
  CallFrame frame("Instrument.PulseMode");
  if (!value) return ReportError(E_POINTER);
  *value = PgxPulseModeEnd;
  LONG count = 0;
  if (!trigger_) {
    if (HRESULT hr = trigger_.Create(this); FAILED(hr)) return ReportError(hr);
  }
  bool external_width = false;
  if (HRESULT hr = trigger_->GetExternalWidthMode(&external_width); FAILED(hr)) return hr;
  LONG mode = PgxPulseModeEnd;
  if (external_width) {
    mode = PgxPulseModeExternalWidth;
    count = 1;
  } else {
    if (!pattern_) {
      if (HRESULT hr = pattern_.Create(this); FAILED(hr)) return ReportError(hr);
    }
    // A model without pattern memory is never in pattern mode, and refuses the question.
    bool pattern_on = false;
    if (CheckRestrictionMask(PgxNotImplPattern) == S_OK) {
      if (HRESULT hr = pattern_->GetState(&pattern_on); FAILED(hr)) return hr;
    }
    if (pattern_on) {
      mode = PgxPulseModePattern;
    } else {
      LONG per_arm = 0;
      if (HRESULT hr = trigger_->get_CountPerArmEvent(&per_arm); FAILED(hr)) return hr;
      if (per_arm < 1) return ReportError(kErrInvalidResponse);
      mode = per_arm == 1 ? PgxPulseModePulses : PgxPulseModeBurst;
    }
    if (HRESULT hr = trigger_->get_CountPerArmEvent(&count); FAILED(hr)) return hr;
  }
  pulse_mode_ = mode;
  *value = static_cast<PgxPulseMode>(mode);
  if (length) *length = count;
  return S_OK;
}

STDMETHODIMP Instrument::put_PulseMode(LONG* length, PgxPulseMode value) {
  CallFrame frame("Instrument.PulseMode");
  if (value < PgxPulseModeStart || value >= PgxPulseModeEnd) return ReportError(E_INVALIDARG);
  if (!trigger_) {
    if (HRESULT hr = trigger_.Create(this); FAILED(hr)) return ReportError(hr);
  }
  if (value == PgxPulseModeExternalWidth) return trigger_->SetExternalWidthMode(true);
  // A model without pattern memory has no pattern mode to switch, on or off.
  const bool has_pattern = CheckRestrictionMask(PgxNotImplPattern) == S_OK;
  if (value == PgxPulseModePattern && !has_pattern) return ReportError(kErrNotSupported);
  bool external_width = false;
  if (HRESULT hr = trigger_->GetExternalWidthMode(&external_width); FAILED(hr)) return hr;
  if (external_width) {
    if (HRESULT hr = trigger_->SetExternalWidthMode(false); FAILED(hr)) return hr;
  }
  LONG count = 1;
  if (value == PgxPulseModePulses) {
    if (length && *length != 1) return ReportError(kErrPulseModeCount);
  } else if (length) {
    if (*length < 2) return ReportError(kErrPulseModeCount);
    count = *length;
  } else {
    if (HRESULT hr = trigger_->get_CountPerArmEvent(&count); FAILED(hr)) return hr;
    if (count < 2) count = 2;
  }
  TextBuffer command;
  HRESULT hr = value == PgxPulseModePattern ? command.Format(":DIG:PATT ON; :TRIG:COUN %ld",
                                                             static_cast<long>(count > 16384 ? 2 : count))
               : has_pattern ? command.Format(":DIG:PATT OFF; :TRIG:COUN %ld", static_cast<long>(count))
                             : command.Format(":TRIG:COUN %ld", static_cast<long>(count));
  if (FAILED(hr)) return ReportError(hr);
  pulse_mode_ = value;
  return CheckStatus(pgxgen_cmd(session_, command.c_str()));
}

STDMETHODIMP Instrument::Reset() {
  CallFrame frame("Instrument.Reset");
  return CheckStatus(pgxgen_reset(session_));
}

STDMETHODIMP Instrument::get_Restrictions(IRestrictions** value) {
  CallFrame frame("Instrument.Restrictions");
  return GetChild(restrictions_, value);
}

STDMETHODIMP Instrument::get_SecurityState(VARIANT_BOOL* value) {
  CallFrame frame("Instrument.SecurityState");
  return QueryFlag(":SYST:SEC?", "1", value);
}

STDMETHODIMP Instrument::put_SecurityState(VARIANT_BOOL value) {
  CallFrame frame("Instrument.SecurityState");
  return CheckStatus(pgxgen_cmd(session_, value ? ":SYST:SEC ON" : ":SYST:SEC OFF"));
}

STDMETHODIMP Instrument::get_SelfTest(SHORT* result_as_number, BSTR* value) {
  CallFrame frame("Instrument.SelfTest");
  if (!result_as_number || !value) return ReportError(E_POINTER);
  *value = nullptr;
  TextBuffer message;
  if (HRESULT hr = message.Reserve(TextBuffer::kAnswerSize); FAILED(hr)) return ReportError(hr);
  message.Data()[0] = '\0';
  ViInt16 result = 0;
  if (HRESULT hr = CheckStatus(pgxgen_self_test(session_, &result, message.Data())); FAILED(hr)) return hr;
  message.TakeWrittenText();
  *result_as_number = result;
  return ReportError(message.ToBstr(value));
}

STDMETHODIMP Instrument::get_Setting(ISetting** value) {
  CallFrame frame("Instrument.Setting");
  return GetChild(setting_, value);
}

STDMETHODIMP Instrument::get_Status(IStatus** value) {
  CallFrame frame("Instrument.Status");
  return GetChild(status_, value);
}

STDMETHODIMP Instrument::get_TimeOut(LONG* value) {
  CallFrame frame("Instrument.TimeOut");
  if (!value) return ReportError(E_POINTER);
  return CheckStatus(pgxgen_timeOut_Q(session_, value));
}

STDMETHODIMP Instrument::put_TimeOut(LONG value) {
  CallFrame frame("Instrument.TimeOut");
  return CheckStatus(pgxgen_timeOut(session_, value));
}

STDMETHODIMP Instrument::Transaction(PgxTransaction action) {
  CallFrame frame("Instrument.Transaction");
  switch (action) {
    case PgxTransactionStart:
      return CheckStatus(pgxgen_transactionStart(session_));
    case PgxTransactionFinish:
      return CheckStatus(pgxgen_transactionFinish(session_));
    case PgxTransactionCancel:
      return CheckStatus(pgxgen_transactionCancel(session_));
    default:
      return ReportError(E_INVALIDARG);
  }
}

STDMETHODIMP Instrument::get_Trigger(ITrigger** value) {
  CallFrame frame("Instrument.Trigger");
  return GetChild(trigger_, value);
}

HRESULT Instrument::GetSdkVersion(TextBuffer& text) noexcept {
  CallFrame frame("Instrument::GetSdkVersion");
  // The version data of this module is compiled in; the module must still be found, as the version resource
  // is read from the module's file.
  std::string module;
  try {
    module = auto_::ModulePathOf(reinterpret_cast<const void*>(&ModuleAnchor));
  } catch (...) {
    return ReportError(E_OUTOFMEMORY);
  }
  if (module.empty()) return ReportError(kErrModuleName);
  if (HRESULT hr = text.AppendLine("Product Version: "); FAILED(hr)) return ReportError(hr);
  if (HRESULT hr = text.Append(PGXSRV_PRODUCT_VERSION); FAILED(hr)) return ReportError(hr);
  if (HRESULT hr = text.AppendLine("File Version: "); FAILED(hr)) return ReportError(hr);
  if (HRESULT hr = text.AppendLine(PGXSRV_FILE_VERSION); FAILED(hr)) return ReportError(hr);
  return S_OK;
}

STDMETHODIMP Instrument::get_Version(PgxVersionData of_what, BSTR* value) {
  CallFrame frame("Instrument.Version");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  TextBuffer result, driver, firmware;
  for (TextBuffer* text : {&result, &driver, &firmware}) {
    if (HRESULT hr = text->Reserve(TextBuffer::kAnswerSize); FAILED(hr)) return ReportError(hr);
    text->Data()[0] = '\0';
  }
  HRESULT hr = S_OK;
  switch (of_what) {
    case PgxVersionScpi:
      hr = QueryText(":SYST:VERS?", result);
      break;
    case PgxVersionFirmware:
      hr = CheckStatus(pgxgen_revision_query(session_, driver.Data(), result.Data()));
      result.TakeWrittenText();
      break;
    case PgxVersionDriver:
      hr = CheckStatus(pgxgen_revision_query(session_, result.Data(), firmware.Data()));
      result.TakeWrittenText();
      break;
    case PgxVersionActiveX:
      hr = GetSdkVersion(result);
      break;
    case PgxVersionAll:
      if (FAILED(hr = QueryText(":SYST:VERS?", result))) break;
      if (FAILED(hr = CheckStatus(pgxgen_revision_query(session_, driver.Data(), firmware.Data())))) break;
      driver.TakeWrittenText();
      firmware.TakeWrittenText();
      if (FAILED(hr = result.AppendLine(driver.view())) || FAILED(hr = result.AppendLine(firmware.view()))) {
        hr = ReportError(hr);
        break;
      }
      hr = GetSdkVersion(result);
      break;
    default:
      hr = ReportError(E_INVALIDARG);
  }
  if (FAILED(hr)) return hr;
  return ReportError(result.ToBstr(value));
}

}  // namespace pgx::server
