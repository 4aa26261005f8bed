// Remote calls on loopback: a property get through the IDispatch proxy against a bare TCP round trip of
// the same size, a chain of four members (one round trip, carried out by the host) against the same four
// members called one by one, and the throughput of eight clients at once on one host; each also in
// process, for scale. The host runs on a thread of this program, as pgxd runs it; the objects come from
// the test server module, registered in the build's own registry.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "automation/activation.h"
#include "automation/apartment.h"
#include "automation/client.h"
#include "automation/member_chain.h"
#include "automation/remote/host.h"
#include "automation/testing/testsrv_idl.h"

namespace {

using pgx::auto_::ComPtr;
using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;

// Bytes of one property get on the wire, each way, as Cap'n Proto frames them (measured with strace on
// this benchmark): the call (168) with the Finish of the call before it (40), and the answer. The bare
// round trip moves the same.
constexpr std::size_t kRequestBytes = 208;
constexpr std::size_t kResponseBytes = 144;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "bench_remote: %s\n", what);
  std::abort();
}

// The host on its own thread for the whole run.
class HostThread {
 public:
  HostThread() {
    std::promise<std::string> ready;
    auto started = ready.get_future();
    thread_ = std::thread([this, &ready] {
      pgx::remote::HostOptions options;
      options.listen = "127.0.0.1:0";
      pgx::remote::Host host(options);
      host_ = &host;
      ready.set_value(host.address());
      host.Run();
    });
    address_ = started.get();
    name_.assign(address_.begin(), address_.end());
  }
  ~HostThread() {
    host_->Stop();
    thread_.join();
  }
  const std::u16string& name() const { return name_; }

 private:
  std::thread thread_;
  pgx::remote::Host* host_ = nullptr;
  std::string address_;
  std::u16string name_;
};

HostThread& Host() {
  static HostThread host;
  return host;
}

ComPtr<IDispatch> RemoteWidget() {
  std::u16string name = Host().name();
  COSERVERINFO info{0, name.data(), nullptr, 0};
  MULTI_QI qi{&IID_IDispatch, nullptr, S_OK};
  if (FAILED(CoCreateInstanceEx(CLSID_Widget, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi)))
    Fail("no remote widget");
  ComPtr<IDispatch> widget;
  widget.Attach(static_cast<IDispatch*>(qi.pItf));
  return widget;
}

ComPtr<IDispatch> LocalWidget() {
  ComPtr<IDispatch> widget;
  if (FAILED(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              widget.ReleaseAndGetAddressOfVoid())))
    Fail("no local widget");
  return widget;
}

void GetCount(benchmark::State& state, IDispatch* widget) {
  const DISPID count = DispatchPtr(widget).GetIDOfName(u"Count");
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    if (FAILED(widget->Invoke(count, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr)))
      Fail("Count failed");
    benchmark::DoNotOptimize(result.lVal);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_PropertyGetRemote(benchmark::State& state) {
  pgx::auto_::ApartmentScope apartment;
  GetCount(state, RemoteWidget().Get());
}
BENCHMARK(BM_PropertyGetRemote)->UseRealTime();

void BM_PropertyGetInProcess(benchmark::State& state) {
  pgx::auto_::ApartmentScope apartment;
  GetCount(state, LocalWidget().Get());
}
BENCHMARK(BM_PropertyGetInProcess);

// A peer that answers every request of kRequestBytes with kResponseBytes, on a thread of its own.
class EchoPeer {
 public:
  EchoPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 1) != 0)
      Fail("no echo peer");
    socklen_t length = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      const int s = ::accept(listener_, nullptr, nullptr);
      int one = 1;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      char in[kRequestBytes];
      char out[kResponseBytes] = {};
      for (;;) {
        std::size_t got = 0;
        while (got < sizeof in) {
          const ssize_t n = ::read(s, in + got, sizeof in - got);
          if (n <= 0) {
            ::close(s);
            return;
          }
          got += static_cast<std::size_t>(n);
        }
        if (::write(s, out, sizeof out) != static_cast<ssize_t>(sizeof out)) break;
      }
      ::close(s);
    });
  }
  ~EchoPeer() {
    thread_.join();
    ::close(listener_);
  }
  std::uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

void BM_BareTcpRoundTrip(benchmark::State& state) {
  EchoPeer peer;
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(peer.port());
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    Fail("no connection to the echo peer");
  int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char out[kRequestBytes] = {};
  char in[kResponseBytes];
  for (auto _ : state) {
    if (::write(s, out, sizeof out) != static_cast<ssize_t>(sizeof out)) Fail("write");
    std::size_t got = 0;
    while (got < sizeof in) {
      const ssize_t n = ::read(s, in + got, sizeof in - got);
      if (n <= 0) Fail("read");
      got += static_cast<std::size_t>(n);
    }
  }
  ::close(s);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareTcpRoundTrip)->UseRealTime();

std::vector<pgx::auto_::MemberStep> FourMembers() {
  std::vector<pgx::auto_::MemberStep> steps(4);
  steps[0].name = u"Item";
  steps[0].args.push_back(Variant(LONG{2}));
  steps[1].name = u"Parent";
  steps[2].name = u"Child";
  steps[3].name = u"Index";
  return steps;
}

void Chain(benchmark::State& state, IDispatch* widget) {
  const auto steps = FourMembers();
  for (auto _ : state) benchmark::DoNotOptimize(pgx::auto_::InvokeChain(widget, steps).lVal);
  state.SetItemsProcessed(state.iterations());
}

// The same four members, each call waiting for its answer before the next.
void OneByOne(benchmark::State& state, IDispatch* widget) {
  const Variant two(LONG{2});
  for (auto _ : state) {
    DispatchPtr item(widget);
    Variant child = item.InvokeByName(u"Item", DISPATCH_PROPERTYGET, {two});
    Variant parent = DispatchPtr(child.pdispVal).InvokeByName(u"Parent", DISPATCH_PROPERTYGET);
    Variant again = DispatchPtr(parent.pdispVal).InvokeByName(u"Child", DISPATCH_PROPERTYGET);
    benchmark::DoNotOptimize(DispatchPtr(again.pdispVal).InvokeByName(u"Index", DISPATCH_PROPERTYGET).lVal);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_ChainOfFourRemote(benchmark::State& state) {
  pgx::auto_::ApartmentScope apartment;
  Chain(state, RemoteWidget().Get());
}
BENCHMARK(BM_ChainOfFourRemote)->UseRealTime();

void BM_FourSeparateCallsRemote(benchmark::State& state) {
  pgx::auto_::ApartmentScope apartment;
  OneByOne(state, RemoteWidget().Get());
}
BENCHMARK(BM_FourSeparateCallsRemote)->UseRealTime();

void BM_ChainOfFourInProcess(benchmark::State& state) {
  pgx::auto_::ApartmentScope apartment;
  Chain(state, LocalWidget().Get());
}
BENCHMARK(BM_ChainOfFourInProcess);

void BM_FourSeparateCallsInProcess(benchmark::State& state) {
  pgx::auto_::ApartmentScope apartment;
  OneByOne(state, LocalWidget().Get());
}
BENCHMARK(BM_FourSeparateCallsInProcess);

// Eight clients, each with its own connection and widget, on one host (which serves them in turn).
void BM_PropertyGetEightClientsRemote(benchmark::State& state) {
  pgx::auto_::ApartmentScope apartment;
  GetCount(state, RemoteWidget().Get());
}
BENCHMARK(BM_PropertyGetEightClientsRemote)->Threads(8)->UseRealTime();

void BM_PropertyGetEightClientsInProcess(benchmark::State& state) {
  pgx::auto_::ApartmentScope apartment;
  GetCount(state, LocalWidget().Get());
}
BENCHMARK(BM_PropertyGetEightClientsInProcess)->Threads(8)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  ::setenv("PGX_REGISTRY", PGX_TEST_REGISTRY, 0);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
