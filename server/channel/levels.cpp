#include "server/channel/levels.h"

#include <cctype>
#include <charconv>

#include "automation/comptr.h"
#include "driver/pgxgen.h"

namespace pgx::server {

namespace {

// The restriction ids of the limits.
constexpr int kRestrictLimitStatePut = 13;
constexpr int kRestrictLimitStateGet = 14;
constexpr int kRestrictLimits = 15;

// The marker of a query template that the channel suffix replaces.
constexpr char kChannelMarker = '#';

// Reads a level with the query that the template `first` + `second` gives on the object's channel.
HRESULT QueryLevel(PgxBase& object, const char* first, const char* second, DOUBLE* value) noexcept {
  if (!value) return object.ReportError(E_POINTER);
  TextBuffer query;
  if (HRESULT hr = query.InsertChannelSuffix(first, second, kChannelMarker, object.ChannelSuffix());
      FAILED(hr))
    return object.ReportError(hr);
  ViReal64 level = 0;
  if (HRESULT hr = object.CheckStatus(pgxgen_cmdReal64_Q(object.GetSession(), query.c_str(), &level));
      FAILED(hr))
    return hr;
  *value = level;
  return S_OK;
}

// A level as "%lG" writes it in the "C" locale: upper-case general notation with 6 significant digits (2.5,
// 1E-05, -1.23457E+06, INF). The client's process may run in a locale with a decimal comma, which the
// instrument would not read.
class LevelText {
 public:
  explicit LevelText(double value) noexcept {
    auto [end, error] = std::to_chars(text_, text_ + sizeof text_ - 1, value, std::chars_format::general, 6);
    if (error != std::errc()) end = text_;
    *end = '\0';
    for (char* c = text_; c != end; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
  }
  const char* c_str() const noexcept { return text_; }

 private:
  char text_[32];
};

// Sets a level with the command that the template `header` gives on the object's channel, followed by the
// value and its `unit` ("VOLT#:HIGH", 2.5, "V" sends "VOLT1:HIGH 2.5V"). The text grows with what it holds,
// so no value can overrun it.
HRESULT SendLevel(PgxBase& object, const char* header, const char* unit, double value) noexcept {
  TextBuffer command;
  HRESULT hr = command.InsertChannelSuffix(header, nullptr, kChannelMarker, object.ChannelSuffix());
  if (SUCCEEDED(hr)) hr = command.Append(" ");
  if (SUCCEEDED(hr)) hr = command.Append(LevelText(value).c_str());
  if (SUCCEEDED(hr)) hr = command.Append(unit);
  if (FAILED(hr)) return object.ReportError(hr);
  return object.CheckStatus(pgxgen_cmd(object.GetSession(), command.c_str()));
}

}  // namespace

HRESULT ReadLimitState(PgxBase& object, VARIANT_BOOL* value) noexcept {
  if (HRESULT hr = object.CheckRestriction(kRestrictLimitStateGet)) return object.ReportError(hr);
  if (!value) return object.ReportError(E_POINTER);
  ViBoolean on = 0;
  if (HRESULT hr = object.CheckStatus(pgxgen_limitState_Q(object.GetSession(), object.ChannelNumber(), &on));
      FAILED(hr))
    return hr;
  *value = on ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT WriteLimitState(PgxBase& object, VARIANT_BOOL value) noexcept {
  if (HRESULT hr = object.CheckRestriction(kRestrictLimitStatePut)) return object.ReportError(hr);
  return object.CheckStatus(pgxgen_limitState(object.GetSession(), object.ChannelNumber(), value ? 1 : 0));
}

// ---- Voltage -------------------------------------------------------------------------------------------

STDMETHODIMP Voltage::get_Amplitude(DOUBLE* value) {
  CallFrame frame("Voltage.Amplitude");
  return QueryLevel(*this, "VOLT#?", nullptr, value);
}

STDMETHODIMP Voltage::put_Amplitude(DOUBLE value) {
  CallFrame frame("Voltage.Amplitude");
  return SendLevel(*this, "VOLT#", "V", value);
}

STDMETHODIMP Voltage::get_High(DOUBLE* value) {
  CallFrame frame("Voltage.High");
  return QueryLevel(*this, "VOLT#:HIGH?", nullptr, value);
}

STDMETHODIMP Voltage::put_High(DOUBLE value) {
  CallFrame frame("Voltage.High");
  return SendLevel(*this, "VOLT#:HIGH", "V", value);
}

STDMETHODIMP Voltage::get_Limit(ILimit** value) {
  CallFrame frame("Voltage.Limit");
  if (HRESULT hr = CheckRestriction(kRestrictLimits)) return ReportError(hr);
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  return ReportError(Limit::Create(this, value));
}

STDMETHODIMP Voltage::get_Low(DOUBLE* value) {
  CallFrame frame("Voltage.Low");
  return QueryLevel(*this, "VOLT#:LOW?", nullptr, value);
}

STDMETHODIMP Voltage::put_Low(DOUBLE value) {
  CallFrame frame("Voltage.Low");
  return SendLevel(*this, "VOLT#:LOW", "V", value);
}

STDMETHODIMP Voltage::get_Offset(DOUBLE* value) {
  CallFrame frame("Voltage.Offset");
  return QueryLevel(*this, "VOLT#:OFFS?", nullptr, value);
}

STDMETHODIMP Voltage::put_Offset(DOUBLE value) {
  CallFrame frame("Voltage.Offset");
  return SendLevel(*this, "VOLT#:OFFS", "V", value);
}

// ---- Current -------------------------------------------------------------------------------------------

STDMETHODIMP Current::get_Amplitude(DOUBLE* value) {
  CallFrame frame("Current.Amplitude");
  return QueryLevel(*this, ":CURR#?", nullptr, value);
}

STDMETHODIMP Current::put_Amplitude(DOUBLE value) {
  CallFrame frame("Current.Amplitude");
  return SendLevel(*this, ":CURR#", "A", value);
}

STDMETHODIMP Current::get_High(DOUBLE* value) {
  CallFrame frame("Current.High");
  return QueryLevel(*this, ":CURR#:HIGH?", nullptr, value);
}

STDMETHODIMP Current::put_High(DOUBLE value) {
  CallFrame frame("Current.High");
  return SendLevel(*this, ":CURR#:HIGH", "A", value);
}

STDMETHODIMP Current::get_Limit(ILimit** value) {
  CallFrame frame("Current.Limit");
  if (HRESULT hr = CheckRestriction(kRestrictLimits)) return ReportError(hr);
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  return ReportError(Limit::Create(this, value));
}

STDMETHODIMP Current::get_Low(DOUBLE* value) {
  CallFrame frame("Current.Low");
  return QueryLevel(*this, ":CURR#:LOW?", nullptr, value);
}

STDMETHODIMP Current::put_Low(DOUBLE value) {
  CallFrame frame("Current.Low");
  return SendLevel(*this, ":CURR#:LOW", "A", value);
}

STDMETHODIMP Current::get_Offset(DOUBLE* value) {
  CallFrame frame("Current.Offset");
  return QueryLevel(*this, ":CURR#:OFFS?", nullptr, value);
}

STDMETHODIMP Current::put_Offset(DOUBLE value) {
  CallFrame frame("Current.Offset");
  return SendLevel(*this, ":CURR#:OFFS", "A", value);
}

// ---- Limit ---------------------------------------------------------------------------------------------

HRESULT Limit::Create(PgxBase* level, ILimit** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  Limit* created = new (std::nothrow) Limit;
  if (!created) return E_OUTOFMEMORY;
  auto_::ComPtr<Limit> limit(created);
  if (HRESULT hr = limit->AttachTo(level); FAILED(hr)) return hr;
  return limit->QueryInterface(IID_ILimit, reinterpret_cast<void**>(out));
}

HRESULT Limit::AttachTo(PgxBase* level) noexcept {
  // Not attached: the limit reports through no error object.
  if (HRESULT hr = SetParent(level, IID_ILimit, false); FAILED(hr)) return hr;
  if (!level) return S_FALSE;
  if (level->InterfaceId() == IID_IVoltage) {
    prefix_ = ":VOLT";
  } else if (level->InterfaceId() == IID_ICurrent) {
    prefix_ = ":CURR";
  } else {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT Limit::QueryLimit(const char* query_suffix, DOUBLE* value) noexcept {
  return QueryLevel(*this, prefix_, query_suffix, value);
}

HRESULT Limit::SendLimit(const char* header_suffix, DOUBLE value) noexcept {
  TextBuffer header;
  if (HRESULT hr = header.InsertChannelSuffix(prefix_, header_suffix, kChannelMarker, ChannelSuffix());
      FAILED(hr))
    return ReportError(hr);
  return CheckStatus(pgxgen_cmdReal(GetSession(), header.c_str(), value));
}

STDMETHODIMP Limit::get_Enabled(VARIANT_BOOL* value) {
  CallFrame frame("Limit.Enabled");
  return ReadLimitState(*this, value);
}

STDMETHODIMP Limit::put_Enabled(VARIANT_BOOL value) {
  CallFrame frame("Limit.Enabled");
  return WriteLimitState(*this, value);
}

STDMETHODIMP Limit::get_High(DOUBLE* value) {
  CallFrame frame("Limit.High");
  return QueryLimit("#:LIM?", value);
}

STDMETHODIMP Limit::put_High(DOUBLE value) {
  CallFrame frame("Limit.High");
  return SendLimit("#:LIM", value);
}

STDMETHODIMP Limit::get_Low(DOUBLE* value) {
  CallFrame frame("Limit.Low");
  return QueryLimit("#:LIM:LOW?", value);
}

STDMETHODIMP Limit::put_Low(DOUBLE value) {
  CallFrame frame("Limit.Low");
  return SendLimit("#:LIM:LOW", value);
}

}  // namespace pgx::server
