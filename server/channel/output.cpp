#include "server/channel/output.h"

#include "driver/pgxgen.h"
#include "server/core/lookup.h"
#include "server/core/messages.h"

namespace pgx::server {

namespace {

// The restriction ids of the output's members.
constexpr int kRestrictImpedancePut = 17;
constexpr int kRestrictImpedanceGet = 18;
constexpr int kRestrictLoadPut = 19;
constexpr int kRestrictLoadGet = 20;
constexpr int kRestrictComplementPut = 25;
constexpr int kRestrictComplementGet = 26;

// What the instrument holds when the load changes: the voltage or the current. Not channel-specific.
constexpr KeywordRow kHoldKeywords[] = {{PgxOutputTypeVoltage, "VOLT"}, {PgxOutputTypeCurrent, "CURR"}};

constexpr VARIANT_BOOL ToVariantBool(ViBoolean flag) {
  return flag ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace

STDMETHODIMP Output::get_ComplementState(VARIANT_BOOL* value) {
  CallFrame frame("Output.ComplementState");
  if (HRESULT hr = CheckRestriction(kRestrictComplementGet)) return ReportError(hr);
  if (!value) return ReportError(E_POINTER);
  ViBoolean on = 0;
  if (HRESULT hr = CheckStatus(pgxgen_outputStateComplement_Q(GetSession(), ChannelNumber(), &on));
      FAILED(hr))
    return hr;
  *value = ToVariantBool(on);
  return S_OK;
}

STDMETHODIMP Output::put_ComplementState(VARIANT_BOOL value) {
  CallFrame frame("Output.ComplementState");
  if (HRESULT hr = CheckRestriction(kRestrictComplementPut)) return ReportError(hr);
  return CheckStatus(pgxgen_outputStateComplement(GetSession(), ChannelNumber(), value ? 1 : 0));
}

STDMETHODIMP Output::get_Hold(PgxOutputType* value) {
  CallFrame frame("Output.Hold");
  if (!value) return ReportError(E_POINTER);
  TextBuffer answer;
  if (HRESULT hr = QueryText(":HOLD?", answer); FAILED(hr)) return hr;
  answer.Trim();
  LONG hold = 0;
  if (HRESULT hr = LookupValue(answer.view(), kHoldKeywords, &hold); FAILED(hr)) return ReportError(hr);
  *value = static_cast<PgxOutputType>(hold);
  return S_OK;
}

STDMETHODIMP Output::put_Hold(PgxOutputType value) {
  CallFrame frame("Output.Hold");
  if (value < PgxOutputTypeStart || value >= PgxOutputTypeEnd) return ReportError(E_INVALIDARG);
  // PgxOutputTypeAsIs has no keyword.
  TextBuffer keyword;
  if (HRESULT hr = LookupText(value, kHoldKeywords, keyword); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_cmdString(GetSession(), ":HOLD", keyword.c_str()));
}

STDMETHODIMP Output::get_ImpedanceExternalLoad(DOUBLE* value) {
  CallFrame frame("Output.ImpedanceExternalLoad");
  if (HRESULT hr = CheckRestriction(kRestrictLoadGet)) return ReportError(hr);
  if (!value) return ReportError(E_POINTER);
  ViReal64 ohms = 0;
  if (HRESULT hr = CheckStatus(pgxgen_configOutputLoadCompensation_Q(GetSession(), ChannelNumber(), &ohms));
      FAILED(hr))
    return hr;
  *value = ohms;
  return S_OK;
}

STDMETHODIMP Output::put_ImpedanceExternalLoad(DOUBLE value) {
  CallFrame frame("Output.ImpedanceExternalLoad");
  if (HRESULT hr = CheckRestriction(kRestrictLoadPut)) return ReportError(hr);
  return CheckStatus(pgxgen_configOutputLoadCompensation(GetSession(), ChannelNumber(), value));
}

STDMETHODIMP Output::get_ImpedanceInternal(DOUBLE* value) {
  CallFrame frame("Output.ImpedanceInternal");
  if (HRESULT hr = CheckRestriction(kRestrictImpedanceGet)) return ReportError(hr);
  if (!value) return ReportError(E_POINTER);
  ViReal64 ohms = 0;
  if (HRESULT hr = CheckStatus(pgxgen_configOutputImpedance_Q(GetSession(), ChannelNumber(), &ohms));
      FAILED(hr))
    return hr;
  *value = ohms;
  return S_OK;
}

STDMETHODIMP Output::put_ImpedanceInternal(DOUBLE value) {
  CallFrame frame("Output.ImpedanceInternal");
  if (HRESULT hr = CheckRestriction(kRestrictImpedancePut)) return ReportError(hr);
  return CheckStatus(pgxgen_configOutputImpedance(GetSession(), ChannelNumber(), value));
}

STDMETHODIMP Output::get_NormalState(VARIANT_BOOL* value) {
  CallFrame frame("Output.NormalState");
  if (!value) return ReportError(E_POINTER);
  ViBoolean on = 0;
  if (HRESULT hr = CheckStatus(pgxgen_outputStateNormal_Q(GetSession(), ChannelNumber(), &on)); FAILED(hr))
    return hr;
  *value = ToVariantBool(on);
  return S_OK;
}

STDMETHODIMP Output::put_NormalState(VARIANT_BOOL value) {
  CallFrame frame("Output.NormalState");
  return CheckStatus(pgxgen_outputStateNormal(GetSession(), ChannelNumber(), value ? 1 : 0));
}

STDMETHODIMP Output::get_Polarity(PgxOutputPolarity* value) {
  CallFrame frame("Output.Polarity");
  if (!value) return ReportError(E_POINTER);
  ViInt16 polarity = 0;
  if (HRESULT hr = CheckStatus(pgxgen_outputPolarity_Q(GetSession(), ChannelNumber(), &polarity)); FAILED(hr))
    return hr;
  // An unknown polarity is handed out as it came, and reported.
  *value = static_cast<PgxOutputPolarity>(polarity);
  if (polarity < PgxOutputPolarityStart || polarity >= PgxOutputPolarityEnd) return ReportError(E_INVALIDARG);
  return S_OK;
}

STDMETHODIMP Output::put_Polarity(PgxOutputPolarity value) {
  CallFrame frame("Output.Polarity");
  if (value < PgxOutputPolarityStart || value >= PgxOutputPolarityEnd) return ReportError(E_INVALIDARG);
  return CheckStatus(pgxgen_outputPolarity(GetSession(), ChannelNumber(), static_cast<ViInt16>(value)));
}

STDMETHODIMP Output::GetLevel(PgxOutputLevelFormat ampl_off_or_hi_lo, PgxOutputType* output_type,
                              DOUBLE* offset_or_high, DOUBLE* amplitude_or_low) {
  CallFrame frame("Output.GetLevel");
  if (!output_type || !offset_or_high || !amplitude_or_low) return ReportError(E_POINTER);
  if (HRESULT hr = get_Hold(output_type); FAILED(hr)) return ReportError(hr);
  ViInt16 type = 0;
  ViReal64 first = 0;
  ViReal64 second = 0;
  ViStatus status = 0;
  switch (ampl_off_or_hi_lo) {
    case PgxFormatAmplitudeOffset:
      status = pgxgen_levelOffsetAmplitude_Q(GetSession(), ChannelNumber(), &type, &first, &second);
      break;
    case PgxFormatHighLow:
      status = pgxgen_levelHighLow_Q(GetSession(), ChannelNumber(), &type, &first, &second);
      break;
    default:
      return ReportError(E_INVALIDARG);
  }
  if (HRESULT hr = CheckStatus(status); FAILED(hr)) return hr;
  *output_type = static_cast<PgxOutputType>(type);
  *offset_or_high = first;
  *amplitude_or_low = second;
  return S_OK;
}

STDMETHODIMP Output::SetLevel(PgxOutputLevelFormat ampl_off_or_hi_lo, PgxOutputType output_type,
                              DOUBLE offset_or_high, DOUBLE amplitude_or_low) {
  CallFrame frame("Output.SetLevel");
  if (output_type < PgxOutputTypeStart || output_type >= PgxOutputTypeEnd) return ReportError(E_INVALIDARG);
  if (output_type == PgxOutputTypeAsIs) {
    if (HRESULT hr = get_Hold(&output_type); FAILED(hr)) return ReportError(hr);
  }
  const auto type = static_cast<ViInt16>(output_type);
  switch (ampl_off_or_hi_lo) {
    case PgxFormatAmplitudeOffset:
      return CheckStatus(
          pgxgen_levelOffsetAmplitude(GetSession(), ChannelNumber(), type, offset_or_high, amplitude_or_low));
    case PgxFormatHighLow:
      return CheckStatus(
          pgxgen_levelHighLow(GetSession(), ChannelNumber(), type, offset_or_high, amplitude_or_low));
    default:
      return ReportError(E_INVALIDARG);
  }
}

}  // namespace pgx::server
