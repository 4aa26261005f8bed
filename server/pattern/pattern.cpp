#include "server/pattern/pattern.h"

#include <climits>
#include <memory>
#include <new>

#include "driver/pgxgen.h"
#include "server/core/byte_array.h"
#include "server/core/messages.h"
#include "server/pattern/file_name.h"
#include "server/pattern/pattern_bits.h"
#include "server/pattern/prbs.h"

namespace pgx::server {

namespace {

bool IsDataChannel(PgxDataChannel channel) {
  return channel >= PgxDataChannelStart && channel < PgxDataChannelEnd;
}

bool IsArrayFormat(PgxPatternArrayFormat format) {
  return format >= PgxPatternArrayFormatStart && format < PgxPatternArrayFormatEnd;
}

// A buffer of one byte per pattern position, for the Bits format.
std::unique_ptr<BYTE[]> PositionBuffer(ViInt32 count) noexcept {
  return std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[count > 0 ? count : 1]);
}

}  // namespace

HRESULT Pattern::GetState(bool* on) noexcept {
  CallFrame frame("Pattern::GetState");
  TextBuffer answer;
  if (HRESULT hr = QueryText(":DIG:PATT?", answer); FAILED(hr)) return hr;
  *on = answer.view() == "1";
  return S_OK;
}

HRESULT Pattern::GetState(VARIANT_BOOL* on) noexcept {
  bool flag = false;
  HRESULT hr = GetState(&flag);
  if (SUCCEEDED(hr)) *on = flag ? VARIANT_TRUE : VARIANT_FALSE;
  return hr;
}

STDMETHODIMP Pattern::get_State(VARIANT_BOOL* value) {
  CallFrame frame("Pattern.State");
  if (!value) return ReportError(E_POINTER);
  return GetState(value);
}

STDMETHODIMP Pattern::put_State(VARIANT_BOOL value) {
  CallFrame frame("Pattern.State");
  return CheckStatus(pgxgen_cmdString(GetSession(), ":DIG:PATT", value ? "ON" : "OFF"));
}

// Pattern.CalcPRBS: bit positions StartIndex .. EndIndex (1-based, the most significant bit of byte 0 first)
// of the client's array receive the sequence of order Base; the other bits stay as they are.
STDMETHODIMP Pattern::CalcPRBS(LONG start_index, LONG end_index, LONG base, SAFEARRAY** byte_array) {
  CallFrame frame("Pattern.CalcPRBS");
  if (!byte_array || !*byte_array) return ReportError(E_POINTER);
  ByteArrayData bytes(*byte_array);
  if (FAILED(bytes.status())) return ReportError(bytes.status());
  const long long first = static_cast<long long>(start_index) - 1;
  const long long last = static_cast<long long>(end_index) - 1;
  if (first / 8 >= bytes.count() || last / 8 >= bytes.count()) return ReportError(kErrArrayTooSmall);
  if (first < 0 || last < 0 || base < PrbsGenerator::kMinOrder || base > PrbsGenerator::kMaxOrder)
    return ReportError(E_INVALIDARG);
  WritePrbs(bytes.data(), static_cast<std::size_t>(first), static_cast<std::size_t>(last),
            static_cast<int>(base));
  return S_OK;
}

// Pattern.DataSendToInstrument: Ascii and Binary arrays go to the driver as they are, one position per byte;
// a Bits array is expanded to PatternLength positions first. A Bits array that holds fewer than PatternLength
// bits is refused with nothing sent.
STDMETHODIMP Pattern::DataSendToInstrument(PgxDataChannel channel, PgxPatternArrayFormat array_format,
                                           SAFEARRAY** array, LONG pattern_length) {
  CallFrame frame("Pattern.DataSendToInstrument");
  if (!IsDataChannel(channel) || !IsArrayFormat(array_format)) return ReportError(E_INVALIDARG);
  if (!array || !*array) return ReportError(E_POINTER);
  ByteArrayData bytes(*array);
  if (FAILED(bytes.status())) return ReportError(bytes.status());
  if (array_format != PgxPatternArrayFormatBits)
    return CheckStatus(pgxgen_patternDataDownloadBuffer(GetSession(), channel, bytes.data(), bytes.count()));
  if (pattern_length < 0) return ReportError(E_INVALIDARG);
  if (pattern_length > 8LL * bytes.count()) return ReportError(kErrArrayTooSmall);
  std::unique_ptr<BYTE[]> positions = PositionBuffer(pattern_length);
  if (!positions) return ReportError(E_OUTOFMEMORY);
  ExpandBits(bytes.data(), static_cast<std::size_t>(pattern_length), positions.get());
  return CheckStatus(
      pgxgen_patternDataDownloadBuffer(GetSession(), channel, positions.get(), pattern_length));
}

STDMETHODIMP Pattern::DataSendToInstrumentFromFile(PgxDataChannel channel, BSTR file_name) {
  CallFrame frame("Pattern.DataSendToInstrumentFromFile");
  if (!IsDataChannel(channel)) return ReportError(E_INVALIDARG);
  TextBuffer name;
  if (HRESULT hr = NarrowFileName(file_name, name); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_patternDataDownloadFile(GetSession(), channel, name.c_str()));
}

STDMETHODIMP Pattern::DataPRBS(PgxDataChannel channel, SHORT polynomial_exponent, LONG pattern_length) {
  CallFrame frame("Pattern.DataPRBS");
  if (!IsDataChannel(channel)) return ReportError(E_INVALIDARG);
  return CheckStatus(pgxgen_patternDataPRBS(GetSession(), channel, polynomial_exponent, pattern_length));
}

STDMETHODIMP Pattern::DataPreset(PgxDataChannel channel, LONG pattern_divider, LONG pattern_length) {
  CallFrame frame("Pattern.DataPreset");
  if (!IsDataChannel(channel)) return ReportError(E_INVALIDARG);
  return CheckStatus(pgxgen_patternDataPreset(GetSession(), channel, pattern_divider, pattern_length));
}

// Pattern.DataGetFromInstrument: the driver fills an Ascii or Binary array directly, at most one position per
// byte; for Bits it fills a buffer of eight positions per array byte, which is then packed into the array.
// PatternLength receives the number of positions read.
STDMETHODIMP Pattern::DataGetFromInstrument(PgxDataChannel channel, PgxPatternArrayFormat array_format,
                                            SAFEARRAY** array, LONG* pattern_length) {
  CallFrame frame("Pattern.DataGetFromInstrument");
  if (!IsDataChannel(channel) || !IsArrayFormat(array_format)) return ReportError(E_INVALIDARG);
  if (!array || !*array || !pattern_length) return ReportError(E_POINTER);
  ByteArrayData bytes(*array);
  if (FAILED(bytes.status())) return ReportError(bytes.status());
  ViInt32 count = 0;
  if (array_format != PgxPatternArrayFormatBits) {
    const ViBoolean ascii = array_format == PgxPatternArrayFormatAscii ? VI_TRUE : VI_FALSE;
    if (HRESULT hr = CheckStatus(pgxgen_patternDataDownloadBuffer_Q(GetSession(), channel, bytes.data(),
                                                                    &count, bytes.count(), ascii));
        FAILED(hr))
      return hr;
    *pattern_length = count;
    return S_OK;
  }
  const ViInt32 capacity = 8LL * bytes.count() > INT_MAX ? INT_MAX : static_cast<ViInt32>(8 * bytes.count());
  std::unique_ptr<BYTE[]> positions = PositionBuffer(capacity);
  if (!positions) return ReportError(E_OUTOFMEMORY);
  if (HRESULT hr = CheckStatus(pgxgen_patternDataDownloadBuffer_Q(GetSession(), channel, positions.get(),
                                                                  &count, capacity, VI_FALSE));
      FAILED(hr))
    return hr;
  if (count < 0 || count > capacity) return ReportError(kErrInvalidResponse);
  PackPositions(positions.get(), static_cast<std::size_t>(count), bytes.data());
  *pattern_length = count;
  return S_OK;
}

STDMETHODIMP Pattern::DataGetFromInstrumentToFile(PgxDataChannel channel, VARIANT_BOOL convert_to_ascii,
                                                  BSTR file_name) {
  CallFrame frame("Pattern.DataGetFromInstrumentToFile");
  if (!IsDataChannel(channel)) return ReportError(E_INVALIDARG);
  TextBuffer name;
  if (HRESULT hr = NarrowFileName(file_name, name); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_patternDataDownloadFile_Q(GetSession(), channel,
                                                      convert_to_ascii ? VI_TRUE : VI_FALSE, name.c_str()));
}

STDMETHODIMP Pattern::get_UpdateMode(PgxPatternUpdate* value) {
  CallFrame frame("Pattern.UpdateMode");
  if (!value) return ReportError(E_POINTER);
  ViInt16 mode = 0;
  if (HRESULT hr = CheckStatus(pgxgen_patternUpdate_Q(GetSession(), &mode)); FAILED(hr)) return hr;
  *value = static_cast<PgxPatternUpdate>(mode);
  return S_OK;
}

STDMETHODIMP Pattern::put_UpdateMode(PgxPatternUpdate value) {
  CallFrame frame("Pattern.UpdateMode");
  if (value < PgxPatternUpdateStart || value >= PgxPatternUpdateEnd) return ReportError(E_INVALIDARG);
  return CheckStatus(pgxgen_patternUpdate(GetSession(), value));
}

}  // namespace pgx::server
