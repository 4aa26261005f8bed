// Err: the object through which a group of objects reports failures, and through which a client reads error
// texts, the instrument's error queue and its warnings.
//
// Each Instrument has one, shared by every object below it; the Instruments collection has its own, which
// has no instrument (its session is 0).
#pragma once

#include <vector>

#include "automation/variant.h"
#include "server/core/pgx_object.h"
#include "server/core/text_buffer.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Err final : public PgxObject<Err, IErr, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Err";

  // The failure side of ReportError: records `hr` as the last error and publishes error information with
  // its description and the reporting interface `iid`; returns `hr`.
  HRESULT RecordHresult(HRESULT hr, const IID& iid) noexcept;
  // The failure side of CheckStatus for a driver status below 0: publishes error information with the
  // driver's (or the instrument's) message and returns kErrDriver; the driver's parameter errors are
  // recorded as E_INVALIDARG.
  HRESULT RecordStatus(ViStatus status, const IID& iid) noexcept;

  // The oldest entry of the instrument's error queue: 1 when the driver could not read it, else 0 (code 0
  // when the queue is empty).
  int GetInstrumentError(ViInt32* code, TextBuffer& message) noexcept;

  // ---- IErr ----
  STDMETHODIMP get_Count(LONG* value) override;
  STDMETHODIMP get__NewEnum(IUnknown** value) override;
  STDMETHODIMP get_InstrumentErrors(BSTR* value) override;
  STDMETHODIMP get_Item(LONG index, BSTR* value) override;
  STDMETHODIMP get_LastError(BSTR* value) override;
  STDMETHODIMP get_LastViError(LONG* value) override;
  STDMETHODIMP get_Text(LONG error_number, BSTR* value) override;
  STDMETHODIMP get_Verbose(VARIANT_BOOL* value) override;
  STDMETHODIMP put_Verbose(VARIANT_BOOL value) override;
  STDMETHODIMP get_Warnings(BSTR* value) override;

 private:
  friend class ChildHolder<Err>;
  Err() noexcept = default;

  Err* FindErrorObject() noexcept override { return this; }
  // Appends the instrument's error queue, one "Instr. Error [code]: message" line per entry.
  HRESULT AppendInstrumentErrors(TextBuffer& text) noexcept;
  // Appends " [in the call to PGXGEN....<outermost member>]" and marks the call as reported.
  HRESULT AppendCallDecoration(TextBuffer& text) noexcept;
  // Makes a record with `description` (or "Unknown Error") the thread's error information.
  void Publish(const TextBuffer& description, const IID& iid) noexcept;
  // The text of an HRESULT or driver status for Text().
  HRESULT DescribeNumber(LONG number, TextBuffer& text) noexcept;

  HRESULT last_hresult_ = S_OK;
  LONG last_vi_error_ = 0;
  bool verbose_ = false;
  std::vector<auto_::Variant> texts_;
};

}  // namespace pgx::server
