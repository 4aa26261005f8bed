// The VISA entry points of buffered, file and asynchronous I/O: viSetBuf, viFlush, viBufRead, viBufWrite,
// viReadToFile, viWriteFromFile, viReadAsync, viWriteAsync and viTerminate.

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "visa/api_support.h"
#include "visa/buffered_io.h"
#include "visa/events.h"
#include "visa/session_io.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

constexpr ViUInt32 kLargestBuffer = 64u << 20;
constexpr std::size_t kFileChunk = 64 * 1024;

ViStatus set_buf(ViSession vi, ViUInt16 mask, ViUInt32 size, CallRecord* record) {
  if (record) record->details = "mask=" + std::to_string(mask) + " size=" + std::to_string(size);
  return on_session(
      vi, record,
      [&](Object& s) {
        constexpr ViUInt16 kKnown = VI_READ_BUF | VI_WRITE_BUF | VI_IO_IN_BUF | VI_IO_OUT_BUF;
        if (mask == 0 || (mask & ~kKnown)) return VI_ERROR_INV_MASK;
        if (size > kLargestBuffer) return VI_ERROR_ALLOC;
        if (mask & VI_READ_BUF) {
          ViStatus status = flush_read_buffer(s, false);
          if (status < VI_SUCCESS) return status;
          s.buffered->read_buffer_size = size;
          s.attributes.update(VI_ATTR_RD_BUF_SIZE, size);
        }
        if (mask & VI_WRITE_BUF) {
          ViStatus status = flush_write_buffer(s);
          if (status < VI_SUCCESS) return status;
          s.buffered->write_buffer_size = size;
          s.attributes.update(VI_ATTR_WR_BUF_SIZE, size);
        }
        // The low-level buffers belong to serial ports, which the built-in backends do not have.
        return (mask & (VI_IO_IN_BUF | VI_IO_OUT_BUF)) ? VI_WARN_NSUP_BUF : VI_SUCCESS;
      },
      [&](Object& s) { return PGX_FORWARD(s, viSetBuf, mask, size); });
}

ViStatus flush(ViSession vi, ViUInt16 mask, CallRecord* record) {
  if (record) record->details = "mask=" + std::to_string(mask);
  return on_session(
      vi, record,
      [&](Object& s) {
        constexpr ViUInt16 kKnown = VI_READ_BUF | VI_WRITE_BUF | VI_READ_BUF_DISCARD | VI_WRITE_BUF_DISCARD |
                                    VI_IO_IN_BUF | VI_IO_OUT_BUF | VI_IO_IN_BUF_DISCARD |
                                    VI_IO_OUT_BUF_DISCARD;
        if (mask == 0 || (mask & ~kKnown)) return VI_ERROR_INV_MASK;
        // Flushing and discarding one buffer at once is a contradiction.
        if ((mask & VI_READ_BUF) && (mask & VI_READ_BUF_DISCARD)) return VI_ERROR_INV_MASK;
        if ((mask & VI_WRITE_BUF) && (mask & VI_WRITE_BUF_DISCARD)) return VI_ERROR_INV_MASK;
        if ((mask & VI_IO_IN_BUF) && (mask & VI_IO_IN_BUF_DISCARD)) return VI_ERROR_INV_MASK;
        if ((mask & VI_IO_OUT_BUF) && (mask & VI_IO_OUT_BUF_DISCARD)) return VI_ERROR_INV_MASK;
        ViStatus status = VI_SUCCESS;
        if (mask & VI_WRITE_BUF) status = flush_write_buffer(s);
        if (mask & VI_WRITE_BUF_DISCARD) s.buffered->write_data.clear();
        if (status >= VI_SUCCESS && (mask & (VI_READ_BUF | VI_READ_BUF_DISCARD)))
          status = flush_read_buffer(s, (mask & VI_READ_BUF) != 0);
        // The low-level buffers: writes are never held back, and input not yet read stays with the
        // connection until a read or a device clear takes it.
        return status;
      },
      [&](Object& s) { return PGX_FORWARD(s, viFlush, mask); });
}

ViStatus buf_read(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 ret, CallRecord* record) {
  if (ret) *ret = 0;
  ViUInt32 count = 0;
  ViStatus status = on_session(
      vi, record,
      [&](Object& s) {
        if (!buf && cnt > 0) return VI_ERROR_USER_BUF;
        ViStatus rc = buffered_read(s, buf, cnt, count);
        if (rc >= VI_SUCCESS && s.attributes.number(VI_ATTR_RD_BUF_OPER_MODE) == VI_FLUSH_ON_ACCESS)
          flush_read_buffer(s, false);
        return rc;
      },
      [&](Object& s) { return PGX_FORWARD(s, viBufRead, buf, cnt, &count); });
  if (ret) *ret = count;
  if (record) append_escaped(record->details, buf, count);
  return status;
}

ViStatus buf_write(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 ret, CallRecord* record) {
  if (ret) *ret = 0;
  ViUInt32 count = 0;
  ViStatus status = on_session(
      vi, record,
      [&](Object& s) {
        if (!buf && cnt > 0) return VI_ERROR_USER_BUF;
        ViStatus rc = buffered_write(s, buf, cnt, count);
        if (rc >= VI_SUCCESS && s.attributes.number(VI_ATTR_WR_BUF_OPER_MODE) == VI_FLUSH_ON_ACCESS)
          rc = flush_write_buffer(s);
        return rc;
      },
      [&](Object& s) { return PGX_FORWARD(s, viBufWrite, buf, cnt, &count); });
  if (ret) *ret = count;
  if (record && buf) append_escaped(record->details, buf, count);
  return status;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

ViStatus read_to_file(ViSession vi, ViConstString name, ViUInt32 cnt, ViPUInt32 ret, CallRecord* record) {
  if (ret) *ret = 0;
  if (record && name) append_name(record->details, name);
  return on_session(
      vi, record,
      [&](Object& s) {
        if (!name) return VI_ERROR_FILE_ACCESS;
        const bool append = s.attributes.number(VI_ATTR_FILE_APPEND_EN) != 0;
        File file(std::fopen(name, append ? "ab" : "wb"));
        if (!file) return fail(VI_ERROR_FILE_ACCESS, std::string("cannot open ") + name + " for writing");
        std::vector<ViByte> chunk(std::min<std::size_t>(cnt, kFileChunk));
        ViUInt32 total = 0;
        ViStatus status = VI_SUCCESS_MAX_CNT;
        while (total < cnt && status == VI_SUCCESS_MAX_CNT) {
          ViUInt32 got = 0;
          status = s.connection->read(chunk.data(),
                                      static_cast<ViUInt32>(std::min<std::size_t>(chunk.size(), cnt - total)),
                                      got, call_settings(s));
          if (got > 0 && std::fwrite(chunk.data(), 1, got, file.get()) != got) {
            if (ret) *ret = total;
            return fail(VI_ERROR_FILE_IO, std::string("cannot write to ") + name);
          }
          total += got;
        }
        if (ret) *ret = total;
        if (std::fflush(file.get()) != 0)
          return fail(VI_ERROR_FILE_IO, std::string("cannot write to ") + name);
        return status;
      },
      [&](Object& s) { return PGX_FORWARD(s, viReadToFile, name, cnt, ret); });
}

ViStatus write_from_file(ViSession vi, ViConstString name, ViUInt32 cnt, ViPUInt32 ret, CallRecord* record) {
  if (ret) *ret = 0;
  if (record && name) append_name(record->details, name);
  return on_session(
      vi, record,
      [&](Object& s) {
        if (!name) return VI_ERROR_FILE_ACCESS;
        File file(std::fopen(name, "rb"));
        if (!file) return fail(VI_ERROR_FILE_ACCESS, std::string("cannot open ") + name + " for reading");
        std::vector<ViByte> chunk(std::min<std::size_t>(cnt, kFileChunk));
        std::vector<ViByte> next(chunk.size());
        ViUInt32 total = 0;
        std::size_t have = std::fread(chunk.data(), 1, std::min<std::size_t>(chunk.size(), cnt), file.get());
        while (have > 0) {
          // Read ahead, so that END goes with the last byte sent.
          std::size_t more = 0;
          if (total + have < cnt)
            more = std::fread(next.data(), 1, std::min<std::size_t>(next.size(), cnt - total - have),
                              file.get());
          if (std::ferror(file.get())) return fail(VI_ERROR_FILE_IO, std::string("cannot read ") + name);
          IoSettings io = call_settings(s);
          io.send_end = io.send_end && more == 0;
          ViUInt32 sent = 0;
          ViStatus status = s.connection->write(chunk.data(), static_cast<ViUInt32>(have), sent, io);
          total += sent;
          if (ret) *ret = total;
          if (status < VI_SUCCESS) return status;
          chunk.swap(next);
          have = more;
        }
        if (std::ferror(file.get())) return fail(VI_ERROR_FILE_IO, std::string("cannot read ") + name);
        return VI_SUCCESS;
      },
      [&](Object& s) { return PGX_FORWARD(s, viWriteFromFile, name, cnt, ret); });
}

// viReadAsync and viWriteAsync: the transfer runs on a thread of its own, in turn with the session's other
// I/O, and its end is an I/O completion event. viTerminate ends it early with VI_ERROR_ABORT.
ViStatus start_transfer(ViSession vi, bool reading, ViByte* read_buf, const ViByte* write_buf, ViUInt32 cnt,
                        ViPJobId job, CallRecord* record) {
  if (job) *job = VI_NULL;
  const char* operation = reading ? "viReadAsync" : "viWriteAsync";
  if (record) record->details = "max " + std::to_string(cnt);
  std::shared_ptr<Object> session;
  if (ViStatus refused = operation_session(vi, record, session); refused != VI_SUCCESS) return refused;
  if (session->system)
    return reading ? PGX_FORWARD(*session, viReadAsync, read_buf, cnt, job)
                   : PGX_FORWARD(*session, viWriteAsync, write_buf, cnt, job);
  if (cnt > 0 && (reading ? !read_buf : !write_buf)) return VI_ERROR_USER_BUF;
  // The session outlives its jobs: closing it, or destroying it, waits for them.
  Object* s = session.get();
  ViJobId id = s->buffered->start([s, read_buf, write_buf, cnt, reading, operation](
                                      ViJobId self, const std::atomic<bool>& abort) -> std::function<void()> {
    ViUInt32 count = 0;
    ViStatus status;
    {
      std::lock_guard lock(s->mutex);
      IoSettings io = s->io;
      io.abort = &abort;
      status = reading ? s->connection->read(read_buf, cnt, count, io)
                       : s->connection->write(write_buf, cnt, count, io);
    }
    return [=] {
      try {
        auto event = std::make_shared<EventData>(VI_EVENT_IO_COMPLETION);
        event->attributes.add(VI_ATTR_STATUS, AttrType::kInt32, static_cast<ViAttrState>(status));
        event->attributes.add(VI_ATTR_JOB_ID, AttrType::kUInt32, self);
        event->attributes.add(VI_ATTR_BUFFER, AttrType::kAddr,
                              reinterpret_cast<std::uintptr_t>(reading ? read_buf : write_buf));
        event->attributes.add(VI_ATTR_RET_COUNT_32, AttrType::kUInt32, count);
        event->attributes.add(VI_ATTR_RET_COUNT_64, AttrType::kUInt64, count);
        event->attributes.add_text(VI_ATTR_OPER_NAME, operation);
        s->events->raise(std::move(event));
      } catch (...) {
        // Without memory for the event the completion is lost; the transfer itself happened.
      }
    };
  });
  if (job) *job = id;
  if (record) record->details += " job " + std::to_string(id);
  return VI_SUCCESS;
}

ViStatus terminate(ViObject vi, ViUInt16 degree, ViJobId job, CallRecord* record) {
  if (record) record->details = "job " + std::to_string(job);
  auto session = lookup(vi, record);
  if (!session) return VI_ERROR_INV_OBJECT;
  if (session->kind != Object::Kind::kSession) return VI_ERROR_NSUP_OPER;
  if (session->system) return PGX_FORWARD(*session, viTerminate, degree, job);
  if (degree != VI_NULL) return VI_ERROR_INV_DEGREE;
  // Without a job named, the calls in progress on the session end too (the session's lock is not taken:
  // one of them holds it).
  if (job == VI_NULL) session->buffered->terminate_calls.store(true);
  return session->buffered->terminate(job);
}

}  // namespace
}  // namespace pgx::visa

using namespace pgx::visa;

extern "C" {

ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
  return call("viSetBuf", vi, [&](CallRecord* r) { return set_buf(vi, mask, size, r); });
}

ViStatus viFlush(ViSession vi, ViUInt16 mask) {
  return call("viFlush", vi, [&](CallRecord* r) { return pgx::visa::flush(vi, mask, r); });
}

ViStatus viBufRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  return call("viBufRead", vi, [&](CallRecord* r) { return buf_read(vi, buf, cnt, retCnt, r); });
}

ViStatus viBufWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  return call("viBufWrite", vi, [&](CallRecord* r) { return buf_write(vi, buf, cnt, retCnt, r); });
}

ViStatus viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViPUInt32 retCnt) {
  return call("viReadToFile", vi, [&](CallRecord* r) { return read_to_file(vi, filename, cnt, retCnt, r); });
}

ViStatus viWriteFromFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViPUInt32 retCnt) {
  return call("viWriteFromFile", vi,
              [&](CallRecord* r) { return write_from_file(vi, filename, cnt, retCnt, r); });
}

ViStatus viReadAsync(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPJobId jobId) {
  return call("viReadAsync", vi,
              [&](CallRecord* r) { return start_transfer(vi, true, buf, nullptr, cnt, jobId, r); });
}

ViStatus viWriteAsync(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPJobId jobId) {
  return call("viWriteAsync", vi,
              [&](CallRecord* r) { return start_transfer(vi, false, nullptr, buf, cnt, jobId, r); });
}

ViStatus viTerminate(ViObject vi, ViUInt16 degree, ViJobId jobId) {
  return call("viTerminate", vi, [&](CallRecord* r) { return terminate(vi, degree, jobId, r); });
}

}  // extern "C"
