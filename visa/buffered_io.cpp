#include "visa/buffered_io.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "visa/api_support.h"
#include "visa/session_io.h"

namespace pgx::visa {

ViStatus buffered_read(Object& session, ViByte* buf, ViUInt32 size, ViUInt32& count) {
  count = 0;
  SessionIo& b = *session.buffered;
  for (;;) {
    if (b.read_pos < b.read_data.size()) {
      std::size_t n = std::min<std::size_t>(size - count, b.read_data.size() - b.read_pos);
      std::memcpy(buf + count, b.read_data.data() + b.read_pos, n);
      b.read_pos += n;
      count += static_cast<ViUInt32>(n);
      // The bytes just taken end where the fill that brought them ended.
      if (b.read_pos == b.read_data.size() && b.read_ended != VI_SUCCESS_MAX_CNT) return b.read_ended;
    }
    if (count == size) return VI_SUCCESS_MAX_CNT;
    // Refill from the instrument.
    b.read_data.resize(std::max<ViUInt32>(b.read_buffer_size, 1));
    ViUInt32 got = 0;
    ViStatus status =
        session.connection->read(reinterpret_cast<ViByte*>(b.read_data.data()),
                                 static_cast<ViUInt32>(b.read_data.size()), got, call_settings(session));
    b.read_data.resize(got);
    b.read_pos = 0;
    b.read_ended = status < VI_SUCCESS ? VI_SUCCESS_MAX_CNT : status;
    if (status < VI_SUCCESS) {
      // Whatever came before the failure is the caller's.
      std::size_t n = std::min<std::size_t>(size - count, got);
      std::memcpy(buf + count, b.read_data.data(), n);
      b.read_pos = n;
      count += static_cast<ViUInt32>(n);
      return status;
    }
    if (got == 0) return status;  // an empty message
  }
}

namespace {

ViStatus send(Object& session, const ViByte* bytes, std::size_t size, bool end) {
  IoSettings io = call_settings(session);
  io.send_end = io.send_end && end;
  ViUInt32 sent = 0;
  return session.connection->write(bytes, static_cast<ViUInt32>(size), sent, io);
}

}  // namespace

ViStatus buffered_write(Object& session, const ViByte* buf, ViUInt32 size, ViUInt32& count) {
  count = 0;
  SessionIo& b = *session.buffered;
  const std::size_t full = std::max<ViUInt32>(b.write_buffer_size, 1);
  while (count < size) {
    if (b.write_data.size() >= full) {
      // A full buffer goes out without END when more is to follow; the last bytes wait for the flush that
      // sends them with END.
      ViStatus status =
          send(session, reinterpret_cast<const ViByte*>(b.write_data.data()), b.write_data.size(), false);
      b.write_data.clear();
      if (status < VI_SUCCESS) return status;
    }
    std::size_t n = std::min<std::size_t>(size - count, full - b.write_data.size());
    b.write_data.append(reinterpret_cast<const char*>(buf + count), n);
    count += static_cast<ViUInt32>(n);
  }
  return VI_SUCCESS;
}

ViStatus flush_write_buffer(Object& session) {
  SessionIo& b = *session.buffered;
  if (b.write_data.empty()) return VI_SUCCESS;
  ViStatus status =
      send(session, reinterpret_cast<const ViByte*>(b.write_data.data()), b.write_data.size(), true);
  b.write_data.clear();
  return status;
}

ViStatus flush_read_buffer(Object& session, bool to_end_of_message) {
  SessionIo& b = *session.buffered;
  const bool message_goes_on = !b.read_data.empty() && b.read_ended == VI_SUCCESS_MAX_CNT;
  b.read_data.clear();
  b.read_pos = 0;
  b.read_ended = VI_SUCCESS;
  if (!to_end_of_message || !message_goes_on) return VI_SUCCESS;
  std::vector<ViByte> scratch(4096);
  for (;;) {
    ViUInt32 got = 0;
    ViStatus status = session.connection->read(scratch.data(), static_cast<ViUInt32>(scratch.size()), got,
                                               call_settings(session));
    if (status != VI_SUCCESS_MAX_CNT) return status < VI_SUCCESS ? status : VI_SUCCESS;
  }
}

}  // namespace pgx::visa
