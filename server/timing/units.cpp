#include "server/timing/units.h"

namespace pgx::server {

namespace {

constexpr char kChannelMarker = '#';

}  // namespace

HRESULT QueryDefaultUnits(PgxBase& object, const char* query_template, KeywordTable units,
                          LONG* value) noexcept {
  if (!value) return object.ReportError(E_POINTER);
  TextBuffer query;
  if (HRESULT hr = query.InsertChannelSuffix(query_template, nullptr, kChannelMarker, object.ChannelSuffix());
      FAILED(hr))
    return object.ReportError(hr);
  TextBuffer answer;
  if (HRESULT hr = object.QueryText(query.c_str(), answer); FAILED(hr)) return hr;
  answer.Trim();
  LONG found = 0;
  if (HRESULT hr = LookupValue(answer.view(), units, &found); FAILED(hr)) return object.ReportError(hr);
  *value = found;
  return S_OK;
}

HRESULT SendDefaultUnits(PgxBase& object, const char* header_template, KeywordTable units, LONG end,
                         LONG value) noexcept {
  if (value < 0 || value >= end) return object.ReportError(E_INVALIDARG);
  TextBuffer keyword;
  if (HRESULT hr = LookupText(value, units, keyword); FAILED(hr)) return object.ReportError(hr);
  TextBuffer header;
  if (HRESULT hr =
          header.InsertChannelSuffix(header_template, nullptr, kChannelMarker, object.ChannelSuffix());
      FAILED(hr))
    return object.ReportError(hr);
  return object.CheckStatus(pgxgen_cmdString(object.GetSession(), header.c_str(), keyword.c_str()));
}

}  // namespace pgx::server
