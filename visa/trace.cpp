#include "visa/trace.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "visa/status.h"

namespace pgx::visa {

namespace {

constexpr std::size_t kMaxPending = 16 * 1024 * 1024;  // beyond this, lines are counted and dropped
constexpr auto kWriterPeriod = std::chrono::milliseconds(50);
constexpr std::size_t kWakeWriter = 256 * 1024;  // the writer wakes early when this much is waiting
// A file that takes nothing for this long after another one replaced it gets none of its remaining lines.
constexpr auto kGiveUpReplaced = std::chrono::seconds(1);
// How long flush() waits for the file to take what has been recorded; also at program exit.
constexpr auto kFlushLimit = std::chrono::seconds(2);

// One trace file, open for as long as lines for it wait to be written.
struct Sink {
  Sink(int descriptor, std::string file_path) : fd(descriptor), path(std::move(file_path)) {}
  ~Sink() { ::close(fd); }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  const int fd;
  const std::string path;
  // Writing to it failed (a pipe whose reader went away), or it took nothing for a while after another file
  // replaced it: its remaining lines are dropped.
  bool failed = false;
};

// Lines recorded for one sink, in order.
struct Batch {
  std::shared_ptr<Sink> sink;
  std::string text;
};

void report_once(std::set<std::string>& reported, const std::string& path, const std::string& message) {
  if (reported.insert(path).second) std::fprintf(stderr, "pgxvisa: %s\n", message.c_str());
}

}  // namespace

// Traced calls only append to `batches` under `lines`, briefly. The writer thread alone writes to the
// files, with no lock held, so a slow disk or a pipe that nobody reads holds up the writer but never a
// traced call, a change of the trace file, or the end of the program (whose flush waits a bounded time).
struct Trace::State {
  std::mutex lines;                 // guards everything down to `writer_started`
  std::condition_variable wake;     // the writer: lines are waiting, or a flush asks for them
  std::condition_variable settled;  // flush(): the writer has dealt with more lines
  std::deque<Batch> batches;
  std::shared_ptr<Sink> current;  // the file new lines go to; null when tracing is off
  std::size_t pending = 0;        // bytes in `batches`
  unsigned long long dropped = 0;
  std::uint64_t recorded = 0;  // bytes recorded since the start, and of those, written or dropped
  std::uint64_t done = 0;
  bool flush_wanted = false;
  bool writer_started = false;

  std::mutex config;  // guards path; serialises changes of the trace file (never held by the writer)
  std::string path;

  std::mutex report;               // guards reported
  std::set<std::string> reported;  // paths already reported as unusable

  void writer();
  // Writes one batch; gives up when its file fails, or has been replaced and takes nothing for a while.
  void write(Batch& batch);
};

void Trace::State::writer() {
  std::deque<Batch> work;
  for (;;) {
    {
      std::unique_lock lock(lines);
      wake.wait_for(lock, kWriterPeriod, [this] { return pending > kWakeWriter || flush_wanted; });
      flush_wanted = false;
      work.swap(batches);
      pending = 0;
    }
    for (auto& batch : work) {
      write(batch);
      std::lock_guard lock(lines);
      done += batch.text.size();
      settled.notify_all();
    }
    work.clear();  // closes the files that nothing is waiting for any more
  }
}

void Trace::State::write(Batch& batch) {
  Sink& sink = *batch.sink;
  std::size_t written = 0;
  auto progress = std::chrono::steady_clock::now();
  while (written < batch.text.size() && !sink.failed) {
    ssize_t n = ::write(sink.fd, batch.text.data() + written, batch.text.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      progress = std::chrono::steady_clock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A pipe that is full: wait for its reader, but not for a file that has been replaced.
      bool replaced;
      {
        std::lock_guard lock(lines);
        replaced = current != batch.sink;
      }
      if (replaced && std::chrono::steady_clock::now() - progress > kGiveUpReplaced) {
        sink.failed = true;  // and the rest of its lines go too
        break;
      }
      pollfd p{sink.fd, POLLOUT, 0};
      ::poll(&p, 1, static_cast<int>(kWriterPeriod.count()));
      continue;
    }
    // The file refuses lines (a pipe whose reader went away, a full disk): a failing trace file never
    // fails the traced I/O. Tracing goes off; the next resource manager tries the file again.
    sink.failed = true;
    int error = errno;
    {
      std::lock_guard lock(lines);
      if (current == batch.sink) {
        current = nullptr;
        Trace::instance().enabled_.store(false);
      }
    }
    std::lock_guard lock(report);
    report_once(reported, sink.path,
                "the I/O trace file " + sink.path + " stopped taking lines: " + std::strerror(error) +
                    "; tracing is off");
  }
}

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
  open(wanted, /*unless_open=*/true);
}

void Trace::open(const std::string& path) {
  open(path, /*unless_open=*/false);
}

void Trace::open(const std::string& path, bool unless_open) {
  State* s = state();
  std::lock_guard config(s->config);
  if (unless_open && s->path == path && (enabled() || path.empty())) return;
  s->path = path;
  std::shared_ptr<Sink> sink;
  if (!path.empty()) {
    // Non-blocking: a pipe that nobody reads is refused at once (ENXIO) instead of waiting for a reader,
    // and a full one makes writes wait in the writer thread only.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
      int error = errno;
      std::lock_guard lock(s->report);
      report_once(
          s->reported, path,
          "cannot open the I/O trace file " + path + ": " +
              (error == ENXIO ? std::string("it is a pipe that no program reads") : std::strerror(error)) +
              "; tracing is off");
    } else {
      sink = std::make_shared<Sink>(fd, path);
      std::lock_guard lock(s->report);
      s->reported.erase(path);  // usable again: a later failure is worth reporting
    }
  }
  bool start_writer = false;
  bool replaced = false;
  {
    std::lock_guard lock(s->lines);
    replaced = s->current != nullptr;
    s->current = sink;
    enabled_.store(sink != nullptr);
    start_writer = sink && !s->writer_started;
    if (start_writer) s->writer_started = true;
  }
  // The file tracing leaves is complete when this returns (unless it takes nothing for a while).
  if (replaced) flush();
  if (start_writer) {
    // The writer takes no signals: a pipe whose reader went away makes its write fail with EPIPE
    // instead of ending the program with SIGPIPE.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    std::thread([s] { s->writer(); }).detach();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
}

void Trace::record(std::string_view line) {
  State* s = state_.load(std::memory_order_acquire);
  if (!s) return;
  bool wake = false;
  {
    std::lock_guard lock(s->lines);
    if (!s->current) return;
    if (s->pending + line.size() + 1 > kMaxPending) {
      ++s->dropped;
      return;
    }
    if (s->batches.empty() || s->batches.back().sink != s->current) s->batches.push_back({s->current, {}});
    std::string& text = s->batches.back().text;
    std::size_t before = text.size();
    if (s->dropped) {
      text += '(';
      text += std::to_string(s->dropped);
      text += " trace lines dropped: the trace file fell behind)\n";
      s->dropped = 0;
    }
    text.append(line);
    text.push_back('\n');
    s->pending += text.size() - before;
    s->recorded += text.size() - before;
    wake = s->pending > kWakeWriter;
  }
  if (wake) s->wake.notify_one();
}

void Trace::flush() {
  State* s = state_.load(std::memory_order_acquire);
  if (!s) return;
  std::unique_lock lock(s->lines);
  if (!s->writer_started) return;
  std::uint64_t target = s->recorded;
  s->flush_wanted = true;
  s->wake.notify_one();
  s->settled.wait_for(lock, kFlushLimit, [s, target] { return s->done >= target; });
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
