// Raw commands: any SCPI command or query, with the value typed by the caller.

#include <algorithm>
#include <cstring>
#include <limits>

#include "driver/api_support.h"

using namespace pgx::driver;

namespace {

// header, one blank, then whatever append(value) writes.
template <class Append>
ViStatus send_with_value(ViSession vi, ViConstString header, Append&& append) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (header == nullptr) return parameter_error(2);
    std::string& command = s.command();
    command = caller_text(header);
    command += ' ';
    const ViStatus status = append(command);
    if (status < VI_SUCCESS) return status;
    return s.send();
  });
}

// A raw query is one program message, answered by one response message: a line feed inside it (outside
// block data) would ask for answers that the call does not read, so it is refused before anything is sent.
template <class Read>
ViStatus read_answer(ViSession vi, ViConstString query, Read&& read) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (query == nullptr) return parameter_error(2);
    const std::string_view text = caller_text(query);
    if (!is_one_message(text)) return parameter_error(2);
    return read(s, text);
  });
}

template <class T>
ViStatus query_typed_integer(ViSession vi, ViConstString query, T* value) {
  return read_answer(vi, query, [&](Session& s, std::string_view text) -> ViStatus {
    if (value == nullptr) return parameter_error(3);
    s.command() = text;
    long long result = 0;
    const ViStatus status =
        query_integer(s, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), result);
    if (status >= VI_SUCCESS) *value = static_cast<T>(result);
    return status;
  });
}

}  // namespace

extern "C" {

ViStatus pgxgen_cmd(ViSession vi, ViConstString command) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (command == nullptr) return parameter_error(2);
    s.command() = caller_text(command);
    return s.send();
  });
}

ViStatus pgxgen_cmdInt(ViSession vi, ViConstString header, ViInt32 value) {
  return send_with_value(vi, header, [&](std::string& command) {
    append_int(command, value);
    return VI_SUCCESS;
  });
}

ViStatus pgxgen_cmdUInt(ViSession vi, ViConstString header, ViUInt32 value) {
  return send_with_value(vi, header, [&](std::string& command) {
    append_int(command, value);
    return VI_SUCCESS;
  });
}

ViStatus pgxgen_cmdReal(ViSession vi, ViConstString header, ViReal64 value) {
  return send_with_value(vi, header, [&](std::string& command) -> ViStatus {
    if (!is_finite(value)) return parameter_error(3);
    append_real(command, value);
    return VI_SUCCESS;
  });
}

ViStatus pgxgen_cmdString(ViSession vi, ViConstString header, ViConstString value) {
  return send_with_value(vi, header, [&](std::string& command) -> ViStatus {
    if (value == nullptr) return parameter_error(3);
    command += value;
    return VI_SUCCESS;
  });
}

ViStatus pgxgen_cmdInt8Arr(ViSession vi, ViConstString header, const ViInt8 data[], ViInt32 count) {
  return send_with_value(vi, header, [&](std::string& command) -> ViStatus {
    if (count < 0) return parameter_error(4);
    if (data == nullptr && count > 0) return parameter_error(3);
    append_block(command, data, static_cast<std::size_t>(count));
    return VI_SUCCESS;
  });
}

ViStatus pgxgen_cmdInt16_Q(ViSession vi, ViConstString query, ViInt16* value) {
  return query_typed_integer(vi, query, value);
}

ViStatus pgxgen_cmdInt32_Q(ViSession vi, ViConstString query, ViInt32* value) {
  return query_typed_integer(vi, query, value);
}

ViStatus pgxgen_cmdUInt16_Q(ViSession vi, ViConstString query, ViUInt16* value) {
  return query_typed_integer(vi, query, value);
}

ViStatus pgxgen_cmdUInt32_Q(ViSession vi, ViConstString query, ViUInt32* value) {
  return query_typed_integer(vi, query, value);
}

ViStatus pgxgen_cmdReal64_Q(ViSession vi, ViConstString query, ViReal64* value) {
  return read_answer(vi, query, [&](Session& s, std::string_view text) -> ViStatus {
    if (value == nullptr) return parameter_error(3);
    s.command() = text;
    double result = 0;
    const ViStatus status = query_real(s, result);
    if (status >= VI_SUCCESS) *value = result;
    return status;
  });
}

ViStatus pgxgen_cmdString_Q(ViSession vi, ViConstString query, ViInt32 size, ViChar buffer[]) {
  return read_answer(vi, query, [&](Session& s, std::string_view text) -> ViStatus {
    if (size < 1) return parameter_error(3);
    if (buffer == nullptr) return parameter_error(4);
    s.command() = text;
    std::string_view answer;
    const ViStatus status = s.query(answer);
    if (status >= VI_SUCCESS) copy_text(buffer, static_cast<std::size_t>(size), answer);
    return status;
  });
}

ViStatus pgxgen_cmdInt8Arr_Q(ViSession vi, ViConstString query, ViInt32 size, ViInt8 buffer[],
                             ViInt32* count) {
  return read_answer(vi, query, [&](Session& s, std::string_view text) -> ViStatus {
    if (size < 0) return parameter_error(3);
    if (buffer == nullptr && size > 0) return parameter_error(4);
    if (count == nullptr) return parameter_error(5);
    s.command() = text;
    std::string_view answer;
    const ViStatus status = s.query(answer);
    if (status < VI_SUCCESS) return status;
    const auto block = parse_block(answer);
    if (!block) return PGXGEN_ERROR_INVALID_RESPONSE;
    const std::size_t copied = std::min<std::size_t>(block->size(), static_cast<std::size_t>(size));
    if (copied > 0) std::memcpy(buffer, block->data(), copied);
    *count = static_cast<ViInt32>(copied);
    return status;
  });
}

}  // extern "C"
