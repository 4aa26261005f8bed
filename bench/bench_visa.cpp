// The VISA layer's speed: *IDN? round trips in process on the simulated bench, over loopback TCP to
// pgxsim next to a bare socket client and PyVISA with its pure-Python backend, the cost of the I/O trace,
// and service requests from "*OPC" to the event delivered, through the queue and to a handler.
//
// Run: bench_visa [--benchmark_filter=...]. The loopback benchmarks need pgxsim (built alongside) and, for
// the PyVISA comparison, /usr/bin/python3 with pyvisa and pyvisa-py; without them they are skipped.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "visa/visa.h"

namespace {

constexpr char kQuery[] = "*IDN?\n";
constexpr ViUInt32 kQueryLength = sizeof kQuery - 1;

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Results kept for the comparison printed at the end: name -> {rate per second, CPU microseconds per query}
// of every repetition; the summary compares medians.
struct Result {
  double rate = 0;
  double cpu_us = 0;
};
std::map<std::string, std::vector<Result>>& runs() {
  static std::map<std::string, std::vector<Result>> r;
  return r;
}
void record(const std::string& name, Result result) {
  runs()[name].push_back(result);
}

std::map<std::string, Result> medians() {
  std::map<std::string, Result> out;
  for (auto& [name, list] : runs()) {
    std::vector<double> rates, cpus;
    for (const auto& r : list) {
      rates.push_back(r.rate);
      cpus.push_back(r.cpu_us);
    }
    std::sort(rates.begin(), rates.end());
    std::sort(cpus.begin(), cpus.end());
    out[name] = {rates[rates.size() / 2], cpus[cpus.size() / 2]};
  }
  return out;
}

// Times a query loop: sets the rate and CPU-per-query counters and records them.
template <typename Query>
void run_queries(benchmark::State& state, const std::string& name, Query&& query) {
  double cpu_start = cpu_seconds();
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!query()) {
      state.SkipWithError("query failed");
      return;
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double cpu_us = (cpu_seconds() - cpu_start) / static_cast<double>(state.iterations()) * 1e6;
  state.SetItemsProcessed(state.iterations());
  state.counters["cpu_us_per_query"] = cpu_us;
  record(name, {static_cast<double>(state.iterations()) / seconds, cpu_us});
}

// ---- In process ------------------------------------------------------------------------------------

class BenchSession {
 public:
  explicit BenchSession(const std::string& resource) {
    if (viOpenDefaultRM(&rm_) < VI_SUCCESS) return;
    if (viOpen(rm_, resource.c_str(), VI_NULL, 2500, &vi_) < VI_SUCCESS) vi_ = VI_NULL;
    if (vi_) viSetAttribute(vi_, VI_ATTR_TERMCHAR_EN, VI_TRUE);
  }
  ~BenchSession() {
    if (rm_) viClose(rm_);
  }
  bool ok() const { return vi_ != VI_NULL; }
  bool query() {
    ViUInt32 count = 0;
    if (viWrite(vi_, reinterpret_cast<ViConstBuf>(kQuery), kQueryLength, &count) < VI_SUCCESS) return false;
    return viRead(vi_, buffer_, sizeof buffer_, &count) >= VI_SUCCESS && count > 0;
  }
  ViSession vi() const { return vi_; }

 private:
  ViSession rm_ = VI_NULL;
  ViSession vi_ = VI_NULL;
  ViByte buffer_[256];
};

// Tracing on for the life of the object, into a temporary file.
class TracingOn {
 public:
  TracingOn() {
    char pattern[] = "/tmp/pgx-bench-trace-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    path_ = pattern;
    setenv("PGX_VISA_TRACE", path_.c_str(), 1);
  }
  ~TracingOn() {
    unsetenv("PGX_VISA_TRACE");
    ViSession rm = VI_NULL;
    viOpenDefaultRM(&rm);  // switches tracing off
    viClose(rm);
    unlink(path_.c_str());
  }

 private:
  std::string path_;
};

void BM_IdnInProcess(benchmark::State& state) {
  BenchSession session("GPIB0::10::INSTR");
  if (!session.ok()) return state.SkipWithError("cannot open GPIB0::10::INSTR on the bench");
  run_queries(state, "in process", [&] { return session.query(); });
}
BENCHMARK(BM_IdnInProcess)->Iterations(1000000);

void BM_IdnInProcessTraced(benchmark::State& state) {
  TracingOn tracing;
  BenchSession session("GPIB0::10::INSTR");
  if (!session.ok()) return state.SkipWithError("cannot open GPIB0::10::INSTR on the bench");
  run_queries(state, "in process, traced", [&] { return session.query(); });
}
BENCHMARK(BM_IdnInProcessTraced)->Iterations(300000);

// The cheapest call, to isolate what one call costs with and without the trace.
void BM_GetAttribute(benchmark::State& state) {
  std::optional<TracingOn> tracing;
  if (state.range(0)) tracing.emplace();
  BenchSession session("GPIB0::10::INSTR");
  if (!session.ok()) return state.SkipWithError("cannot open GPIB0::10::INSTR on the bench");
  ViUInt32 timeout = 0;
  run_queries(state, state.range(0) ? "get attribute, traced" : "get attribute",
              [&] { return viGetAttribute(session.vi(), VI_ATTR_TMO_VALUE, &timeout) == VI_SUCCESS; });
}
BENCHMARK(BM_GetAttribute)->Arg(0)->Arg(1)->ArgName("traced")->Iterations(1000000);

// ---- Service requests ----------------------------------------------------------------------------------

// A session on an instrument that requests service when an operation completes (*ESE 1; *SRE 32): each
// "*CLS;*OPC" is one request.
class ServiceRequests {
 public:
  ServiceRequests() : session_("GPIB0::11::INSTR") { ok_ = session_.ok() && write("*CLS;*ESE 1;*SRE 32\n"); }
  ~ServiceRequests() {
    if (session_.ok()) write("*SRE 0;*ESE 0\n");
  }
  bool ok() const { return ok_; }
  ViSession vi() const { return session_.vi(); }
  bool request() { return write("*CLS;*OPC\n"); }
  // The serial poll that takes the request back, as an application does after each one.
  bool poll() {
    ViUInt16 stb = 0;
    return viReadSTB(vi(), &stb) >= VI_SUCCESS && (stb & 0x40);
  }

 private:
  bool write(const char* text) {
    ViUInt32 count = 0;
    return viWrite(vi(), reinterpret_cast<ViConstBuf>(text), static_cast<ViUInt32>(std::strlen(text)),
                   &count) >= VI_SUCCESS;
  }
  BenchSession session_;
  bool ok_ = false;
};

void BM_ServiceRequestQueued(benchmark::State& state) {
  ServiceRequests srq;
  if (!srq.ok() || viEnableEvent(srq.vi(), VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL) < VI_SUCCESS)
    return state.SkipWithError("cannot enable service requests");
  run_queries(state, "service request, queued", [&] {
    return srq.request() &&
           viWaitOnEvent(srq.vi(), VI_EVENT_SERVICE_REQ, 2000, VI_NULL, VI_NULL) >= VI_SUCCESS && srq.poll();
  });
}
BENCHMARK(BM_ServiceRequestQueued)->Iterations(100000);

// The handler polls the instrument on the library's thread and tells the benchmark's thread.
struct Delivery {
  std::mutex mutex;
  std::condition_variable arrived;
  long delivered = 0;
  static ViStatus _VI_FUNCH handle(ViSession vi, ViEventType, ViEvent, ViAddr user) {
    auto* self = static_cast<Delivery*>(user);
    ViUInt16 stb = 0;
    viReadSTB(vi, &stb);
    {
      std::lock_guard lock(self->mutex);
      ++self->delivered;
    }
    self->arrived.notify_one();
    return VI_SUCCESS;
  }
};

void BM_ServiceRequestHandled(benchmark::State& state) {
  ServiceRequests srq;
  Delivery delivery;
  if (!srq.ok() ||
      viInstallHandler(srq.vi(), VI_EVENT_SERVICE_REQ, &Delivery::handle, &delivery) < VI_SUCCESS ||
      viEnableEvent(srq.vi(), VI_EVENT_SERVICE_REQ, VI_HNDLR, VI_NULL) < VI_SUCCESS)
    return state.SkipWithError("cannot install a service request handler");
  long expected = 0;
  run_queries(state, "service request, handled", [&] {
    ++expected;
    if (!srq.request()) return false;
    std::unique_lock lock(delivery.mutex);
    return delivery.arrived.wait_for(lock, std::chrono::seconds(2),
                                     [&] { return delivery.delivered >= expected; });
  });
  viDisableEvent(srq.vi(), VI_EVENT_SERVICE_REQ, VI_ALL_MECH);
  viUninstallHandler(srq.vi(), VI_EVENT_SERVICE_REQ, &Delivery::handle, &delivery);
}
BENCHMARK(BM_ServiceRequestHandled)->Iterations(50000)->UseRealTime();

// ---- Over loopback TCP to pgxsim -------------------------------------------------------------------

int connect_loopback(unsigned port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// pgxsim in a child process for the whole run.
class Simulator {
 public:
  static Simulator& instance() {
    static Simulator sim;
    return sim;
  }
  unsigned port() const { return port_; }
  const std::string& problem() const { return problem_; }
  std::string resource() const { return "TCPIP0::127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }

  ~Simulator() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  Simulator() {
#ifdef PGXSIM_PATH
    int out[2];
    if (pipe(out) != 0) {
      problem_ = "no pipe";
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      int null = ::open("/dev/null", O_WRONLY);
      dup2(null, 2);
      close(out[0]);
      execl(PGXSIM_PATH, PGXSIM_PATH, "--port", "0", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    // pgxsim announces "pgxsim: listening on 127.0.0.1:<port>" once it listens.
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(out[0]);
    std::size_t colon = line.rfind(':');
    if (line.find("listening") == std::string::npos || colon == std::string::npos) {
      problem_ = "pgxsim did not start: " + line;
      return;
    }
    port_ = static_cast<unsigned>(std::stoul(line.substr(colon + 1)));
#else
    problem_ = "pgxsim is not built";
#endif
  }

  pid_t pid_ = -1;
  unsigned port_ = 0;
  std::string problem_;
};

// The least a client can do for a query: one send, and receive until the newline.
class BareClient {
 public:
  explicit BareClient(unsigned port) : fd_(connect_loopback(port)) {}
  ~BareClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  bool query() {
    if (send(fd_, kQuery, kQueryLength, MSG_NOSIGNAL) != static_cast<ssize_t>(kQueryLength)) return false;
    std::size_t got = 0;
    for (;;) {
      ssize_t n = recv(fd_, reply_ + got, sizeof reply_ - got, 0);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
      if (reply_[got - 1] == '\n') return true;
      if (got == sizeof reply_) return false;
    }
  }

 private:
  int fd_;
  char reply_[512];
};

void BM_IdnLoopbackBareSocket(benchmark::State& state) {
  Simulator& sim = Simulator::instance();
  if (!sim.problem().empty()) return state.SkipWithError(sim.problem().c_str());
  BareClient client(sim.port());
  if (!client.ok()) return state.SkipWithError("cannot connect to pgxsim");
  run_queries(state, "loopback, bare socket", [&] { return client.query(); });
}
BENCHMARK(BM_IdnLoopbackBareSocket)->Iterations(40000)->UseRealTime();

void BM_IdnLoopbackVisa(benchmark::State& state) {
  Simulator& sim = Simulator::instance();
  if (!sim.problem().empty()) return state.SkipWithError(sim.problem().c_str());
  BenchSession session(sim.resource());
  if (!session.ok()) return state.SkipWithError("cannot open a VISA socket session to pgxsim");
  run_queries(state, "loopback, VISA", [&] { return session.query(); });
}
BENCHMARK(BM_IdnLoopbackVisa)->Iterations(40000)->UseRealTime();

// The fair ratio: the two clients take turns in rounds, each round on a fresh connection with only that
// client connected. (Two clients connected at once do not see the same machine: which of pgxsim's client
// threads gets a quick wake-up depends on the scheduler, and that swamps the clients' own costs.)
void BM_IdnLoopbackVisaVsBare(benchmark::State& state) {
  Simulator& sim = Simulator::instance();
  if (!sim.problem().empty()) return state.SkipWithError(sim.problem().c_str());
  using clock = std::chrono::steady_clock;
  constexpr int kQueriesPerRound = 2000;
  clock::duration bare_time{}, visa_time{};
  long long rounds = 0;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      bool use_bare = (turn == 0) == (rounds % 2 == 0);  // the order alternates from round to round
      clock::duration& spent = use_bare ? bare_time : visa_time;
      if (use_bare) {
        BareClient bare(sim.port());
        if (!bare.ok()) return state.SkipWithError("cannot connect to pgxsim");
        bare.query();  // the connection is warm before timing starts
        auto t0 = clock::now();
        for (int i = 0; i < kQueriesPerRound; ++i)
          if (!bare.query()) return state.SkipWithError("bare query failed");
        spent += clock::now() - t0;
      } else {
        BenchSession visa(sim.resource());
        if (!visa.ok()) return state.SkipWithError("cannot open a VISA socket session to pgxsim");
        visa.query();
        auto t0 = clock::now();
        for (int i = 0; i < kQueriesPerRound; ++i)
          if (!visa.query()) return state.SkipWithError("VISA query failed");
        spent += clock::now() - t0;
      }
    }
    ++rounds;
  }
  double queries = static_cast<double>(rounds * kQueriesPerRound);
  double bare_rate = queries / std::chrono::duration<double>(bare_time).count();
  double visa_rate = queries / std::chrono::duration<double>(visa_time).count();
  state.counters["bare_per_second"] = bare_rate;
  state.counters["visa_per_second"] = visa_rate;
  state.counters["visa_over_bare"] = visa_rate / bare_rate;
  record("interleaved, bare socket", {bare_rate, 0});
  record("interleaved, VISA", {visa_rate, 0});
  record("interleaved, VISA over bare", {visa_rate / bare_rate, 0});
}
BENCHMARK(BM_IdnLoopbackVisaVsBare)->Iterations(10)->UseRealTime();

constexpr char kPyVisaScript[] = R"(
import resource, sys, time
import pyvisa
rm = pyvisa.ResourceManager('@py')
inst = rm.open_resource(sys.argv[1], read_termination='\n', write_termination='\n')
for _ in range(200):
    inst.query('*IDN?')
n = int(sys.argv[2])
r0 = resource.getrusage(resource.RUSAGE_SELF)
t0 = time.perf_counter()
for _ in range(n):
    inst.query('*IDN?')
t1 = time.perf_counter()
r1 = resource.getrusage(resource.RUSAGE_SELF)
cpu = (r1.ru_utime - r0.ru_utime) + (r1.ru_stime - r0.ru_stime)
print(n / (t1 - t0), cpu / n * 1e6, t1 - t0)
inst.close()
rm.close()
)";

// PyVISA with its pure-Python backend, as a subprocess against the same pgxsim.
void BM_IdnLoopbackPyVisaPy(benchmark::State& state) {
  Simulator& sim = Simulator::instance();
  if (!sim.problem().empty()) return state.SkipWithError(sim.problem().c_str());
  if (access("/usr/bin/python3", X_OK) != 0) return state.SkipWithError("/usr/bin/python3 is not installed");
  char path[] = "/tmp/pgx-bench-pyvisa-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0 || write(fd, kPyVisaScript, sizeof kPyVisaScript - 1) < 0)
    return state.SkipWithError("no temp file");
  close(fd);
  const int queries = 20000;
  std::string command = "/usr/bin/python3 " + std::string(path) + " " + sim.resource() + " " +
                        std::to_string(queries) + " 2>/dev/null";
  for (auto _ : state) {
    FILE* pipe = popen(command.c_str(), "r");
    double rate = 0, cpu_us = 0, seconds = 0;
    int fields = pipe ? std::fscanf(pipe, "%lf %lf %lf", &rate, &cpu_us, &seconds) : 0;
    if (pipe) pclose(pipe);
    if (fields != 3) {
      unlink(path);
      return state.SkipWithError(
          "PyVISA-py did not run (are python3-pyvisa and python3-pyvisa-py installed?)");
    }
    state.SetIterationTime(seconds / queries);
    state.counters["queries_per_second"] = rate;
    state.counters["cpu_us_per_query"] = cpu_us;
    record("loopback, PyVISA-py", {rate, cpu_us});
  }
  unlink(path);
}
BENCHMARK(BM_IdnLoopbackPyVisaPy)->Iterations(1)->UseManualTime();

void print_comparison() {
  auto r = medians();
  auto have = [&](const char* name) { return r.count(name) && r[name].rate > 0; };
  std::printf("\nSummary, medians of the repetitions (targets in brackets)\n");
  if (have("in process"))
    std::printf("  in-process *IDN? round trips: %.0f/s [>= 500000/s]\n", r["in process"].rate);
  if (have("service request, queued"))
    std::printf("  service request round trip (*OPC to the event, and the serial poll), queued: %.1f us\n",
                1e6 / r["service request, queued"].rate);
  if (have("service request, handled"))
    std::printf("  service request round trip, to a handler on the library's thread: %.1f us\n",
                1e6 / r["service request, handled"].rate);
  if (have("get attribute") && have("get attribute, traced"))
    std::printf("  trace cost per call (viGetAttribute, CPU incl. the writer thread): %.2f us [< 2 us]\n",
                r["get attribute, traced"].cpu_us - r["get attribute"].cpu_us);
  if (have("in process") && have("in process, traced"))
    std::printf("  trace cost per call in a query (2 calls, CPU incl. the writer thread): %.2f us [< 2 us]\n",
                (r["in process, traced"].cpu_us - r["in process"].cpu_us) / 2);
  if (have("interleaved, VISA over bare"))
    std::printf(
        "  loopback, taking turns in rounds: VISA %.0f/s vs bare socket %.0f/s: %.1f %% (median ratio) [>= "
        "90 %%]\n",
        r["interleaved, VISA"].rate, r["interleaved, bare socket"].rate,
        100 * r["interleaved, VISA over bare"].rate);
  if (have("loopback, VISA") && have("loopback, bare socket"))
    std::printf("  loopback, separate runs: VISA %.0f/s vs bare socket %.0f/s: %.1f %%\n",
                r["loopback, VISA"].rate, r["loopback, bare socket"].rate,
                100 * r["loopback, VISA"].rate / r["loopback, bare socket"].rate);
  if (have("loopback, VISA") && have("loopback, PyVISA-py")) {
    std::printf("  loopback VISA %.0f/s vs PyVISA-py %.0f/s: %.2fx [> 1]\n", r["loopback, VISA"].rate,
                r["loopback, PyVISA-py"].rate, r["loopback, VISA"].rate / r["loopback, PyVISA-py"].rate);
    std::printf("  CPU per query: VISA %.1f us vs PyVISA-py %.1f us: %.2f [<= 0.5]\n",
                r["loopback, VISA"].cpu_us, r["loopback, PyVISA-py"].cpu_us,
                r["loopback, VISA"].cpu_us / r["loopback, PyVISA-py"].cpu_us);
  }
}

}  // namespace

int main(int argc, char** argv) {
  unsetenv("PGX_VISA_TRACE");
  unsetenv("PGX_VISA_BENCH");
  unsetenv("PGX_VISA_LIBRARY");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  print_comparison();
  return 0;
}
