// RawCommand: the _Cmd object of an instrument (a C++ class cannot carry the name of its member Cmd). Any
// SCPI command or query sent to the instrument through the driver's raw-command functions, typed by the
// value that goes with it. In a put the command is the header and the driver adds the value; in a get it is
// the whole query.
#pragma once

#include "server/core/pgx_object.h"
#include "server/core/text_buffer.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class RawCommand final : public PgxObject<RawCommand, I_Cmd, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "_Cmd";

  // ---- I_Cmd ----
  STDMETHODIMP Cmd(BSTR command) override;
  STDMETHODIMP get_Int16(BSTR command, SHORT* value) override;
  STDMETHODIMP put_Int16(BSTR command, SHORT value) override;
  STDMETHODIMP get_Int32(BSTR command, LONG* value) override;
  STDMETHODIMP put_Int32(BSTR command, LONG value) override;
  STDMETHODIMP Int8ArrGet(BSTR command, SAFEARRAY** array) override;
  STDMETHODIMP Int8ArrPut(BSTR command, SAFEARRAY** array) override;
  STDMETHODIMP get_Real32(BSTR command, FLOAT* value) override;
  STDMETHODIMP put_Real32(BSTR command, FLOAT value) override;
  STDMETHODIMP get_Real64(BSTR command, DOUBLE* value) override;
  STDMETHODIMP put_Real64(BSTR command, DOUBLE value) override;
  STDMETHODIMP get_String(BSTR command, BSTR* value) override;
  STDMETHODIMP put_String(BSTR command, BSTR value) override;
  STDMETHODIMP get_UInt16(BSTR command, LONG* value) override;
  STDMETHODIMP put_UInt16(BSTR command, LONG value) override;
  STDMETHODIMP get_UInt32(BSTR command, LONG* value) override;
  STDMETHODIMP put_UInt32(BSTR command, LONG value) override;

 private:
  friend class ChildHolder<RawCommand>;
  RawCommand() noexcept = default;

  // The client's command as the narrow text sent; failures go through ReportError.
  HRESULT Narrow(BSTR command, TextBuffer& text) noexcept;
  // A put: the driver's `send` adds `value` to the header `command`.
  template <class T>
  HRESULT Send(BSTR command, ViStatus (*send)(ViSession, ViConstString, T), T value) noexcept;
  // A get: the driver's `query` sends the query `command` and reads the answer into *answer (E_POINTER for
  // a null `answer`).
  template <class T>
  HRESULT Query(BSTR command, ViStatus (*query)(ViSession, ViConstString, T*), T* answer) noexcept;
};

}  // namespace pgx::server
