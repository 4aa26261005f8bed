#include "server/session/raw_command.h"

#include "driver/pgxgen.h"
#include "server/core/byte_array.h"

namespace pgx::server {

// A command that holds a NUL character is refused: the driver would send only what stands before it.
HRESULT RawCommand::Narrow(BSTR command, TextBuffer& text) noexcept {
  return ReportError(text.AssignBstrArgument(command));
}

template <class T>
HRESULT RawCommand::Send(BSTR command, ViStatus (*send)(ViSession, ViConstString, T), T value) noexcept {
  TextBuffer header;
  if (HRESULT hr = Narrow(command, header); FAILED(hr)) return hr;
  return CheckStatus(send(GetSession(), header.c_str(), value));
}

template <class T>
HRESULT RawCommand::Query(BSTR command, ViStatus (*query)(ViSession, ViConstString, T*), T* answer) noexcept {
  if (!answer) return ReportError(E_POINTER);
  TextBuffer text;
  if (HRESULT hr = Narrow(command, text); FAILED(hr)) return hr;
  return CheckStatus(query(GetSession(), text.c_str(), answer));
}

STDMETHODIMP RawCommand::Cmd(BSTR command) {
  CallFrame frame("_Cmd.Cmd");
  TextBuffer text;
  if (HRESULT hr = Narrow(command, text); FAILED(hr)) return hr;
  return CheckStatus(pgxgen_cmd(GetSession(), text.c_str()));
}

STDMETHODIMP RawCommand::get_Int16(BSTR command, SHORT* value) {
  CallFrame frame("_Cmd.Int16");
  return Query<ViInt16>(command, pgxgen_cmdInt16_Q, value);
}

// The value goes out widened (sign-extended), as the Int32 put sends it.
STDMETHODIMP RawCommand::put_Int16(BSTR command, SHORT value) {
  CallFrame frame("_Cmd.Int16");
  return Send<ViInt32>(command, pgxgen_cmdInt, value);
}

STDMETHODIMP RawCommand::get_Int32(BSTR command, LONG* value) {
  CallFrame frame("_Cmd.Int32");
  return Query<ViInt32>(command, pgxgen_cmdInt32_Q, value);
}

STDMETHODIMP RawCommand::put_Int32(BSTR command, LONG value) {
  CallFrame frame("_Cmd.Int32");
  return Send<ViInt32>(command, pgxgen_cmdInt, value);
}

// The answer's block fills the array from its start, at most its size; the number of bytes received is not
// handed back.
STDMETHODIMP RawCommand::Int8ArrGet(BSTR command, SAFEARRAY** array) {
  CallFrame frame("_Cmd.Int8ArrGet");
  if (!array || !*array) return ReportError(E_POINTER);
  ByteArrayData bytes(*array);
  if (FAILED(bytes.status())) return ReportError(bytes.status());
  TextBuffer query;
  if (HRESULT hr = Narrow(command, query); FAILED(hr)) return hr;
  ViInt32 received = 0;
  return CheckStatus(pgxgen_cmdInt8Arr_Q(GetSession(), query.c_str(), bytes.count(),
                                         reinterpret_cast<ViInt8*>(bytes.data()), &received));
}

STDMETHODIMP RawCommand::Int8ArrPut(BSTR command, SAFEARRAY** array) {
  CallFrame frame("_Cmd.Int8ArrPut");
  if (!array || !*array) return ReportError(E_POINTER);
  ByteArrayData bytes(*array);
  if (FAILED(bytes.status())) return ReportError(bytes.status());
  TextBuffer header;
  if (HRESULT hr = Narrow(command, header); FAILED(hr)) return hr;
  return CheckStatus(pgxgen_cmdInt8Arr(GetSession(), header.c_str(),
                                       reinterpret_cast<const ViInt8*>(bytes.data()), bytes.count()));
}

STDMETHODIMP RawCommand::get_Real32(BSTR command, FLOAT* value) {
  CallFrame frame("_Cmd.Real32");
  if (!value) return ReportError(E_POINTER);
  DOUBLE wide = 0;
  if (HRESULT hr = Query<ViReal64>(command, pgxgen_cmdReal64_Q, &wide); FAILED(hr)) return hr;
  *value = static_cast<FLOAT>(wide);
  return S_OK;
}

STDMETHODIMP RawCommand::put_Real32(BSTR command, FLOAT value) {
  CallFrame frame("_Cmd.Real32");
  return Send<ViReal64>(command, pgxgen_cmdReal, value);
}

STDMETHODIMP RawCommand::get_Real64(BSTR command, DOUBLE* value) {
  CallFrame frame("_Cmd.Real64");
  return Query<ViReal64>(command, pgxgen_cmdReal64_Q, value);
}

STDMETHODIMP RawCommand::put_Real64(BSTR command, DOUBLE value) {
  CallFrame frame("_Cmd.Real64");
  return Send<ViReal64>(command, pgxgen_cmdReal, value);
}

// The answer is read into 256 characters (255 and the terminator); a longer one comes back cut there, and a
// character that the cut split is left out rather than turned into other characters.
STDMETHODIMP RawCommand::get_String(BSTR command, BSTR* value) {
  CallFrame frame("_Cmd.String");
  if (!value) return ReportError(E_POINTER);
  TextBuffer query;
  if (HRESULT hr = Narrow(command, query); FAILED(hr)) return hr;
  TextBuffer answer;
  if (HRESULT hr = answer.Reserve(TextBuffer::kAnswerSize); FAILED(hr)) return ReportError(hr);
  const auto size = static_cast<ViInt32>(TextBuffer::kAnswerSize);
  if (HRESULT hr = CheckStatus(pgxgen_cmdString_Q(GetSession(), query.c_str(), size, answer.Data()));
      FAILED(hr))
    return hr;
  answer.TakeWrittenText();
  if (answer.size() + 1 >= TextBuffer::kAnswerSize) answer.DropSplitCharacter();
  BSTR text = nullptr;
  if (HRESULT hr = answer.ToBstr(&text); FAILED(hr)) return ReportError(hr);
  *value = text;
  return S_OK;
}

STDMETHODIMP RawCommand::put_String(BSTR command, BSTR value) {
  CallFrame frame("_Cmd.String");
  TextBuffer header, text;
  if (HRESULT hr = Narrow(command, header); FAILED(hr)) return hr;
  if (HRESULT hr = Narrow(value, text); FAILED(hr)) return hr;
  return CheckStatus(pgxgen_cmdString(GetSession(), header.c_str(), text.c_str()));
}

// The unsigned 16-bit answer is widened: 65535 stays 65535.
STDMETHODIMP RawCommand::get_UInt16(BSTR command, LONG* value) {
  CallFrame frame("_Cmd.UInt16");
  if (!value) return ReportError(E_POINTER);
  ViUInt16 answer = 0;
  if (HRESULT hr = Query<ViUInt16>(command, pgxgen_cmdUInt16_Q, &answer); FAILED(hr)) return hr;
  *value = answer;
  return S_OK;
}

STDMETHODIMP RawCommand::put_UInt16(BSTR command, LONG value) {
  CallFrame frame("_Cmd.UInt16");
  return Send<ViUInt32>(command, pgxgen_cmdUInt, static_cast<ViUInt32>(value));
}

// The 32 bits of the unsigned answer: above 2^31 - 1 the long reads negative.
STDMETHODIMP RawCommand::get_UInt32(BSTR command, LONG* value) {
  CallFrame frame("_Cmd.UInt32");
  if (!value) return ReportError(E_POINTER);
  ViUInt32 answer = 0;
  if (HRESULT hr = Query<ViUInt32>(command, pgxgen_cmdUInt32_Q, &answer); FAILED(hr)) return hr;
  *value = static_cast<LONG>(answer);
  return S_OK;
}

STDMETHODIMP RawCommand::put_UInt32(BSTR command, LONG value) {
  CallFrame frame("_Cmd.UInt32");
  return Send<ViUInt32>(command, pgxgen_cmdUInt, static_cast<ViUInt32>(value));
}

}  // namespace pgx::server
