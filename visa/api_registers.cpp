// The VISA entry points of register-based access: viIn*/viOut*, viMoveIn*/viMoveOut*, viMove, mapped
// windows with viPeek*/viPoke*, and shared memory.

#include <cstring>
#include <functional>
#include <type_traits>

#include "visa/api_support.h"
#include "visa/events.h"
#include "visa/session_io.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

// A value of `width` bytes in the other byte order.
ViUInt64 swap_bytes(ViUInt64 value, unsigned width) {
  ViUInt64 out = 0;
  for (unsigned i = 0; i < width; ++i) out = (out << 8) | ((value >> (8 * i)) & 0xFF);
  return out;
}

bool little_endian(const Object& session, ViAttr order) {
  return session.attributes.number(order) == VI_LITTLE_ENDIAN;
}

// Whether the session's resource has register access at all.
bool has_registers(const Connection& connection) {
  for (ViUInt16 space : {VI_A16_SPACE, VI_A24_SPACE, VI_A32_SPACE, VI_A64_SPACE})
    if (connection.register_space_size(space) != 0) return true;
  return false;
}

// Reads one value as the session's source byte order says.
ViStatus read_value(Object& s, ViUInt16 space, ViBusAddress64 offset, unsigned width, ViAttr order,
                    ViUInt64& value) {
  ViStatus status = s.connection->register_read(space, offset, width, value);
  if (status == VI_SUCCESS && little_endian(s, order)) value = swap_bytes(value, width);
  return status;
}

ViStatus write_value(Object& s, ViUInt16 space, ViBusAddress64 offset, unsigned width, ViAttr order,
                     ViUInt64 value) {
  if (little_endian(s, order)) value = swap_bytes(value, width);
  return s.connection->register_write(space, offset, width, value);
}

void describe_access(CallRecord* record, ViUInt16 space, ViBusAddress64 offset) {
  if (!record) return;
  record->details = "space=" + std::to_string(space) + " ";
  append_hex(record->details, offset, 8);
}

template <typename T>
ViStatus in(ViSession vi, ViUInt16 space, ViBusAddress64 offset, T* value, CallRecord* record,
            ViStatus (*forward)(const Object&, ViUInt16, ViBusAddress64, T*)) {
  describe_access(record, space, offset);
  ViStatus status = on_session(
      vi, record,
      [&](Object& s) {
        if (!value) return VI_ERROR_INV_PARAMETER;
        ViUInt64 read = 0;
        ViStatus rc = read_value(s, space, offset, sizeof(T), VI_ATTR_SRC_BYTE_ORDER, read);
        if (rc == VI_SUCCESS) *value = static_cast<T>(read);
        return rc;
      },
      [&](Object& s) { return forward(s, space, offset, value); });
  if (record && status >= VI_SUCCESS) record->details += " = " + std::to_string(*value);
  return status;
}

template <typename T>
ViStatus out(ViSession vi, ViUInt16 space, ViBusAddress64 offset, T value, CallRecord* record,
             ViStatus (*forward)(const Object&, ViUInt16, ViBusAddress64, T)) {
  describe_access(record, space, offset);
  if (record) record->details += " = " + std::to_string(value);
  return on_session(
      vi, record,
      [&](Object& s) { return write_value(s, space, offset, sizeof(T), VI_ATTR_DEST_BYTE_ORDER, value); },
      [&](Object& s) { return forward(s, space, offset, value); });
}

template <typename T>
ViStatus move_in(ViSession vi, ViUInt16 space, ViBusAddress64 offset, ViBusSize length, T* buf,
                 CallRecord* record,
                 ViStatus (*forward)(const Object&, ViUInt16, ViBusAddress64, ViBusSize, T*)) {
  describe_access(record, space, offset);
  if (record) record->details += " length=" + std::to_string(length);
  return on_session(
      vi, record,
      [&](Object& s) {
        if (!buf && length > 0) return VI_ERROR_USER_BUF;
        const bool step = s.attributes.number(VI_ATTR_SRC_INCREMENT) != 0;  // 0: the same register (a FIFO)
        for (ViBusSize i = 0; i < length; ++i) {
          ViUInt64 value = 0;
          ViStatus rc = read_value(s, space, offset + (step ? i * sizeof(T) : 0), sizeof(T),
                                   VI_ATTR_SRC_BYTE_ORDER, value);
          if (rc != VI_SUCCESS) return rc;
          buf[i] = static_cast<T>(value);
        }
        return VI_SUCCESS;
      },
      [&](Object& s) { return forward(s, space, offset, length, buf); });
}

template <typename T>
ViStatus move_out(ViSession vi, ViUInt16 space, ViBusAddress64 offset, ViBusSize length, const T* buf,
                  CallRecord* record,
                  ViStatus (*forward)(const Object&, ViUInt16, ViBusAddress64, ViBusSize, T*)) {
  describe_access(record, space, offset);
  if (record) record->details += " length=" + std::to_string(length);
  return on_session(
      vi, record,
      [&](Object& s) {
        if (!buf && length > 0) return VI_ERROR_USER_BUF;
        const bool step = s.attributes.number(VI_ATTR_DEST_INCREMENT) != 0;
        for (ViBusSize i = 0; i < length; ++i) {
          ViStatus rc = write_value(s, space, offset + (step ? i * sizeof(T) : 0), sizeof(T),
                                    VI_ATTR_DEST_BYTE_ORDER, buf[i]);
          if (rc != VI_SUCCESS) return rc;
        }
        return VI_SUCCESS;
      },
      [&](Object& s) { return forward(s, space, offset, length, const_cast<T*>(buf)); });
}

bool valid_width(ViUInt16 width) {
  return width == VI_WIDTH_8 || width == VI_WIDTH_16 || width == VI_WIDTH_32 || width == VI_WIDTH_64;
}

// viMove: elements of `width` bytes from one space to another; VI_LOCAL_SPACE is the process's memory, its
// offset an address.
ViStatus move(Object& s, ViUInt16 src_space, ViBusAddress64 src_offset, ViUInt16 src_width,
              ViUInt16 dest_space, ViBusAddress64 dest_offset, ViUInt16 dest_width, ViBusSize length) {
  if (!valid_width(src_width) || !valid_width(dest_width)) return VI_ERROR_INV_WIDTH;
  if (src_width != dest_width) return VI_ERROR_NSUP_VAR_WIDTH;
  const unsigned width = src_width;
  if ((src_space == VI_LOCAL_SPACE && src_offset == 0) || (dest_space == VI_LOCAL_SPACE && dest_offset == 0))
    return length ? VI_ERROR_USER_BUF : VI_SUCCESS;
  const bool src_step = s.attributes.number(VI_ATTR_SRC_INCREMENT) != 0 || src_space == VI_LOCAL_SPACE;
  const bool dest_step = s.attributes.number(VI_ATTR_DEST_INCREMENT) != 0 || dest_space == VI_LOCAL_SPACE;
  for (ViBusSize i = 0; i < length; ++i) {
    const ViBusAddress64 from = src_offset + (src_step ? i * width : 0);
    const ViBusAddress64 to = dest_offset + (dest_step ? i * width : 0);
    ViUInt64 value = 0;
    if (src_space == VI_LOCAL_SPACE) {
      std::memcpy(&value, reinterpret_cast<const void*>(from), width);  // the low bytes: a little-endian host
    } else if (ViStatus rc = read_value(s, src_space, from, width, VI_ATTR_SRC_BYTE_ORDER, value);
               rc != VI_SUCCESS) {
      return rc;
    }
    if (dest_space == VI_LOCAL_SPACE) {
      std::memcpy(reinterpret_cast<void*>(to), &value, width);
    } else if (ViStatus rc = write_value(s, dest_space, to, width, VI_ATTR_DEST_BYTE_ORDER, value);
               rc != VI_SUCCESS) {
      return rc;
    }
  }
  return VI_SUCCESS;
}

ViStatus move_call(ViSession vi, ViUInt16 src_space, ViBusAddress64 src_offset, ViUInt16 src_width,
                   ViUInt16 dest_space, ViBusAddress64 dest_offset, ViUInt16 dest_width, ViBusSize length,
                   CallRecord* record, bool ex) {
  if (record)
    record->details =
        std::to_string(src_space) + " -> " + std::to_string(dest_space) + " length=" + std::to_string(length);
  return on_session(
      vi, record,
      [&](Object& s) {
        return move(s, src_space, src_offset, src_width, dest_space, dest_offset, dest_width, length);
      },
      [&](Object& s) {
        return ex ? PGX_FORWARD(s, viMoveEx, src_space, src_offset, src_width, dest_space, dest_offset,
                                dest_width, length)
                  : PGX_FORWARD(s, viMove, src_space, src_offset, src_width, dest_space, dest_offset,
                                dest_width, length);
      });
}

// viMoveAsync: the move is done at once (VI_SUCCESS_SYNC) and its completion is an event all the same.
ViStatus move_async(ViSession vi, ViUInt16 src_space, ViBusAddress64 src_offset, ViUInt16 src_width,
                    ViUInt16 dest_space, ViBusAddress64 dest_offset, ViUInt16 dest_width, ViBusSize length,
                    ViPJobId job, CallRecord* record, bool ex) {
  if (job) *job = VI_NULL;
  std::shared_ptr<Object> session;
  if (ViStatus refused = operation_session(vi, record, session); refused != VI_SUCCESS) return refused;
  if (session->system) {
    return ex ? PGX_FORWARD(*session, viMoveAsyncEx, src_space, src_offset, src_width, dest_space,
                            dest_offset, dest_width, length, job)
              : PGX_FORWARD(*session, viMoveAsync, src_space, src_offset, src_width, dest_space, dest_offset,
                            dest_width, length, job);
  }
  ViStatus status;
  {
    std::lock_guard lock(session->mutex);
    status = move(*session, src_space, src_offset, src_width, dest_space, dest_offset, dest_width, length);
  }
  static std::atomic<ViJobId> next_job{0x10000};  // apart from the ids of the asynchronous reads and writes
  const ViJobId id = next_job++;
  if (job) *job = id;
  auto event = std::make_shared<EventData>(VI_EVENT_IO_COMPLETION);
  event->attributes.add(VI_ATTR_STATUS, AttrType::kInt32, static_cast<ViAttrState>(status));
  event->attributes.add(VI_ATTR_JOB_ID, AttrType::kUInt32, id);
  event->attributes.add(VI_ATTR_RET_COUNT_32, AttrType::kUInt32, status >= VI_SUCCESS ? length : 0);
  event->attributes.add(VI_ATTR_RET_COUNT_64, AttrType::kUInt64, status >= VI_SUCCESS ? length : 0);
  event->attributes.add_text(VI_ATTR_OPER_NAME, ex ? "viMoveAsyncEx" : "viMoveAsync");
  session->events->raise(std::move(event));
  return status < VI_SUCCESS ? status : VI_SUCCESS_SYNC;
}

ViStatus map_address(ViSession vi, ViUInt16 space, ViBusAddress64 offset, ViBusSize size, ViBoolean access,
                     ViAddr suggested, ViPAddr address, CallRecord* record, bool ex) {
  describe_access(record, space, offset);
  if (record) record->details += " size=" + std::to_string(size);
  if (address) *address = VI_NULL;
  return on_session(
      vi, record,
      [&](Object& s) {
        if (!address) return VI_ERROR_INV_PARAMETER;
        if (!has_registers(*s.connection)) return VI_ERROR_NSUP_OPER;
        if (access != VI_FALSE) return VI_ERROR_INV_ACC_MODE;
        if (s.buffered->window) return VI_ERROR_WINDOW_MAPPED;
        const ViBusSize space_size = s.connection->register_space_size(space);
        if (space_size == 0) return VI_ERROR_INV_SPACE;
        if (offset >= space_size) return VI_ERROR_INV_OFFSET;
        if (size == 0 || size > space_size - offset) return VI_ERROR_INV_SIZE;
        auto window = MappedWindow::reserve(space, offset, size);
        if (!window) return VI_ERROR_ALLOC;
        const auto base = reinterpret_cast<std::uintptr_t>(window->base());
        s.attributes.update(VI_ATTR_WIN_ACCESS,
                            VI_USE_OPERS);  // registers are reached with viPeek and viPoke
        s.attributes.update(VI_ATTR_WIN_BASE_ADDR_32, base & 0xFFFFFFFFu);
        s.attributes.update(VI_ATTR_WIN_BASE_ADDR_64, base);
        s.attributes.update(VI_ATTR_WIN_SIZE_32, size & 0xFFFFFFFFu);
        s.attributes.update(VI_ATTR_WIN_SIZE_64, size);
        *address = window->base();
        s.buffered->window = std::move(window);
        return VI_SUCCESS;
      },
      [&](Object& s) {
        return ex ? PGX_FORWARD(s, viMapAddressEx, space, offset, size, access, suggested, address)
                  : PGX_FORWARD(s, viMapAddress, space, offset, size, access, suggested, address);
      });
}

ViStatus unmap_address(ViSession vi, CallRecord* record) {
  return on_session(
      vi, record,
      [&](Object& s) {
        if (!has_registers(*s.connection)) return VI_ERROR_NSUP_OPER;
        if (!s.buffered->window) return VI_ERROR_WINDOW_NMAPPED;
        s.buffered->window.reset();
        s.attributes.update(VI_ATTR_WIN_ACCESS, VI_NMAPPED);
        for (ViAttr attr :
             {VI_ATTR_WIN_BASE_ADDR_32, VI_ATTR_WIN_BASE_ADDR_64, VI_ATTR_WIN_SIZE_32, VI_ATTR_WIN_SIZE_64})
          s.attributes.update(attr, 0);
        return VI_SUCCESS;
      },
      [&](Object& s) { return PGX_FORWARD(s, viUnmapAddress); });
}

// viPeek*: a register in the session's mapped window. A peek outside the window reads nothing (the value
// keeps what it held); the trace shows the failure.
template <typename T>
void peek(ViSession vi, ViAddr address, T* value, void (*SystemVisa::*forward)(ViSession, ViAddr, T*),
          const char* name) {
  run(name, vi, [&](CallRecord* record) {
    if (record) append_hex(record->details, reinterpret_cast<std::uintptr_t>(address), 16);
    std::shared_ptr<Object> session;
    if (ViStatus refused = operation_session(vi, record, session); refused != VI_SUCCESS) return refused;
    if (session->system) {
      auto function = (*session->system).*forward;
      if (!function) return missing_function(*session->system, name);
      function(session->foreign, address, value);
      return VI_SUCCESS;
    }
    std::lock_guard lock(session->mutex);
    ViBusAddress64 offset = 0;
    if (!value) return VI_ERROR_INV_PARAMETER;
    if (!session->buffered->window) return VI_ERROR_WINDOW_NMAPPED;
    if (!session->buffered->window->translate(address, sizeof(T), offset)) return VI_ERROR_INV_OFFSET;
    ViUInt64 read = 0;
    ViStatus status = read_value(*session, session->buffered->window->space(), offset, sizeof(T),
                                 VI_ATTR_WIN_BYTE_ORDER, read);
    if (status == VI_SUCCESS) *value = static_cast<T>(read);
    if (record && status == VI_SUCCESS) record->details += " = " + std::to_string(*value);
    return status;
  });
}

template <typename T>
void poke(ViSession vi, ViAddr address, T value, void (*SystemVisa::*forward)(ViSession, ViAddr, T),
          const char* name) {
  run(name, vi, [&](CallRecord* record) {
    if (record) {
      append_hex(record->details, reinterpret_cast<std::uintptr_t>(address), 16);
      record->details += " = " + std::to_string(value);
    }
    std::shared_ptr<Object> session;
    if (ViStatus refused = operation_session(vi, record, session); refused != VI_SUCCESS) return refused;
    if (session->system) {
      auto function = (*session->system).*forward;
      if (!function) return missing_function(*session->system, name);
      function(session->foreign, address, value);
      return VI_SUCCESS;
    }
    std::lock_guard lock(session->mutex);
    ViBusAddress64 offset = 0;
    if (!session->buffered->window) return VI_ERROR_WINDOW_NMAPPED;
    if (!session->buffered->window->translate(address, sizeof(T), offset)) return VI_ERROR_INV_OFFSET;
    return write_value(*session, session->buffered->window->space(), offset, sizeof(T),
                       VI_ATTR_WIN_BYTE_ORDER, value);
  });
}

// viMemAlloc and viMemFree: the modules export no memory beyond their registers.
ViStatus shared_memory(ViSession vi, CallRecord* record, const std::function<ViStatus(Object&)>& forward) {
  return on_session(
      vi, record,
      [](Object& s) { return has_registers(*s.connection) ? VI_ERROR_MEM_NSHARED : VI_ERROR_NSUP_OPER; },
      forward);
}

}  // namespace
}  // namespace pgx::visa

using namespace pgx::visa;

// The forwarders of the width-generic operations, one per function of the system library.
#define PGX_IN_FORWARD(name, T)                                                      \
  [](const Object& s, ViUInt16 space, ViBusAddress64 offset, T* value) -> ViStatus { \
    return PGX_FORWARD(s, name, space, offset, value);                               \
  }
#define PGX_OUT_FORWARD(name, T)                                                    \
  [](const Object& s, ViUInt16 space, ViBusAddress64 offset, T value) -> ViStatus { \
    return PGX_FORWARD(s, name, space, offset, value);                              \
  }
#define PGX_MOVE_FORWARD(name, T)                                                                    \
  [](const Object& s, ViUInt16 space, ViBusAddress64 offset, ViBusSize length, T* buf) -> ViStatus { \
    return PGX_FORWARD(s, name, space, offset, length, buf);                                         \
  }

#define PGX_IN(name, T)                                                                                      \
  ViStatus name(ViSession vi, ViUInt16 space, ViBusAddress64 offset, T* value) {                             \
    return call(#name, vi,                                                                                   \
                [&](CallRecord* r) { return in<T>(vi, space, offset, value, r, PGX_IN_FORWARD(name, T)); }); \
  }
#define PGX_OUT(name, T)                                                        \
  ViStatus name(ViSession vi, ViUInt16 space, ViBusAddress64 offset, T value) { \
    return call(#name, vi, [&](CallRecord* r) {                                 \
      return out<T>(vi, space, offset, value, r, PGX_OUT_FORWARD(name, T));     \
    });                                                                         \
  }
#define PGX_MOVE_IN(name, T)                                                                     \
  ViStatus name(ViSession vi, ViUInt16 space, ViBusAddress64 offset, ViBusSize length, T* buf) { \
    return call(#name, vi, [&](CallRecord* r) {                                                  \
      return move_in<T>(vi, space, offset, length, buf, r, PGX_MOVE_FORWARD(name, T));           \
    });                                                                                          \
  }
#define PGX_MOVE_OUT(name, T)                                                                    \
  ViStatus name(ViSession vi, ViUInt16 space, ViBusAddress64 offset, ViBusSize length, T* buf) { \
    return call(#name, vi, [&](CallRecord* r) {                                                  \
      return move_out<T>(vi, space, offset, length, buf, r, PGX_MOVE_FORWARD(name, T));          \
    });                                                                                          \
  }

extern "C" {

PGX_IN(viIn8, ViUInt8)
PGX_IN(viIn16, ViUInt16)
PGX_IN(viIn32, ViUInt32)
PGX_IN(viIn64, ViUInt64)
PGX_IN(viIn8Ex, ViUInt8)
PGX_IN(viIn16Ex, ViUInt16)
PGX_IN(viIn32Ex, ViUInt32)
PGX_IN(viIn64Ex, ViUInt64)
PGX_OUT(viOut8, ViUInt8)
PGX_OUT(viOut16, ViUInt16)
PGX_OUT(viOut32, ViUInt32)
PGX_OUT(viOut64, ViUInt64)
PGX_OUT(viOut8Ex, ViUInt8)
PGX_OUT(viOut16Ex, ViUInt16)
PGX_OUT(viOut32Ex, ViUInt32)
PGX_OUT(viOut64Ex, ViUInt64)
PGX_MOVE_IN(viMoveIn8, ViUInt8)
PGX_MOVE_IN(viMoveIn16, ViUInt16)
PGX_MOVE_IN(viMoveIn32, ViUInt32)
PGX_MOVE_IN(viMoveIn64, ViUInt64)
PGX_MOVE_IN(viMoveIn8Ex, ViUInt8)
PGX_MOVE_IN(viMoveIn16Ex, ViUInt16)
PGX_MOVE_IN(viMoveIn32Ex, ViUInt32)
PGX_MOVE_IN(viMoveIn64Ex, ViUInt64)
PGX_MOVE_OUT(viMoveOut8, ViUInt8)
PGX_MOVE_OUT(viMoveOut16, ViUInt16)
PGX_MOVE_OUT(viMoveOut32, ViUInt32)
PGX_MOVE_OUT(viMoveOut64, ViUInt64)
PGX_MOVE_OUT(viMoveOut8Ex, ViUInt8)
PGX_MOVE_OUT(viMoveOut16Ex, ViUInt16)
PGX_MOVE_OUT(viMoveOut32Ex, ViUInt32)
PGX_MOVE_OUT(viMoveOut64Ex, ViUInt64)

ViStatus viMove(ViSession vi, ViUInt16 srcSpace, ViBusAddress srcOffset, ViUInt16 srcWidth,
                ViUInt16 destSpace, ViBusAddress destOffset, ViUInt16 destWidth, ViBusSize srcLength) {
  return call("viMove", vi, [&](CallRecord* r) {
    return move_call(vi, srcSpace, srcOffset, srcWidth, destSpace, destOffset, destWidth, srcLength, r,
                     false);
  });
}

ViStatus viMoveEx(ViSession vi, ViUInt16 srcSpace, ViBusAddress64 srcOffset, ViUInt16 srcWidth,
                  ViUInt16 destSpace, ViBusAddress64 destOffset, ViUInt16 destWidth, ViBusSize srcLength) {
  return call("viMoveEx", vi, [&](CallRecord* r) {
    return move_call(vi, srcSpace, srcOffset, srcWidth, destSpace, destOffset, destWidth, srcLength, r, true);
  });
}

ViStatus viMoveAsync(ViSession vi, ViUInt16 srcSpace, ViBusAddress srcOffset, ViUInt16 srcWidth,
                     ViUInt16 destSpace, ViBusAddress destOffset, ViUInt16 destWidth, ViBusSize srcLength,
                     ViPJobId jobId) {
  return call("viMoveAsync", vi, [&](CallRecord* r) {
    return move_async(vi, srcSpace, srcOffset, srcWidth, destSpace, destOffset, destWidth, srcLength, jobId,
                      r, false);
  });
}

ViStatus viMoveAsyncEx(ViSession vi, ViUInt16 srcSpace, ViBusAddress64 srcOffset, ViUInt16 srcWidth,
                       ViUInt16 destSpace, ViBusAddress64 destOffset, ViUInt16 destWidth, ViBusSize srcLength,
                       ViPJobId jobId) {
  return call("viMoveAsyncEx", vi, [&](CallRecord* r) {
    return move_async(vi, srcSpace, srcOffset, srcWidth, destSpace, destOffset, destWidth, srcLength, jobId,
                      r, true);
  });
}

ViStatus viMapAddress(ViSession vi, ViUInt16 mapSpace, ViBusAddress mapOffset, ViBusSize mapSize,
                      ViBoolean access, ViAddr suggested, ViPAddr address) {
  return call("viMapAddress", vi, [&](CallRecord* r) {
    return map_address(vi, mapSpace, mapOffset, mapSize, access, suggested, address, r, false);
  });
}

ViStatus viMapAddressEx(ViSession vi, ViUInt16 mapSpace, ViBusAddress64 mapOffset, ViBusSize mapSize,
                        ViBoolean access, ViAddr suggested, ViPAddr address) {
  return call("viMapAddressEx", vi, [&](CallRecord* r) {
    return map_address(vi, mapSpace, mapOffset, mapSize, access, suggested, address, r, true);
  });
}

ViStatus viUnmapAddress(ViSession vi) {
  return call("viUnmapAddress", vi, [&](CallRecord* r) { return unmap_address(vi, r); });
}

void viPeek8(ViSession vi, ViAddr address, ViPUInt8 val8) {
  peek<ViUInt8>(vi, address, val8, &SystemVisa::viPeek8, "viPeek8");
}
void viPeek16(ViSession vi, ViAddr address, ViPUInt16 val16) {
  peek<ViUInt16>(vi, address, val16, &SystemVisa::viPeek16, "viPeek16");
}
void viPeek32(ViSession vi, ViAddr address, ViPUInt32 val32) {
  peek<ViUInt32>(vi, address, val32, &SystemVisa::viPeek32, "viPeek32");
}
void viPeek64(ViSession vi, ViAddr address, ViPUInt64 val64) {
  peek<ViUInt64>(vi, address, val64, &SystemVisa::viPeek64, "viPeek64");
}
void viPoke8(ViSession vi, ViAddr address, ViUInt8 val8) {
  poke<ViUInt8>(vi, address, val8, &SystemVisa::viPoke8, "viPoke8");
}
void viPoke16(ViSession vi, ViAddr address, ViUInt16 val16) {
  poke<ViUInt16>(vi, address, val16, &SystemVisa::viPoke16, "viPoke16");
}
void viPoke32(ViSession vi, ViAddr address, ViUInt32 val32) {
  poke<ViUInt32>(vi, address, val32, &SystemVisa::viPoke32, "viPoke32");
}
void viPoke64(ViSession vi, ViAddr address, ViUInt64 val64) {
  poke<ViUInt64>(vi, address, val64, &SystemVisa::viPoke64, "viPoke64");
}

ViStatus viMemAlloc(ViSession vi, ViBusSize size, ViPBusAddress offset) {
  if (offset) *offset = 0;
  return call("viMemAlloc", vi, [&](CallRecord* r) {
    return shared_memory(vi, r, [&](Object& s) { return PGX_FORWARD(s, viMemAlloc, size, offset); });
  });
}

ViStatus viMemAllocEx(ViSession vi, ViBusSize size, ViPBusAddress64 offset) {
  if (offset) *offset = 0;
  return call("viMemAllocEx", vi, [&](CallRecord* r) {
    return shared_memory(vi, r, [&](Object& s) { return PGX_FORWARD(s, viMemAllocEx, size, offset); });
  });
}

ViStatus viMemFree(ViSession vi, ViBusAddress offset) {
  return call("viMemFree", vi, [&](CallRecord* r) {
    return shared_memory(vi, r, [&](Object& s) { return PGX_FORWARD(s, viMemFree, offset); });
  });
}

ViStatus viMemFreeEx(ViSession vi, ViBusAddress64 offset) {
  return call("viMemFreeEx", vi, [&](CallRecord* r) {
    return shared_memory(vi, r, [&](Object& s) { return PGX_FORWARD(s, viMemFreeEx, offset); });
  });
}

}  // extern "C"
