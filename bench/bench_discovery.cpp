// Discovery and start-up as a client sees them, through the registry and the loaded server module:
// Instruments.Refresh on benches of 100 resources (time, and VISA round trips and calls per resource taken
// from the VISA I/O trace), the parts of a pgx start (registry look-up, module load, root creation), and
// `pgx list` as a whole process next to pgx processes that stop earlier.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "automation/activation.h"
#include "automation/client.h"
#include "automation/registry.h"

extern char** environ;

namespace {

using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;

namespace fs = std::filesystem;

// A folder of its own for the bench files and traces.
const fs::path& WorkDir() {
  static const fs::path dir = [] {
    std::string pattern = (fs::temp_directory_path() / "pgx-bench-discovery-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    return fs::path(pattern);
  }();
  return dir;
}

// 100 resources: `pulse_generators` of them pulse generators on four GPIB boards, the rest serial ports of
// another kind.
std::string BenchFile(int pulse_generators) {
  const fs::path file = WorkDir() / ("bench-" + std::to_string(pulse_generators) + ".yaml");
  if (fs::exists(file)) return file.string();
  std::ofstream out(file);
  out << "resources:\n";
  for (int i = 0; i < pulse_generators; ++i) {
    out << "  - name: GPIB" << i / 25 << "::" << 1 + i % 25 << "::INSTR\n"
        << "    front-ends: [" << (i % 2 ? "Q530A, Q530A" : "Q510A") << "]\n";
  }
  for (int i = pulse_generators; i < 100; ++i)
    out << "  - name: ASRL" << i + 1 << "::INSTR\n    kind: serial-port\n";
  return file.string();
}

void UseRegistry() {
  ::setenv("PGX_REGISTRY", PGX_BENCH_REGISTRY, 1);
  ::setenv("PGX_VISA_TRACE", "", 1);
}

DispatchPtr CreateRoot() {
  CLSID clsid;
  IDispatch* root = nullptr;
  if (CLSIDFromProgID(u"Pgxsrv.PgxGen", &clsid) != S_OK ||
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                       reinterpret_cast<void**>(&root)) != S_OK) {
    std::fprintf(stderr, "bench_discovery: Pgxsrv.PgxGen cannot be created from %s\n", PGX_BENCH_REGISTRY);
    std::abort();
  }
  return DispatchPtr(pgx::auto_::AttachComPtr(root));
}

// Runs a program with its output thrown away; its exit status.
int Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What one traced `pgx list` on a bench did per resource: VISA calls, writes (each query is one write and
// one read: a round trip), and the time spent in each kind of call.
struct TraceSummary {
  std::map<std::string, int> calls, writes;
  std::map<std::string, double> microseconds_by_call;  // without the first resource manager (the bench load)
  double total_microseconds = 0;
  double bench_load_microseconds = 0;
};

TraceSummary TraceOfList(const std::string& bench) {
  const std::string trace = (WorkDir() / "list.trace").string();
  fs::remove(trace);
  Spawn({PGX_PATH, "--registry", PGX_BENCH_REGISTRY, "--bench", bench, "--trace", trace, "list"});
  TraceSummary summary;
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string time, thread, handle, resource, call;
    fields >> time >> thread >> handle >> resource >> call;
    const std::size_t at = line.rfind(' ');
    const std::string took = line.substr(at + 1);
    double us = std::atof(took.c_str());
    if (took.ends_with("ms")) us *= 1000;
    if (call == "viOpenDefaultRM" && summary.bench_load_microseconds == 0) {
      summary.bench_load_microseconds = us;  // the first one reads the bench file and starts its instruments
      continue;
    }
    summary.microseconds_by_call[call] += us;
    summary.total_microseconds += us;
    if (resource == "-") continue;
    ++summary.calls[resource];
    if (call == "viWrite") ++summary.writes[resource];
  }
  return summary;
}

// Instruments.Refresh through the server module on a bench of 100 resources.
void BM_InstrumentsRefresh(benchmark::State& state) {
  const int pulse_generators = static_cast<int>(state.range(0));
  const std::string bench = BenchFile(pulse_generators);
  UseRegistry();
  ::setenv("PGX_VISA_BENCH", bench.c_str(), 1);
  CoInitialize(nullptr);
  {
    DispatchPtr root = CreateRoot();
    DispatchPtr instruments(root.InvokeByName(u"Instruments", DISPATCH_PROPERTYGET).pdispVal);
    LONG count = 0;
    for (auto _ : state) {
      instruments.InvokeByName(u"Refresh", DISPATCH_METHOD);
      count = instruments.InvokeByName(u"Count", DISPATCH_PROPERTYGET).lVal;
    }
    if (count != pulse_generators) state.SkipWithError("the bench's pulse generators were not all found");
    state.counters["instruments"] = count;
    // Seconds per resource searched.
    state.counters["per_resource"] =
        benchmark::Counter(100.0 * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  }
  CoFreeUnusedLibrariesEx(0, 0);
  CoUninitialize();
  ::unsetenv("PGX_VISA_BENCH");

  // Where a refresh goes on the bus, from the trace of one `pgx list` on the same bench.
  const TraceSummary trace = TraceOfList(bench);
  double pg_writes = 0, pg_calls = 0, other_writes = 0, other_calls = 0;
  for (const auto& [resource, calls] : trace.calls) {
    const bool pg = resource.rfind("GPIB", 0) == 0;
    const int writes = trace.writes.count(resource) ? trace.writes.at(resource) : 0;
    (pg ? pg_writes : other_writes) += writes;
    (pg ? pg_calls : other_calls) += calls;
  }
  if (pulse_generators > 0) {
    state.counters["round_trips_per_pulse_generator"] = pg_writes / pulse_generators;
    state.counters["visa_calls_per_pulse_generator"] = pg_calls / pulse_generators;
  }
  if (pulse_generators < 100) {
    state.counters["round_trips_per_other_resource"] = other_writes / (100 - pulse_generators);
    state.counters["visa_calls_per_other_resource"] = other_calls / (100 - pulse_generators);
  }
  state.counters["bench_load_ms"] = trace.bench_load_microseconds / 1000;
  for (const char* call : {"viOpenDefaultRM", "viOpen", "viWrite", "viRead", "viGetAttribute", "viClose"}) {
    const auto it = trace.microseconds_by_call.find(call);
    if (it != trace.microseconds_by_call.end() && trace.total_microseconds > 0)
      state.counters[std::string("share_") + call] = it->second / trace.total_microseconds;
  }
}
BENCHMARK(BM_InstrumentsRefresh)->Arg(100)->Arg(4)->Unit(benchmark::kMillisecond);

// The look-up activation makes before it loads anything: the ProgID's class and its module.
void BM_RegistryLookup(benchmark::State& state) {
  UseRegistry();
  for (auto _ : state) {
    CLSID clsid;
    if (CLSIDFromProgID(u"Pgxsrv.PgxGen", &clsid) != S_OK) state.SkipWithError("not registered");
    auto module = pgx::auto_::RegReadString(
        HKEY_CLASSES_ROOT, u"CLSID\\" + pgx::auto_::GuidToU16String(clsid) + u"\\InprocServer32");
    benchmark::DoNotOptimize(module);
  }
}
BENCHMARK(BM_RegistryLookup)->Unit(benchmark::kMicrosecond);

// Creating the root with the module already loaded, and with a load and unload of the module (and the
// driver, VISA and simulator libraries it brings) each time.
void BM_CreateRoot(benchmark::State& state) {
  const bool reload = state.range(0) != 0;
  UseRegistry();
  CoInitialize(nullptr);
  DispatchPtr keep = reload ? DispatchPtr() : CreateRoot();
  for (auto _ : state) {
    DispatchPtr root = CreateRoot();
    benchmark::DoNotOptimize(root.GetInterfacePtr());
    root = nullptr;
    if (reload) CoFreeUnusedLibrariesEx(0, 0);
  }
  keep = nullptr;
  CoFreeUnusedLibrariesEx(0, 0);
  CoUninitialize();
  state.SetLabel(reload ? "module loaded and unloaded each time" : "module stays loaded");
}
BENCHMARK(BM_CreateRoot)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Discovery of the built-in bench (nine resources) in a fresh root, module loaded.
void BM_DefaultBenchDiscovery(benchmark::State& state) {
  UseRegistry();
  ::unsetenv("PGX_VISA_BENCH");
  CoInitialize(nullptr);
  {
    DispatchPtr keep = CreateRoot();
    for (auto _ : state) {
      DispatchPtr root = CreateRoot();
      DispatchPtr instruments(root.InvokeByName(u"Instruments", DISPATCH_PROPERTYGET).pdispVal);
      benchmark::DoNotOptimize(instruments.InvokeByName(u"Count", DISPATCH_PROPERTYGET).lVal);
    }
  }
  CoFreeUnusedLibrariesEx(0, 0);
  CoUninitialize();
}
BENCHMARK(BM_DefaultBenchDiscovery)->Unit(benchmark::kMillisecond);

// pgx as whole processes on the default bench, next to a process that does nothing: `--help` stops after
// starting (dynamic linking, CLI11), `members IRestrictions` after the registry, the module load and the
// root, `list` after discovery.
void BM_PgxProcess(benchmark::State& state) {
  static const std::vector<std::vector<std::string>> commands = {
      {"/bin/true"},
      {PGX_PATH, "--help"},
      {PGX_PATH, "--registry", PGX_BENCH_REGISTRY, "members", "IRestrictions"},
      {PGX_PATH, "--registry", PGX_BENCH_REGISTRY, "list"},
  };
  static const char* labels[] = {"/bin/true: a process of this machine", "pgx --help: pgx's start",
                                 "pgx members: + registry, module, root",
                                 "pgx list: + discovery and the table"};
  ::unsetenv("PGX_VISA_BENCH");
  ::setenv("PGX_VISA_TRACE", "", 1);
  const auto& command = commands[static_cast<std::size_t>(state.range(0))];
  for (auto _ : state) {
    if (Spawn(command) != 0) state.SkipWithError("pgx failed");
  }
  state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(BM_PgxProcess)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
