// Pattern data (buffers, files, PRBS, presets), the pattern update mode, setting memories and setting
// files.

#include <string>

#include "driver/files.h"
#include "driver/typed_support.h"

using namespace pgx::driver;

namespace {

const Keywords kUpdate = {{PGXGEN_UPDATE_OFF, "OFF"},
                          {PGXGEN_UPDATE_ONCE, "ONCE"},
                          {PGXGEN_UPDATE_CONTINUOUS, "CONT", "CONTINUOUS"}};

constexpr ViInt32 kMaxPatternLength = 16384;
constexpr int kMinPrbsExponent = 7;
constexpr int kMaxPrbsExponent = 14;
constexpr int kMaxMemory = 9;
// Files larger than this are not pattern or setting files.
constexpr std::size_t kMaxFileSize = 1u << 20;

bool valid_data_channel(int channel) {
  return channel >= PGXGEN_DATA_ALL && channel <= PGXGEN_DATA_STROBE;
}

// The data channel is installed and its front-end (any, for the strobe and all channels) does patterns.
ViStatus check_data_channel(const Session& session, int channel) {
  if (channel == PGXGEN_DATA_CHANNEL1 || channel == PGXGEN_DATA_CHANNEL2) {
    const ViStatus status = check_channel(session, channel, 2);
    if (status < VI_SUCCESS) return status;
    return check_supported(session, channel, kLackPattern);
  }
  return check_supported(session, 0, kLackPattern);
}

// "<header><k> <arguments>" for output k = 1, 2, 3 (strobe), or "<header>:ALL <arguments>" for every
// installed channel and the strobe at once.
void append_data_command(std::string& command, int channel, const char* node, std::string_view arguments) {
  command += ":DIG:PATT:";
  command += node;
  if (channel == PGXGEN_DATA_ALL) {
    command += ":ALL";
  } else {
    command += static_cast<char>('0' + channel);
  }
  command += ' ';
  command += arguments;
}

// Pattern positions as the instrument takes them: one byte 0 or 1 per position. Callers may give 0/1 or
// the characters '0'/'1'; files may also hold blanks and line breaks between positions.
ViStatus to_positions(const unsigned char* data, std::size_t count, bool allow_blanks,
                      std::string& positions) {
  positions.clear();
  positions.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char c = data[i];
    if (c == 0 || c == '0') {
      positions += '\0';
    } else if (c == 1 || c == '1') {
      positions += '\1';
    } else if (allow_blanks && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
      continue;
    } else {
      return PGXGEN_ERROR_PATTERN_DATA;
    }
  }
  return VI_SUCCESS;
}

ViStatus send_positions(Session& s, int channel, const std::string& positions) {
  if (positions.empty() || positions.size() > static_cast<std::size_t>(kMaxPatternLength)) {
    return PGXGEN_ERROR_PATTERN_LENGTH;
  }
  std::string block;
  append_block(block, positions.data(), positions.size());
  append_data_command(s.command(), channel, "DATA", block);
  return s.send();
}

// Reads the pattern of one data channel; positions come back as bytes 0/1.
ViStatus read_positions(Session& s, int channel, std::string_view& positions) {
  std::string& command = s.command();
  command += ":DIG:PATT:DATA";
  command += static_cast<char>('0' + channel);
  command += '?';
  std::string_view answer;
  const ViStatus status = s.query(answer);
  if (status < VI_SUCCESS) return status;
  const auto block = parse_block(answer);
  if (!block) return PGXGEN_ERROR_INVALID_RESPONSE;
  for (char c : *block) {
    if (c != 0 && c != 1 && c != '0' && c != '1') return PGXGEN_ERROR_INVALID_RESPONSE;
  }
  positions = *block;
  return status;
}

char position_as(char position, bool ascii) {
  const bool set = position == 1 || position == '1';
  return ascii ? (set ? '1' : '0') : static_cast<char>(set ? 1 : 0);
}

ViStatus send_memory_command(ViSession vi, const char* header, ViInt16 memory) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (memory < 0 || memory > kMaxMemory) return PGXGEN_ERROR_MEMORY_NUMBER;
    std::string& command = s.command();
    command = header;
    append_int(command, memory);
    return s.send();
  });
}

}  // namespace

extern "C" {

ViStatus pgxgen_patternDataDownloadBuffer(ViSession vi, ViInt16 dataChannel, const ViByte data[],
                                          ViInt32 count) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (!valid_data_channel(dataChannel)) return parameter_error(2);
    if (data == nullptr) return parameter_error(3);
    if (count < 0) return parameter_error(4);
    ViStatus status = check_data_channel(s, dataChannel);
    if (status < VI_SUCCESS) return status;
    std::string positions;
    status = to_positions(data, static_cast<std::size_t>(count), false, positions);
    if (status < VI_SUCCESS) return status;
    return send_positions(s, dataChannel, positions);
  });
}

ViStatus pgxgen_patternDataDownloadBuffer_Q(ViSession vi, ViInt16 dataChannel, ViByte buffer[],
                                            ViInt32* count, ViInt32 capacity, ViBoolean ascii) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    // The pattern of all channels at once cannot be read back; one data channel at a time.
    if (!valid_data_channel(dataChannel) || dataChannel == PGXGEN_DATA_ALL) return parameter_error(2);
    if (buffer == nullptr && capacity > 0) return parameter_error(3);
    if (count == nullptr) return parameter_error(4);
    if (capacity < 0) return parameter_error(5);
    if (ascii > 1) return parameter_error(6);
    ViStatus status = check_data_channel(s, dataChannel);
    if (status < VI_SUCCESS) return status;
    std::string_view positions;
    status = read_positions(s, dataChannel, positions);
    if (status < VI_SUCCESS) return status;
    const std::size_t copied = std::min<std::size_t>(positions.size(), static_cast<std::size_t>(capacity));
    for (std::size_t i = 0; i < copied; ++i)
      buffer[i] = static_cast<ViByte>(position_as(positions[i], ascii != 0));
    *count = static_cast<ViInt32>(copied);
    return status;
  });
}

ViStatus pgxgen_patternDataDownloadFile(ViSession vi, ViInt16 dataChannel, ViConstString fileName) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (!valid_data_channel(dataChannel)) return parameter_error(2);
    if (fileName == nullptr) return parameter_error(3);
    ViStatus status = check_data_channel(s, dataChannel);
    if (status < VI_SUCCESS) return status;
    std::string content;
    status = read_file(fileName, kMaxFileSize, content);
    if (status < VI_SUCCESS) return status;
    std::string positions;
    status =
        to_positions(reinterpret_cast<const unsigned char*>(content.data()), content.size(), true, positions);
    if (status < VI_SUCCESS) return PGXGEN_ERROR_FILE_FORMAT;
    return send_positions(s, dataChannel, positions);
  });
}

ViStatus pgxgen_patternDataDownloadFile_Q(ViSession vi, ViInt16 dataChannel, ViBoolean ascii,
                                          ViConstString fileName) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (!valid_data_channel(dataChannel) || dataChannel == PGXGEN_DATA_ALL) return parameter_error(2);
    if (ascii > 1) return parameter_error(3);
    if (fileName == nullptr) return parameter_error(4);
    ViStatus status = check_data_channel(s, dataChannel);
    if (status < VI_SUCCESS) return status;
    std::string_view positions;
    status = read_positions(s, dataChannel, positions);
    if (status < VI_SUCCESS) return status;
    std::string content;
    content.reserve(positions.size() + 1);
    for (char position : positions) content += position_as(position, ascii != 0);
    if (ascii) content += '\n';
    const ViStatus file_status = write_file(fileName, content);
    return file_status < VI_SUCCESS ? file_status : status;
  });
}

ViStatus pgxgen_patternDataPRBS(ViSession vi, ViInt16 dataChannel, ViInt16 exponent, ViInt32 length) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (!valid_data_channel(dataChannel)) return parameter_error(2);
    ViStatus status = check_data_channel(s, dataChannel);
    if (status < VI_SUCCESS) return status;
    if (exponent < kMinPrbsExponent || exponent > kMaxPrbsExponent) return PGXGEN_ERROR_PRBS_EXPONENT;
    if (length < 1 || length > kMaxPatternLength) return PGXGEN_ERROR_PATTERN_LENGTH;
    std::string arguments;
    append_int(arguments, exponent);
    arguments += ',';
    append_int(arguments, length);
    append_data_command(s.command(), dataChannel, "PRBS", arguments);
    return s.send();
  });
}

ViStatus pgxgen_patternDataPreset(ViSession vi, ViInt16 dataChannel, ViInt32 divider, ViInt32 length) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (!valid_data_channel(dataChannel)) return parameter_error(2);
    if (divider < 1) return parameter_error(3);
    if (divider > kMaxPatternLength) return PGXGEN_ERROR_PATTERN_LENGTH;
    ViStatus status = check_data_channel(s, dataChannel);
    if (status < VI_SUCCESS) return status;
    if (length < 1 || length > kMaxPatternLength) return PGXGEN_ERROR_PATTERN_LENGTH;
    std::string arguments;
    append_int(arguments, divider);
    arguments += ',';
    append_int(arguments, length);
    append_data_command(s.command(), dataChannel, "PRES", arguments);
    return s.send();
  });
}

ViStatus pgxgen_patternUpdate(ViSession vi, ViInt16 mode) {
  return set_keyword(vi, kNoChannel, mode, kUpdate, ChannelSetting{":DIG:PATT:UPD", "", kLackPattern});
}

ViStatus pgxgen_patternUpdate_Q(ViSession vi, ViInt16* mode) {
  return get_keyword(vi, kNoChannel, mode, kUpdate, ChannelSetting{":DIG:PATT:UPD", "", kLackPattern});
}

ViStatus pgxgen_settingStore(ViSession vi, ViInt16 memory) {
  return send_memory_command(vi, "*SAV ", memory);
}

ViStatus pgxgen_settingRecall(ViSession vi, ViInt16 memory) {
  return send_memory_command(vi, "*RCL ", memory);
}

ViStatus pgxgen_settingFile(ViSession vi, ViConstString fileName) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (fileName == nullptr) return parameter_error(2);
    std::string content;
    ViStatus status = read_file(fileName, kMaxFileSize, content);
    if (status < VI_SUCCESS) return status;
    // One learn string: a single program message, possibly followed by a line break.
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) content.pop_back();
    if (content.empty() || content.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos) {
      return PGXGEN_ERROR_FILE_FORMAT;
    }
    s.command() = content;
    return s.send();
  });
}

ViStatus pgxgen_settingFile_Q(ViSession vi, ViConstString fileName) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (fileName == nullptr) return parameter_error(2);
    s.command() = "*LRN?";
    std::string_view answer;
    const ViStatus status = s.query(answer);
    if (status < VI_SUCCESS) return status;
    if (answer.empty() || answer.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos) {
      return PGXGEN_ERROR_INVALID_RESPONSE;
    }
    std::string content(answer);
    content += '\n';
    const ViStatus file_status = write_file(fileName, content);
    return file_status < VI_SUCCESS ? file_status : status;
  });
}

}  // extern "C"
