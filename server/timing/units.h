// The units of the pulse timing values: a value travels with the unit it is expressed in (seconds, percent,
// degrees or radians of the period), and each delay and transition has a default unit, set and read as an
// SCPI unit keyword.
#pragma once

#include "driver/pgxgen.h"
#include "server/core/lookup.h"
#include "server/core/pgx_base.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

// The pulse delay's default units; seconds are sent as "S". Searched in this order, first match wins.
inline constexpr KeywordRow kDelayUnits[] = {{PgxPulseUnitXSeconds, "S"},
                                             {PgxPulseUnitXSeconds, "SEC"},
                                             {PgxPulseUnitXPercent, "PCT"},
                                             {PgxPulseUnitXDegrees, "DEG"},
                                             {PgxPulseUnitXRadians, "RAD"}};
// The default units of the double-pulse delay and the transitions; seconds are sent as "SEC".
inline constexpr KeywordRow kGeneralUnits[] = {
    {PgxPulseUnitSeconds, "SEC"}, {PgxPulseUnitSeconds, "S"}, {PgxPulseUnitPercent, "PCT"}};

// The default unit of `object`'s channel: `query_template` with its channel marker ("#") replaced by the
// channel suffix is sent, and the answer looked up in `units`; kErrInvalidResponse for an unknown answer.
HRESULT QueryDefaultUnits(PgxBase& object, const char* query_template, KeywordTable units,
                          LONG* value) noexcept;
// Sends the keyword of `value` (below `end`) in `units` after the header that `header_template` gives.
HRESULT SendDefaultUnits(PgxBase& object, const char* header_template, KeywordTable units, LONG end,
                         LONG value) noexcept;

template <class Unit>
HRESULT QueryDefaultUnits(PgxBase& object, const char* query_template, KeywordTable units,
                          Unit* value) noexcept {
  if (!value) return object.ReportError(E_POINTER);
  LONG found = 0;
  if (HRESULT hr = QueryDefaultUnits(object, query_template, units, &found); FAILED(hr)) return hr;
  *value = static_cast<Unit>(found);
  return S_OK;
}

// A driver function that reads a channel's value together with the unit it is expressed in, and one that
// sets it in a given unit.
using ValueWithUnitQuery = ViStatus (*)(ViSession, ViInt16, ViInt16*, ViReal64*);
using ValueWithUnitSetter = ViStatus (*)(ViSession, ViInt16, ViInt16, ViReal64);

// Reads a value of `object`'s channel; the unit the instrument expresses it in comes back in *units.
template <class Unit>
HRESULT QueryValueWithUnit(PgxBase& object, ValueWithUnitQuery query, Unit* units, DOUBLE* value) noexcept {
  if (!units || !value) return object.ReportError(E_POINTER);
  ViInt16 unit = 0;
  ViReal64 read = 0;
  if (HRESULT hr = object.CheckStatus(query(object.GetSession(), object.ChannelNumber(), &unit, &read));
      FAILED(hr))
    return hr;
  *units = static_cast<Unit>(unit);
  *value = read;
  return S_OK;
}

// Sets a value of `object`'s channel in the unit *units, which must lie below `end`.
template <class Unit>
HRESULT SendValueWithUnit(PgxBase& object, ValueWithUnitSetter set, const Unit* units, Unit end,
                          DOUBLE value) noexcept {
  if (!units) return object.ReportError(E_POINTER);
  if (*units < 0 || *units >= end) return object.ReportError(E_INVALIDARG);
  return object.CheckStatus(
      set(object.GetSession(), object.ChannelNumber(), static_cast<ViInt16>(*units), value));
}

}  // namespace pgx::server
