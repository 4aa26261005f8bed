// The VISA entry points of formatted I/O: viPrintf, viScanf, viQueryf and their forms on strings and on
// va_lists. They go through the session's formatted I/O buffers.

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>
#include <functional>

#include "visa/api_support.h"
#include "visa/buffered_io.h"
#include "visa/formatted_io.h"
#include "visa/session_io.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

// Bytes for scanning, from the session's read buffer.
class SessionSource : public ScanSource {
 public:
  explicit SessionSource(Object& session) : session_(session) {}
  int next() override {
    if (given_back_) {
      given_back_ = false;
      ended_ = last_ended_;
      return last_;
    }
    if (ended_ || status_ < VI_SUCCESS) return -1;  // a message ends the scan; the next waits for the next
    ViByte byte = 0;
    ViUInt32 count = 0;
    ViStatus status = buffered_read(session_, &byte, 1, count);
    if (count == 0) {
      status_ = status < VI_SUCCESS ? status : VI_SUCCESS;
      return -1;
    }
    ended_ = last_ended_ = status == VI_SUCCESS || status == VI_SUCCESS_TERM_CHAR;
    last_ = byte;
    return last_;
  }
  void back() override {
    given_back_ = true;
    ended_ = false;
  }
  bool ended() const override { return ended_; }
  ViStatus status() const override { return status_; }
  // A byte given back goes back into the read buffer, for the next scan.
  void finish() {
    if (given_back_ && session_.buffered->read_pos > 0) --session_.buffered->read_pos;
  }

 private:
  Object& session_;
  int last_ = -1;
  bool given_back_ = false;
  bool ended_ = false;
  bool last_ended_ = false;
  ViStatus status_ = VI_SUCCESS;
};

// Bytes for scanning from a NUL-terminated buffer (viSScanf).
class TextSource : public ScanSource {
 public:
  explicit TextSource(const char* text) : text_(text) {}
  int next() override {
    if (!text_[pos_]) return -1;
    return static_cast<unsigned char>(text_[pos_++]);
  }
  void back() override { --pos_; }
  bool ended() const override { return !text_[pos_]; }

 private:
  const char* text_;
  std::size_t pos_ = 0;
};

// Formats and writes through the write buffer; a format that ends with a newline sends the buffer, as
// does VI_FLUSH_ON_ACCESS.
ViStatus print(Object& s, const char* format, va_list* args) {
  std::string text;
  ViStatus status = format_text(format, args, text);
  if (status < VI_SUCCESS) return status;
  ViUInt32 count = 0;
  status = buffered_write(s, reinterpret_cast<const ViByte*>(text.data()), static_cast<ViUInt32>(text.size()),
                          count);
  if (status < VI_SUCCESS) return status;
  const std::size_t length = std::strlen(format);
  if ((length > 0 && format[length - 1] == '\n') ||
      s.attributes.number(VI_ATTR_WR_BUF_OPER_MODE) == VI_FLUSH_ON_ACCESS)
    return flush_write_buffer(s);
  return VI_SUCCESS;
}

ViStatus scan(Object& s, const char* format, va_list* args) {
  SessionSource source(s);
  ViStatus status =
      scan_text(format, args, source, static_cast<ViByte>(s.attributes.number(VI_ATTR_TERMCHAR)));
  source.finish();
  if (s.attributes.number(VI_ATTR_RD_BUF_OPER_MODE) == VI_FLUSH_ON_ACCESS) {
    flush_read_buffer(s, false);
  } else {
    // What is left of a message that has ended is kept for the next scan, unless it is only the white space
    // that ends it (the newline of "1\n" after "%d"): that would end the next scan before it began.
    SessionIo& b = *s.buffered;
    if (b.read_ended != VI_SUCCESS_MAX_CNT &&
        std::all_of(b.read_data.begin() + static_cast<std::ptrdiff_t>(b.read_pos), b.read_data.end(),
                    [](char c) { return std::isspace(static_cast<unsigned char>(c)); }))
      b.read_pos = b.read_data.size();
  }
  return status;
}

void describe_format(CallRecord* record, const char* format) {
  if (record && format) append_escaped(record->details, format, std::strlen(format));
}

ViStatus vprintf_call(ViSession vi, ViConstString format, va_list params) {
  return call("viVPrintf", vi, [&](CallRecord* r) {
    describe_format(r, format);
    return on_session(
        vi, r,
        [&](Object& s) {
          va_list args;
          va_copy(args, params);
          ViStatus status = print(s, format, &args);
          va_end(args);
          return status;
        },
        [&](Object& s) {
          va_list args;
          va_copy(args, params);
          ViStatus status = PGX_FORWARD(s, viVPrintf, format, args);
          va_end(args);
          return status;
        });
  });
}

ViStatus vscanf_call(ViSession vi, ViConstString format, va_list params) {
  return call("viVScanf", vi, [&](CallRecord* r) {
    describe_format(r, format);
    return on_session(
        vi, r,
        [&](Object& s) {
          va_list args;
          va_copy(args, params);
          ViStatus status = scan(s, format, &args);
          va_end(args);
          return status;
        },
        [&](Object& s) {
          va_list args;
          va_copy(args, params);
          ViStatus status = PGX_FORWARD(s, viVScanf, format, args);
          va_end(args);
          return status;
        });
  });
}

ViStatus vqueryf_call(ViSession vi, ViConstString write_format, ViConstString read_format, va_list params) {
  return call("viVQueryf", vi, [&](CallRecord* r) {
    describe_format(r, write_format);
    return on_session(
        vi, r,
        [&](Object& s) {
          va_list args;
          va_copy(args, params);
          // The question goes out whole before the answer is read.
          ViStatus status = print(s, write_format, &args);
          if (status >= VI_SUCCESS) status = flush_write_buffer(s);
          if (status >= VI_SUCCESS) status = scan(s, read_format, &args);
          va_end(args);
          return status;
        },
        [&](Object& s) {
          va_list args;
          va_copy(args, params);
          ViStatus status = PGX_FORWARD(s, viVQueryf, write_format, read_format, args);
          va_end(args);
          return status;
        });
  });
}

ViStatus vsprintf_call(ViSession vi, ViPBuf buf, ViConstString format, va_list params) {
  return call("viVSPrintf", vi, [&](CallRecord* r) {
    describe_format(r, format);
    return on_session(
        vi, r,
        [&](Object&) {
          if (!buf) return VI_ERROR_USER_BUF;
          va_list args;
          va_copy(args, params);
          std::string text;
          ViStatus status = format_text(format, &args, text);
          va_end(args);
          if (status < VI_SUCCESS) return status;
          // The standard gives no size for the buffer: it must hold the text and its NUL.
          std::memcpy(buf, text.c_str(), text.size() + 1);
          return VI_SUCCESS;
        },
        [&](Object& s) {
          va_list args;
          va_copy(args, params);
          ViStatus status = PGX_FORWARD(s, viVSPrintf, buf, format, args);
          va_end(args);
          return status;
        });
  });
}

ViStatus vsscanf_call(ViSession vi, ViConstBuf buf, ViConstString format, va_list params) {
  return call("viVSScanf", vi, [&](CallRecord* r) {
    describe_format(r, format);
    return on_session(
        vi, r,
        [&](Object& s) {
          if (!buf) return VI_ERROR_USER_BUF;
          va_list args;
          va_copy(args, params);
          TextSource source(reinterpret_cast<const char*>(buf));
          ViStatus status =
              scan_text(format, &args, source, static_cast<ViByte>(s.attributes.number(VI_ATTR_TERMCHAR)));
          va_end(args);
          return status;
        },
        [&](Object& s) {
          va_list args;
          va_copy(args, params);
          ViStatus status = PGX_FORWARD(s, viVSScanf, buf, format, args);
          va_end(args);
          return status;
        });
  });
}

}  // namespace
}  // namespace pgx::visa

using namespace pgx::visa;

extern "C" {

ViStatus viVPrintf(ViSession vi, ViConstString writeFmt, ViVAList params) {
  return vprintf_call(vi, writeFmt, params);
}

ViStatus viPrintf(ViSession vi, ViConstString writeFmt, ...) {
  va_list params;
  va_start(params, writeFmt);
  ViStatus status = vprintf_call(vi, writeFmt, params);
  va_end(params);
  return status;
}

ViStatus viVSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, ViVAList parms) {
  return vsprintf_call(vi, buf, writeFmt, parms);
}

ViStatus viSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, ...) {
  va_list params;
  va_start(params, writeFmt);
  ViStatus status = vsprintf_call(vi, buf, writeFmt, params);
  va_end(params);
  return status;
}

ViStatus viVScanf(ViSession vi, ViConstString readFmt, ViVAList params) {
  return vscanf_call(vi, readFmt, params);
}

ViStatus viScanf(ViSession vi, ViConstString readFmt, ...) {
  va_list params;
  va_start(params, readFmt);
  ViStatus status = vscanf_call(vi, readFmt, params);
  va_end(params);
  return status;
}

ViStatus viVSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, ViVAList parms) {
  return vsscanf_call(vi, buf, readFmt, parms);
}

ViStatus viSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, ...) {
  va_list params;
  va_start(params, readFmt);
  ViStatus status = vsscanf_call(vi, buf, readFmt, params);
  va_end(params);
  return status;
}

ViStatus viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ViVAList params) {
  return vqueryf_call(vi, writeFmt, readFmt, params);
}

ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...) {
  va_list params;
  va_start(params, readFmt);
  ViStatus status = vqueryf_call(vi, writeFmt, readFmt, params);
  va_end(params);
  return status;
}

}  // extern "C"
