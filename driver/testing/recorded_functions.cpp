// The pgxgen_* functions of the recording driver: each logs its call and answers with its scripted reply
// (recording_driver.h). Most are one line, a typed call; those with answers of their own kind (sessions,
// the error queue, raw queries, arrays) are written out below their group.

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

#include "driver/pgxgen.h"
#include "driver/testing/recording_state.h"

namespace {

using namespace pgx::driver::testing::recording;
using pgx::driver::testing::Reply;

// The size of the buffers documented as [256].
constexpr std::size_t kFixedBuffer = 256;

template <class T>
void describe(Invocation& call, T argument) {
  if constexpr (std::is_same_v<T, const char*>) {
    call.describe_text(argument);
  } else if constexpr (std::is_floating_point_v<T>) {
    call.describe_real(argument);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    call.describe_number(argument);
  } else if constexpr (std::is_integral_v<T>) {
    call.describe_unsigned(argument);
  } else {
    static_assert(std::is_pointer_v<T>, "an argument is a number, a text or an out-parameter");
  }
}

template <class T>
bool is_null(T argument) {
  if constexpr (std::is_pointer_v<T>) {
    return argument == nullptr;
  } else {
    return false;
  }
}

// The position of the first null pointer among the arguments after the session (which is 1), or 0.
template <class... Args>
int first_null(Args... arguments) {
  int position = 1;
  int found = 0;
  ((++position, (found == 0 && is_null(arguments)) ? void(found = position) : void()), ...);
  return found;
}

// Writes a reply's out-values into the out-parameters, in order.
class OutValues {
 public:
  explicit OutValues(const Reply& reply) : reply_(reply) {}

  template <class T>
  void write(T argument) {
    if constexpr (std::is_same_v<T, char*>) {
      copy_text(argument, kFixedBuffer, next_text());
    } else if constexpr (std::is_pointer_v<T> && !std::is_const_v<std::remove_pointer_t<T>>) {
      *argument = out_value<std::remove_pointer_t<T>>(next_value());
    }
  }

 private:
  double next_value() { return value_ < reply_.values.size() ? reply_.values[value_++] : 0.0; }
  std::string_view next_text() {
    return text_ < reply_.texts.size() ? reply_.texts[text_++] : std::string_view();
  }

  const Reply& reply_;
  std::size_t value_ = 0;
  std::size_t text_ = 0;
};

// A call whose reply is looked up for `command` (null: by function only) and whose out-parameters are
// filled from the reply in order: numbers from its values, [256] texts from its texts.
template <class... Args>
ViStatus recorded(Function function, const char* command, ViSession vi, Args... arguments) {
  Invocation call(function, &vi);
  (describe(call, arguments), ...);
  if (const int position = first_null(arguments...)) return parameter_error(position);
  const Reply& reply = call.reply(command);
  if (reply.status < VI_SUCCESS) return reply.status;
  OutValues out(reply);
  (out.write(arguments), ...);
  return reply.status;
}

// A raw query with a numeric answer: values[0], else texts[0] read as the instrument's answer.
template <class T>
ViStatus query_number(Function function, ViSession vi, ViConstString query, T* value) {
  Invocation call(function, &vi);
  call.describe_text(query);
  if (query == nullptr) return parameter_error(2);
  if (value == nullptr) return parameter_error(3);
  const Reply& reply = call.reply(query);
  if (reply.status < VI_SUCCESS) return reply.status;
  if (!reply.values.empty() || reply.texts.empty()) {
    *value = out_value<T>(reply.values.empty() ? 0.0 : reply.values[0]);
    return reply.status;
  }
  if constexpr (std::is_floating_point_v<T>) {
    const auto parsed = parse_real(reply.texts[0]);
    if (!parsed) return PGXGEN_ERROR_INVALID_RESPONSE;
    *value = *parsed;
  } else {
    const auto parsed = parse_integer(reply.texts[0]);
    if (!parsed || *parsed < std::numeric_limits<T>::min() || *parsed > std::numeric_limits<T>::max()) {
      return PGXGEN_ERROR_INVALID_RESPONSE;
    }
    *value = static_cast<T>(*parsed);
  }
  return reply.status;
}

std::string_view first_text(const Reply& reply) {
  return reply.texts.empty() ? std::string_view() : std::string_view(reply.texts[0]);
}

}  // namespace

// Defines pgxgen_<name>(params); the arguments after `params` are the parameter names, the session first.
#define PGX_TYPED(name, params, ...)                       \
  ViStatus pgxgen_##name params {                          \
    return recorded(Function::name, nullptr, __VA_ARGS__); \
  }
// The same for a raw command, whose replies are also looked up by the text `key`.
#define PGX_RAW(name, params, key, ...)                \
  ViStatus pgxgen_##name params {                      \
    return recorded(Function::name, key, __VA_ARGS__); \
  }

extern "C" {

// ---- Sessions ----

ViStatus pgxgen_init(ViConstString resourceName, ViBoolean idQuery, ViBoolean reset, ViSession* vi) {
  Invocation call(Function::init, nullptr);
  call.describe_text(resourceName);
  call.describe_unsigned(idQuery);
  call.describe_unsigned(reset);
  if (vi != nullptr) *vi = VI_NULL;
  if (resourceName == nullptr) return parameter_error(1);
  if (vi == nullptr) return parameter_error(4);
  const Reply& reply = call.reply();
  if (reply.status < VI_SUCCESS) return reply.status;
  *vi = reply.values.empty() ? ViSession{1} : out_value<ViSession>(reply.values[0]);
  return reply.status;
}

PGX_TYPED(close, (ViSession vi), vi)
PGX_TYPED(reset, (ViSession vi), vi)
PGX_TYPED(dcl, (ViSession vi), vi)
PGX_TYPED(self_test, (ViSession vi, ViInt16* result, ViChar message[]), vi, result, message)
PGX_TYPED(revision_query, (ViSession vi, ViChar driverRevision[], ViChar instrumentRevision[]), vi,
          driverRevision, instrumentRevision)
PGX_TYPED(timeOut, (ViSession vi, ViInt32 milliseconds), vi, milliseconds)
PGX_TYPED(timeOut_Q, (ViSession vi, ViInt32* milliseconds), vi, milliseconds)
PGX_TYPED(opc_Q, (ViSession vi, ViBoolean* complete), vi, complete)

// ---- Errors ----

ViStatus pgxgen_error_message(ViSession vi, ViStatus status, ViChar message[]) {
  Invocation call(Function::error_message, &vi);
  call.describe_status(status);
  if (message == nullptr) return parameter_error(3);
  const Reply& reply = call.reply();
  if (reply.status < VI_SUCCESS) return reply.status;
  const auto& messages = call.state().messages;
  if (!reply.texts.empty()) {
    copy_text(message, kFixedBuffer, reply.texts[0]);
  } else if (const auto found = messages.find(status); found != messages.end()) {
    copy_text(message, kFixedBuffer, found->second);
  } else {
    copy_text(message, kFixedBuffer, default_message(status).view());
  }
  return reply.status;
}

ViStatus pgxgen_error_query(ViSession vi, ViInt32* code, ViChar message[]) {
  Invocation call(Function::error_query, &vi);
  if (code == nullptr) return parameter_error(2);
  if (message == nullptr) return parameter_error(3);
  const Reply& reply = call.reply();
  if (reply.status < VI_SUCCESS) return reply.status;
  auto& errors = call.state().instrument_errors;
  if (errors.empty()) {
    *code = 0;
    copy_text(message, kFixedBuffer, "No error");
  } else {
    *code = errors.front().code;
    copy_text(message, kFixedBuffer, errors.front().message);
    errors.pop_front();
  }
  return reply.status;
}

PGX_TYPED(errorQueryDetect, (ViSession vi, ViBoolean on), vi, on)
PGX_TYPED(errorQueryDetect_Q, (ViSession vi, ViBoolean* on), vi, on)

// ---- Transactions ----

PGX_TYPED(transactionStart, (ViSession vi), vi)
PGX_TYPED(transactionFinish, (ViSession vi), vi)
PGX_TYPED(transactionCancel, (ViSession vi), vi)
PGX_TYPED(transaction_Q, (ViSession vi, ViBoolean* active, ViInt32* byteCount), vi, active, byteCount)

// ---- Raw commands ----

PGX_RAW(cmd, (ViSession vi, ViConstString command), command, vi, command)
PGX_RAW(cmdInt, (ViSession vi, ViConstString header, ViInt32 value), header, vi, header, value)
PGX_RAW(cmdUInt, (ViSession vi, ViConstString header, ViUInt32 value), header, vi, header, value)
PGX_RAW(cmdReal, (ViSession vi, ViConstString header, ViReal64 value), header, vi, header, value)
PGX_RAW(cmdString, (ViSession vi, ViConstString header, ViConstString value), header, vi, header, value)

ViStatus pgxgen_cmdInt8Arr(ViSession vi, ViConstString header, const ViInt8 data[], ViInt32 count) {
  Invocation call(Function::cmdInt8Arr, &vi);
  call.describe_text(header);
  call.describe_bytes(data, count);
  call.describe_number(count);
  if (header == nullptr) return parameter_error(2);
  if (data == nullptr && count > 0) return parameter_error(3);
  if (count < 0) return parameter_error(4);
  return call.reply(header).status;
}

ViStatus pgxgen_cmdInt16_Q(ViSession vi, ViConstString query, ViInt16* value) {
  return query_number(Function::cmdInt16_Q, vi, query, value);
}

ViStatus pgxgen_cmdInt32_Q(ViSession vi, ViConstString query, ViInt32* value) {
  return query_number(Function::cmdInt32_Q, vi, query, value);
}

ViStatus pgxgen_cmdUInt16_Q(ViSession vi, ViConstString query, ViUInt16* value) {
  return query_number(Function::cmdUInt16_Q, vi, query, value);
}

ViStatus pgxgen_cmdUInt32_Q(ViSession vi, ViConstString query, ViUInt32* value) {
  return query_number(Function::cmdUInt32_Q, vi, query, value);
}

ViStatus pgxgen_cmdReal64_Q(ViSession vi, ViConstString query, ViReal64* value) {
  return query_number(Function::cmdReal64_Q, vi, query, value);
}

ViStatus pgxgen_cmdString_Q(ViSession vi, ViConstString query, ViInt32 size, ViChar buffer[]) {
  Invocation call(Function::cmdString_Q, &vi);
  call.describe_text(query);
  call.describe_number(size);
  if (query == nullptr) return parameter_error(2);
  if (size < 1) return parameter_error(3);
  if (buffer == nullptr) return parameter_error(4);
  const Reply& reply = call.reply(query);
  if (reply.status < VI_SUCCESS) return reply.status;
  const auto capacity = static_cast<std::size_t>(size);
  if (reply.texts.empty() && !reply.values.empty()) {
    copy_text(buffer, capacity, format_real(reply.values[0]).view());
  } else {
    copy_text(buffer, capacity, first_text(reply));
  }
  return reply.status;
}

ViStatus pgxgen_cmdInt8Arr_Q(ViSession vi, ViConstString query, ViInt32 size, ViInt8 buffer[],
                             ViInt32* count) {
  Invocation call(Function::cmdInt8Arr_Q, &vi);
  call.describe_text(query);
  call.describe_number(size);
  if (query == nullptr) return parameter_error(2);
  if (size < 0) return parameter_error(3);
  if (buffer == nullptr && size > 0) return parameter_error(4);
  if (count == nullptr) return parameter_error(5);
  const Reply& reply = call.reply(query);
  if (reply.status < VI_SUCCESS) return reply.status;
  const std::string_view bytes = first_text(reply);
  const std::size_t copied = std::min(bytes.size(), static_cast<std::size_t>(size));
  if (copied > 0) std::memcpy(buffer, bytes.data(), copied);
  *count = static_cast<ViInt32>(copied);
  return reply.status;
}

// ---- Levels, limits and outputs ----

PGX_TYPED(levelHighLow, (ViSession vi, ViInt16 channel, ViInt16 levelType, ViReal64 high, ViReal64 low), vi,
          channel, levelType, high, low)
PGX_TYPED(levelHighLow_Q, (ViSession vi, ViInt16 channel, ViInt16* levelType, ViReal64* high, ViReal64* low),
          vi, channel, levelType, high, low)
PGX_TYPED(levelOffsetAmplitude,
          (ViSession vi, ViInt16 channel, ViInt16 levelType, ViReal64 offset, ViReal64 amplitude), vi,
          channel, levelType, offset, amplitude)
PGX_TYPED(levelOffsetAmplitude_Q,
          (ViSession vi, ViInt16 channel, ViInt16* levelType, ViReal64* offset, ViReal64* amplitude), vi,
          channel, levelType, offset, amplitude)
PGX_TYPED(limitState, (ViSession vi, ViInt16 channel, ViBoolean on), vi, channel, on)
PGX_TYPED(limitState_Q, (ViSession vi, ViInt16 channel, ViBoolean* on), vi, channel, on)
PGX_TYPED(outputStateNormal, (ViSession vi, ViInt16 channel, ViBoolean on), vi, channel, on)
PGX_TYPED(outputStateNormal_Q, (ViSession vi, ViInt16 channel, ViBoolean* on), vi, channel, on)
PGX_TYPED(outputStateComplement, (ViSession vi, ViInt16 channel, ViBoolean on), vi, channel, on)
PGX_TYPED(outputStateComplement_Q, (ViSession vi, ViInt16 channel, ViBoolean* on), vi, channel, on)
PGX_TYPED(outputPolarity, (ViSession vi, ViInt16 channel, ViInt16 polarity), vi, channel, polarity)
PGX_TYPED(outputPolarity_Q, (ViSession vi, ViInt16 channel, ViInt16* polarity), vi, channel, polarity)
PGX_TYPED(configOutputImpedance, (ViSession vi, ViInt16 channel, ViReal64 ohms), vi, channel, ohms)
PGX_TYPED(configOutputImpedance_Q, (ViSession vi, ViInt16 channel, ViReal64* ohms), vi, channel, ohms)
PGX_TYPED(configOutputLoadCompensation, (ViSession vi, ViInt16 channel, ViReal64 ohms), vi, channel, ohms)
PGX_TYPED(configOutputLoadCompensation_Q, (ViSession vi, ViInt16 channel, ViReal64* ohms), vi, channel, ohms)
PGX_TYPED(outputMath_Q, (ViSession vi, ViInt16* math), vi, math)
PGX_TYPED(modePatternDataFormat, (ViSession vi, ViInt16 channel, ViInt16 format), vi, channel, format)
PGX_TYPED(modePatternDataFormat_Q, (ViSession vi, ViInt16 channel, ViInt16* format), vi, channel, format)

// ---- Timing ----

PGX_TYPED(timeWidth, (ViSession vi, ViInt16 channel, ViReal64 seconds), vi, channel, seconds)
PGX_TYPED(timeWidth_Q, (ViSession vi, ViInt16 channel, ViReal64* seconds), vi, channel, seconds)
PGX_TYPED(timeWidthDutyCycle, (ViSession vi, ViInt16 channel, ViReal64 percent), vi, channel, percent)
PGX_TYPED(timeWidthDutyCycle_Q, (ViSession vi, ViInt16 channel, ViReal64* percent), vi, channel, percent)
PGX_TYPED(timeWidthTrailingDelay, (ViSession vi, ViInt16 channel, ViReal64 seconds), vi, channel, seconds)
PGX_TYPED(timeWidthTrailingDelay_Q, (ViSession vi, ViInt16 channel, ViReal64* seconds), vi, channel, seconds)
PGX_TYPED(timeWidthHold, (ViSession vi, ViInt16 channel, ViInt16 hold), vi, channel, hold)
PGX_TYPED(timeWidthHold_Q, (ViSession vi, ViInt16 channel, ViInt16* hold), vi, channel, hold)
PGX_TYPED(modePulseType, (ViSession vi, ViInt16 channel, ViInt16 pulseType), vi, channel, pulseType)
PGX_TYPED(modePulseType_Q, (ViSession vi, ViInt16 channel, ViInt16* pulseType), vi, channel, pulseType)
PGX_TYPED(timeDelay, (ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value), vi, channel, unit, value)
PGX_TYPED(timeDelay_Q, (ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value), vi, channel, unit,
          value)
PGX_TYPED(timeDelayHold, (ViSession vi, ViInt16 channel, ViInt16 hold), vi, channel, hold)
PGX_TYPED(timeDelayHold_Q, (ViSession vi, ViInt16 channel, ViInt16* hold), vi, channel, hold)
PGX_TYPED(timeDelayDouble, (ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value), vi, channel, unit,
          value)
PGX_TYPED(timeDelayDouble_Q, (ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value), vi, channel,
          unit, value)
PGX_TYPED(timeDelayDoubleHold, (ViSession vi, ViInt16 channel, ViInt16 hold), vi, channel, hold)
PGX_TYPED(timeDelayDoubleHold_Q, (ViSession vi, ViInt16 channel, ViInt16* hold), vi, channel, hold)
PGX_TYPED(timeEdgeLeading, (ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value), vi, channel, unit,
          value)
PGX_TYPED(timeEdgeLeading_Q, (ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value), vi, channel,
          unit, value)
PGX_TYPED(timeEdgeTrailing, (ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value), vi, channel, unit,
          value)
PGX_TYPED(timeEdgeTrailing_Q, (ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value), vi, channel,
          unit, value)
PGX_TYPED(timeEdgeTrailingCoupling, (ViSession vi, ViInt16 channel, ViInt16 coupling), vi, channel, coupling)
PGX_TYPED(timeEdgeTrailingCoupling_Q, (ViSession vi, ViInt16 channel, ViInt16* coupling), vi, channel,
          coupling)
PGX_TYPED(timeEdgeHold, (ViSession vi, ViInt16 channel, ViInt16 hold), vi, channel, hold)
PGX_TYPED(timeEdgeHold_Q, (ViSession vi, ViInt16 channel, ViInt16* hold), vi, channel, hold)
PGX_TYPED(timeCalibration, (ViSession vi), vi)
PGX_TYPED(timeFrequencyMeasure, (ViSession vi), vi)
PGX_TYPED(timePeriodMeasure, (ViSession vi), vi)

// ---- Modes ----

PGX_TYPED(modeContinuousPulses, (ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope), vi, periodSource,
          triggerSlope)
PGX_TYPED(modeContinuousBurst,
          (ViSession vi, ViInt32 burstLength, ViInt16 periodSource, ViInt16 triggerSlope), vi, burstLength,
          periodSource, triggerSlope)
PGX_TYPED(modeContinuousPattern, (ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope), vi, periodSource,
          triggerSlope)
PGX_TYPED(modeGatedPulses,
          (ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope, ViInt16 armSource, ViInt16 gateLevel),
          vi, periodSource, triggerSlope, armSource, gateLevel)
PGX_TYPED(modeGatedBurst,
          (ViSession vi, ViInt32 burstLength, ViInt16 periodSource, ViInt16 triggerSlope, ViInt16 armSource,
           ViInt16 gateLevel),
          vi, burstLength, periodSource, triggerSlope, armSource, gateLevel)
PGX_TYPED(modeGatedPattern,
          (ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope, ViInt16 armSource, ViInt16 gateLevel),
          vi, periodSource, triggerSlope, armSource, gateLevel)
PGX_TYPED(modeTriggeredPulses, (ViSession vi, ViInt16 armSource, ViInt16 armSlope), vi, armSource, armSlope)
PGX_TYPED(modeTriggeredBurst,
          (ViSession vi, ViInt32 burstLength, ViInt16 periodSource, ViInt16 triggerSlope, ViInt16 armSource,
           ViInt16 armSlope, ViInt16 pllFormat, ViReal64 pllValue),
          vi, burstLength, periodSource, triggerSlope, armSource, armSlope, pllFormat, pllValue)
PGX_TYPED(modeTriggeredPattern,
          (ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope, ViInt16 armSource, ViInt16 armSlope,
           ViInt16 pllFormat, ViReal64 pllValue),
          vi, periodSource, triggerSlope, armSource, armSlope, pllFormat, pllValue)

// ---- Trigger output, VXI trigger lines, PLL reference ----

PGX_TYPED(configTriggerOutLevel, (ViSession vi, ViInt16 output, ViInt16 level), vi, output, level)
PGX_TYPED(configTriggerOutLevel_Q, (ViSession vi, ViInt16 output, ViInt16* level), vi, output, level)
PGX_TYPED(configTriggerOutSource_Q, (ViSession vi, ViInt16* source), vi, source)
PGX_TYPED(outputSourceVxiTrigger, (ViSession vi, ViInt16 source), vi, source)
PGX_TYPED(outputSourceVxiTrigger_Q, (ViSession vi, ViInt16* source), vi, source)
PGX_TYPED(outputEnableVxiTrigger, (ViSession vi, ViInt16 line), vi, line)
PGX_TYPED(outputEnableVxiTrigger_Q, (ViSession vi, ViInt16* line), vi, line)
PGX_TYPED(configPllReference, (ViSession vi, ViInt16 source, ViReal64 externalFrequency), vi, source,
          externalFrequency)
PGX_TYPED(configPllReference_Q, (ViSession vi, ViInt16* source, ViReal64* externalFrequency), vi, source,
          externalFrequency)

// ---- Pattern data ----

ViStatus pgxgen_patternDataDownloadBuffer(ViSession vi, ViInt16 dataChannel, const ViByte data[],
                                          ViInt32 count) {
  Invocation call(Function::patternDataDownloadBuffer, &vi);
  call.describe_number(dataChannel);
  call.describe_bytes(data, count);
  call.describe_number(count);
  if (data == nullptr && count > 0) return parameter_error(3);
  if (count < 0) return parameter_error(4);
  return call.reply().status;
}

ViStatus pgxgen_patternDataDownloadBuffer_Q(ViSession vi, ViInt16 dataChannel, ViByte buffer[],
                                            ViInt32* count, ViInt32 capacity, ViBoolean ascii) {
  Invocation call(Function::patternDataDownloadBuffer_Q, &vi);
  call.describe_number(dataChannel);
  call.describe_number(capacity);
  call.describe_unsigned(ascii);
  if (buffer == nullptr && capacity > 0) return parameter_error(3);
  if (count == nullptr) return parameter_error(4);
  if (capacity < 0) return parameter_error(5);
  const Reply& reply = call.reply();
  if (reply.status < VI_SUCCESS) return reply.status;
  const std::string_view positions = first_text(reply);
  const std::size_t filled = std::min(positions.size(), static_cast<std::size_t>(capacity));
  for (std::size_t i = 0; i < filled; ++i) {
    const bool one = positions[i] == 1 || positions[i] == '1';
    buffer[i] = static_cast<ViByte>(ascii ? (one ? '1' : '0') : (one ? 1 : 0));
  }
  *count = static_cast<ViInt32>(filled);
  return reply.status;
}

PGX_TYPED(patternDataDownloadFile, (ViSession vi, ViInt16 dataChannel, ViConstString fileName), vi,
          dataChannel, fileName)
PGX_TYPED(patternDataDownloadFile_Q,
          (ViSession vi, ViInt16 dataChannel, ViBoolean ascii, ViConstString fileName), vi, dataChannel,
          ascii, fileName)
PGX_TYPED(patternDataPRBS, (ViSession vi, ViInt16 dataChannel, ViInt16 exponent, ViInt32 length), vi,
          dataChannel, exponent, length)
PGX_TYPED(patternDataPreset, (ViSession vi, ViInt16 dataChannel, ViInt32 divider, ViInt32 length), vi,
          dataChannel, divider, length)
PGX_TYPED(patternUpdate, (ViSession vi, ViInt16 mode), vi, mode)
PGX_TYPED(patternUpdate_Q, (ViSession vi, ViInt16* mode), vi, mode)

// ---- Settings ----

PGX_TYPED(settingStore, (ViSession vi, ViInt16 memory), vi, memory)
PGX_TYPED(settingRecall, (ViSession vi, ViInt16 memory), vi, memory)
PGX_TYPED(settingFile, (ViSession vi, ViConstString fileName), vi, fileName)
PGX_TYPED(settingFile_Q, (ViSession vi, ViConstString fileName), vi, fileName)

}  // extern "C"
