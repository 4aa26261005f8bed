// Voltage and Current: a channel's output levels in volts or in amperes (amplitude, offset, high and low),
// and Limit: the protective limits of those levels, with the channel's limit state.
//
// Levels are read with a query built from a template by channel substitution ("VOLT#:OFFS?" becomes
// "VOLT2:OFFS?" on channel 2) and set with a command formatted from a template, the channel suffix and the
// value in "%lG" form ("VOLT1:HIGH 2.5V", "VOLT1 1E-05V"), with a decimal point whatever the locale. No range
// check is made here: the instrument judges the value.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

// The channel's limit state, which both Channel.LimitEnabled and Limit.Enabled show: read into *value, or
// set, on `object`'s channel, each behind its own restriction.
HRESULT ReadLimitState(PgxBase& object, VARIANT_BOOL* value) noexcept;
HRESULT WriteLimitState(PgxBase& object, VARIANT_BOOL value) noexcept;

class Voltage final : public PgxObject<Voltage, IVoltage, Level::kChannel> {
 public:
  static constexpr const char* kClassName = "Voltage";

  // ---- IVoltage ----
  STDMETHODIMP get_Amplitude(DOUBLE* value) override;
  STDMETHODIMP put_Amplitude(DOUBLE value) override;
  STDMETHODIMP get_High(DOUBLE* value) override;
  STDMETHODIMP put_High(DOUBLE value) override;
  STDMETHODIMP get_Limit(ILimit** value) override;
  STDMETHODIMP get_Low(DOUBLE* value) override;
  STDMETHODIMP put_Low(DOUBLE value) override;
  STDMETHODIMP get_Offset(DOUBLE* value) override;
  STDMETHODIMP put_Offset(DOUBLE value) override;

 private:
  friend class ChildHolder<Voltage>;
  Voltage() noexcept = default;
};

class Current final : public PgxObject<Current, ICurrent, Level::kChannel> {
 public:
  static constexpr const char* kClassName = "Current";

  // ---- ICurrent ----
  STDMETHODIMP get_Amplitude(DOUBLE* value) override;
  STDMETHODIMP put_Amplitude(DOUBLE value) override;
  STDMETHODIMP get_High(DOUBLE* value) override;
  STDMETHODIMP put_High(DOUBLE value) override;
  STDMETHODIMP get_Limit(ILimit** value) override;
  STDMETHODIMP get_Low(DOUBLE* value) override;
  STDMETHODIMP put_Low(DOUBLE value) override;
  STDMETHODIMP get_Offset(DOUBLE* value) override;
  STDMETHODIMP put_Offset(DOUBLE value) override;

 private:
  friend class ChildHolder<Current>;
  Current() noexcept = default;
};

// A new Limit is made for every Voltage.Limit and Current.Limit request and is not attached to an error
// object: it fails with the same HRESULTs as any member, without publishing error information.
class Limit final : public PgxObject<Limit, ILimit, Level::kChannel> {
 public:
  static constexpr const char* kClassName = "Limit";

  // A new Limit below `level` (a Voltage or a Current, whose interface decides the SCPI subsystem,
  // ":VOLT" or ":CURR"), as ILimit with one reference for the caller.
  static HRESULT Create(PgxBase* level, ILimit** out) noexcept;

  // ---- ILimit ----
  STDMETHODIMP get_Enabled(VARIANT_BOOL* value) override;
  STDMETHODIMP put_Enabled(VARIANT_BOOL value) override;
  STDMETHODIMP get_High(DOUBLE* value) override;
  STDMETHODIMP put_High(DOUBLE value) override;
  STDMETHODIMP get_Low(DOUBLE* value) override;
  STDMETHODIMP put_Low(DOUBLE value) override;

 private:
  Limit() noexcept = default;

  // Sets the parent and decides the subsystem prefix from the parent's interface; S_FALSE (and no prefix)
  // for a parent that is neither a Voltage nor a Current.
  HRESULT AttachTo(PgxBase* level) noexcept;
  HRESULT QueryLimit(const char* query_suffix, DOUBLE* value) noexcept;
  HRESULT SendLimit(const char* header_suffix, DOUBLE value) noexcept;

  const char* prefix_ = nullptr;
};

}  // namespace pgx::server
