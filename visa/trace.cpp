#include "visa/trace.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <thread>

#include "visa/status.h"

namespace pgx::visa {

namespace {
constexpr std::size_t kMaxPending = 16 * 1024 * 1024;  // beyond this, lines are counted and dropped
constexpr auto kWriterPeriod = std::chrono::milliseconds(50);
constexpr std::size_t kWakeWriter = 256 * 1024;  // the writer wakes early when this much is waiting
}  // namespace

struct Trace::State {
  // Recording a line takes only `lines`; the file is written under `file`, never while holding `lines`,
  // so a slow disk holds up the writer thread but not the traced calls.
  std::mutex lines;  // guards pending, dropped
  std::condition_variable wake;
  std::string pending;
  unsigned long long dropped = 0;

  std::mutex file;  // guards path, fd, writer_started, reported; serialises writes in order
  std::string path;
  int fd = -1;
  bool writer_started = false;
  std::set<std::string> reported;  // paths already reported as unusable

  // Writes out what has been recorded; the caller holds `file`.
  void write_pending() {
    std::string text;
    {
      std::lock_guard lock(lines);
      text.swap(pending);
    }
    if (fd < 0) return;
    std::size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // a failing trace file never fails the traced I/O
      done += static_cast<std::size_t>(n);
    }
  }
};

Trace& Trace::instance() {
  static Trace* trace = new Trace();  // lives as long as the process, so no exit-time ordering issues
  return *trace;
}

Trace::State* Trace::state() {
  static std::once_flag once;
  std::call_once(once, [this] {
    state_.store(new State());
    std::atexit([] { Trace::instance().flush(); });
  });
  return state_.load();
}

void Trace::configure_from_environment() {
  const char* path = std::getenv("PGX_VISA_TRACE");
  std::string wanted = path ? path : "";
  if (wanted.empty() && !enabled()) return;
  {
    State* s = state();
    std::lock_guard lock(s->file);
    if (s->path == wanted && (s->fd >= 0 || wanted.empty())) return;
  }
  open(wanted);
}

void Trace::open(const std::string& path) {
  State* s = state();
  std::lock_guard lock(s->file);
  s->write_pending();
  if (s->fd >= 0) ::close(s->fd);
  s->fd = -1;
  s->path = path;
  enabled_.store(false);
  if (path.empty()) return;
  s->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (s->fd < 0) {
    if (s->reported.insert(path).second)
      std::fprintf(stderr, "pgxvisa: cannot open the I/O trace file %s: %s; tracing is off\n", path.c_str(),
                   std::strerror(errno));
    return;
  }
  if (!s->writer_started) {
    s->writer_started = true;
    std::thread([s] {
      for (;;) {
        {
          std::unique_lock lock(s->lines);
          s->wake.wait_for(lock, kWriterPeriod, [s] { return s->pending.size() > kWakeWriter; });
        }
        std::lock_guard file(s->file);
        s->write_pending();
      }
    }).detach();
  }
  enabled_.store(true);
}

void Trace::record(std::string_view line) {
  State* s = state_.load(std::memory_order_acquire);
  if (!s) return;
  bool wake = false;
  {
    std::lock_guard lock(s->lines);
    if (s->pending.size() + line.size() + 1 > kMaxPending) {
      ++s->dropped;
      return;
    }
    if (s->dropped) {
      s->pending += '(';
      s->pending += std::to_string(s->dropped);
      s->pending += " trace lines dropped: the trace file fell behind)\n";
      s->dropped = 0;
    }
    s->pending.append(line);
    s->pending.push_back('\n');
    wake = s->pending.size() > kWakeWriter;
  }
  if (wake) s->wake.notify_one();
}

void Trace::flush() {
  State* s = state_.load(std::memory_order_acquire);
  if (!s) return;
  std::lock_guard lock(s->file);
  s->write_pending();
}

void append_hex(std::string& out, unsigned long long value, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  out += "0x";
  for (int i = digits - 1; i >= 0; --i) out.push_back(kHex[(value >> (4 * i)) & 0xF]);
}

namespace {

// Appends the bytes escaped, without quotes; a blank is escaped too when `blank_is_plain` is false.
void append_escaped_bytes(std::string& out, const unsigned char* bytes, std::size_t size,
                          bool blank_is_plain) {
  static const char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < size; ++i) {
    unsigned char c = bytes[i];
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        if ((c > 0x20 || (c == 0x20 && blank_is_plain)) && c < 0x7F) {
          out.push_back(static_cast<char>(c));
        } else {
          out += "\\x";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        }
    }
  }
}

bool plain_name(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(),
                                      [](char c) { return c > 0x20 && c < 0x7F && c != '"' && c != '\\'; });
}

}  // namespace

void append_escaped(std::string& out, const void* data, std::size_t size, std::size_t limit) {
  bool abbreviate = size > limit;
  out.push_back('"');
  append_escaped_bytes(out, static_cast<const unsigned char*>(data), abbreviate ? limit / 2 : size, true);
  out.push_back('"');
  if (abbreviate) out += "... (" + std::to_string(size) + " bytes)";
}

void append_name(std::string& out, std::string_view name, std::size_t limit) {
  bool abbreviate = name.size() > limit;
  if (!abbreviate && plain_name(name)) {
    out += name;
    return;
  }
  out.push_back('"');
  append_escaped_bytes(out, reinterpret_cast<const unsigned char*>(name.data()),
                       abbreviate ? limit / 2 : name.size(), false);
  out.push_back('"');
  if (abbreviate) out += "...(" + std::to_string(name.size()) + "-bytes)";
}

namespace {

// " T<thread id> ", formatted once per thread.
const std::string& thread_tag() {
  thread_local const std::string tag = " T" + std::to_string(static_cast<long>(::syscall(SYS_gettid))) + " ";
  return tag;
}

// Appends `value` with exactly `digits` decimal digits (leading zeros).
void append_fixed(std::string& out, unsigned long long value, int digits) {
  char text[20];
  for (int i = digits - 1; i >= 0; --i, value /= 10) text[i] = static_cast<char>('0' + value % 10);
  out.append(text, static_cast<std::size_t>(digits));
}

// "2026-12-08T04:05:06.123456Z"; the date and time part is formatted once a second per thread.
void append_time(std::string& out) {
  using namespace std::chrono;
  auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(us / 1000000);
  thread_local std::time_t cached_second = -1;
  thread_local char cached[32];
  if (seconds != cached_second) {
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    std::strftime(cached, sizeof cached, "%Y-%m-%dT%H:%M:%S", &tm);
    cached_second = seconds;
  }
  out += cached;
  out += '.';
  append_fixed(out, static_cast<unsigned long long>(us % 1000000), 6);
  out += 'Z';
}

// " 12.3us": microseconds with one decimal.
void append_duration(std::string& out, long long nanoseconds) {
  unsigned long long tenths = static_cast<unsigned long long>(std::max(0LL, nanoseconds) + 50) / 100;
  out += ' ';
  out += std::to_string(tenths / 10);
  out += '.';
  out += static_cast<char>('0' + tenths % 10);
  out += "us";
}

}  // namespace

void TraceLine::finish(ViObject vi, std::string_view resource, std::string_view call,
                       std::string_view details, ViStatus status) {
  using namespace std::chrono;
  auto elapsed = duration_cast<nanoseconds>(steady_clock::now() - start_).count();
  thread_local std::string line;
  line.clear();
  append_time(line);
  line += thread_tag();
  append_hex(line, vi, 8);
  line += ' ';
  if (resource.empty()) {
    line += '-';
  } else {
    append_name(line, resource);
  }
  line += ' ';
  line += call;
  if (!details.empty()) {
    line += ' ';
    line += details;
  }
  line += " -> ";
  std::string_view name = status_name(status);
  if (name.empty()) {
    append_hex(line, static_cast<ViUInt32>(status), 8);
  } else {
    line += name;
  }
  append_duration(line, elapsed);
  Trace::instance().record(line);
}

}  // namespace pgx::visa
