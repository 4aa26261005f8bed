// The simulated instruments' speed: the SCPI engine in process, and pgxsim's round trips over loopback TCP
// against a minimal echo server written straight on sockets, measured in the same run.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "apps/pgxsim/tcp_server.h"
#include "sim/device.h"

namespace {

// ---- In process -------------------------------------------------------------------------------------

void BM_InProcessSetAndQuery(benchmark::State& state) {
  pgx::sim::DeviceConfig cfg;
  cfg.front_ends = {"M4030A", "M4040A"};
  auto device = pgx::sim::make_device(cfg);
  char buf[64];
  bool end = false;
  for (auto _ : state) {
    device->write("VOLT1:HIGH 2.5V\n");
    device->write("VOLT1?\n");
    std::size_t n = device->read(buf, sizeof buf, end);
    benchmark::DoNotOptimize(n);
    if (n == 0 || !end) {
      state.SkipWithError("no reply");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * 2);  // two commands per iteration
}
BENCHMARK(BM_InProcessSetAndQuery);

// ---- Loopback TCP -------------------------------------------------------------------------------------

int connect_to(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// One query out, one line back.
bool round_trip(int fd, const char* query, std::size_t len) {
  if (::send(fd, query, len, MSG_NOSIGNAL) != static_cast<ssize_t>(len)) return false;
  char buf[256];
  while (true) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    if (buf[n - 1] == '\n') return true;
  }
}

// The baseline: a blocking echo server, one client, nothing but recv and send.
class EchoServer {
 public:
  EchoServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 4) != 0)
      throw std::runtime_error("echo server");
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      char buf[4096];
      while (true) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        if (::send(fd, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
      }
      ::close(fd);
    });
  }
  ~EchoServer() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  std::uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

void BM_TcpRoundTripEcho(benchmark::State& state) {
  EchoServer echo;
  int fd = connect_to(echo.port());
  static const char kQuery[] = "VOLT1?\n";
  for (auto _ : state) {
    if (!round_trip(fd, kQuery, sizeof kQuery - 1)) {
      state.SkipWithError("echo round trip failed");
      break;
    }
  }
  ::close(fd);
  state.SetItemsProcessed(state.iterations());
}

void BM_TcpRoundTripPgxsim(benchmark::State& state) {
  pgx::sim::ServerOptions o;
  o.port = 0;
  o.instrument.front_ends = {"M4030A", "M4040A"};
  pgx::sim::TcpServer server(o);
  std::thread thread([&] { server.run(); });
  int fd = connect_to(server.port());
  static const char kQuery[] = "VOLT1?\n";
  for (auto _ : state) {
    if (!round_trip(fd, kQuery, sizeof kQuery - 1)) {
      state.SkipWithError("pgxsim round trip failed");
      break;
    }
  }
  ::close(fd);
  server.stop();
  thread.join();
  state.SetItemsProcessed(state.iterations());
}

// The machine is shared and loopback rates drift, so the two are run alternately, several times each, and
// compared by their medians.
constexpr int kRounds = 7;
void register_round_trips() {
  for (int i = 0; i < kRounds; ++i) {
    benchmark::RegisterBenchmark("BM_TcpRoundTripEcho", BM_TcpRoundTripEcho)->MinTime(0.5)->UseRealTime();
    benchmark::RegisterBenchmark("BM_TcpRoundTripPgxsim", BM_TcpRoundTripPgxsim)->MinTime(0.5)->UseRealTime();
  }
}

// Collects every run's rate to print the medians and the ratio the targets are stated in.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("items_per_second");
      if (it == r.counters.end() || r.run_type == Run::RT_Aggregate) continue;
      const std::string name = r.benchmark_name();
      rates[name.substr(0, name.find('/'))].push_back(it->second.value);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  static double median_of(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
  double median(const std::string& name) { return median_of(rates[name]); }
  // The median of the ratios of runs made back to back: drifts of the machine between pairs cancel.
  double paired_ratio(const std::string& num, const std::string& den) {
    const std::vector<double>& a = rates[num];
    const std::vector<double>& b = rates[den];
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
      if (b[i] > 0) ratios.push_back(a[i] / b[i]);
    return median_of(ratios);
  }
  std::map<std::string, std::vector<double>> rates;
};

}  // namespace

int main(int argc, char** argv) {
  register_round_trips();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  auto rate = [&](const char* name) { return reporter.median(name); };
  const double in_process = rate("BM_InProcessSetAndQuery");
  const double echo = rate("BM_TcpRoundTripEcho");
  const double pgxsim = rate("BM_TcpRoundTripPgxsim");
  if (in_process > 0)
    std::printf("in process: %.0f commands/s (target >= 1000000: %s)\n", in_process,
                in_process >= 1e6 ? "met" : "MISSED");
  if (echo > 0 && pgxsim > 0) {
    const double paired = reporter.paired_ratio("BM_TcpRoundTripPgxsim", "BM_TcpRoundTripEcho");
    std::printf(
        "loopback TCP, medians of %d alternating runs: pgxsim %.0f round trips/s, echo %.0f/s (ratio of "
        "medians "
        "%.1f %%)\n",
        kRounds, pgxsim, echo, 100 * pgxsim / echo);
    std::printf("loopback TCP, median ratio of back-to-back pairs: %.1f %% (target >= 90 %%: %s)\n",
                100 * paired, paired >= 0.9 ? "met" : "MISSED");
  }
  return 0;
}
