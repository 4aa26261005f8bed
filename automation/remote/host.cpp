#include "automation/remote/host.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <capnp/capability.h>
#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#include <kj/async-unix.h>
#include <kj/compat/tls.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "automation/activation.h"
#include "automation/apartment.h"
#include "automation/comptr.h"
#include "automation/errorinfo.h"
#include "automation/guid.h"
#include "automation/remote/batching_stream.h"
#include "automation/remote/dispatch.capnp.h"
#include "automation/remote/server_address.h"
#include "automation/remote/type_description.h"
#include "automation/remote/value_compare.h"
#include "automation/remote/wire_variant.h"
#include "automation/variant.h"

namespace pgx::remote {

using pgx::auto_::ComPtr;
using pgx::auto_::Variant;

namespace {

using Clock = std::chrono::steady_clock;

// What one connection did, for its closing log line.
struct ConnectionStats {
  std::string peer;
  Clock::time_point since = Clock::now();
  std::size_t objects = 0;  // held for the client now
  std::size_t calls = 0;
};

bool SameSecret(capnp::Data::Reader given, const std::string& expected) {
  // Compares every byte whatever the first difference, so the time taken tells nothing about the token.
  unsigned char diff = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const unsigned char g = i < given.size() ? given[i] : 0;
    diff |= static_cast<unsigned char>(g ^ static_cast<unsigned char>(expected[i]));
  }
  return diff == 0;
}

std::string HresultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  const char* text = pgx::auto_::SystemMessageText(hr);
  return text ? std::string(code) + " (" + text + ")" : std::string(code);
}

void FreeExcepInfo(EXCEPINFO& excep) {
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
}

// The thread's error information (after a failed activation) as an EXCEPINFO on the wire.

void TakeErrorInfo(HRESULT hr, wire::ExcepInfo::Builder out, std::string& description) {
  EXCEPINFO excep{};
  excep.scode = hr;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    info->GetSource(&excep.bstrSource);
    info->GetDescription(&excep.bstrDescription);
    info->GetHelpFile(&excep.bstrHelpFile);
    info->GetHelpContext(&excep.dwHelpContext);
    info->Release();
  }
  if (excep.bstrDescription)
    pgx::auto_::Utf16ToUtf8(pgx::auto_::BstrView(excep.bstrDescription), description);
  EncodeExcepInfo(excep, out);
  FreeExcepInfo(excep);
}

// Puts what a member's Invoke left in `excep` into the reply when the member raised an exception, and
// frees its strings either way.
template <typename Results>
void SendExcepInfo(HRESULT hr, EXCEPINFO& excep, Results& results) {
  if (hr == DISP_E_EXCEPTION) {
    if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    EncodeExcepInfo(excep, results.initExcepInfo());
  }
  FreeExcepInfo(excep);
}

// An object result again where a following call can be pipelined on it.
template <typename Results>
void OfferResultObject(Results& results) {
  auto r = results.getResult();
  if (r.isDispatch()) results.setObject(r.getDispatch());
  if (r.isUnknown()) results.setObject(r.getUnknown());
}

}  // namespace

class DispatchServer;

struct Host::State {
  explicit State(HostOptions o) : options(std::move(o)), io(kj::setupAsyncIo()) {}

  void Log(const std::string& line) {
    if (options.log) options.log(line);
  }

  kj::Promise<void> AcceptLoop();
  kj::Promise<void> Serve(kj::Own<kj::AsyncIoStream> stream, std::string peer);
  void Serving(kj::Own<kj::AsyncIoStream> stream, std::shared_ptr<ConnectionStats> stats);

  wire::Dispatch::Client Export(IDispatch* object, const std::shared_ptr<ConnectionStats>& stats);

  HostOptions options;
  // The host's thread is an apartment of its own, where every object lives.
  pgx::auto_::ApartmentScope apartment{COINIT_APARTMENTTHREADED};
  kj::AsyncIoContext io;
  kj::Own<kj::TlsKeypair> keypair;
  kj::Own<kj::TlsContext> tls;
  kj::Own<kj::ConnectionReceiver> listener;
  capnp::CapabilityServerSet<wire::Dispatch> exported;
  std::string address;
  std::uint16_t port = 0;
  int stop_pipe[2] = {-1, -1};
  std::size_t live_objects = 0;

  struct Connection {
    Connection(kj::Own<kj::AsyncIoStream> s, capnp::Capability::Client bootstrap)
        : stream(kj::mv(s)),
          network(*stream, capnp::rpc::twoparty::Side::SERVER),
          rpc(capnp::makeRpcServer(network, kj::mv(bootstrap))) {}
    kj::Own<kj::AsyncIoStream> stream;
    capnp::TwoPartyVatNetwork network;
    capnp::RpcSystem<capnp::rpc::twoparty::VatId> rpc;
  };
  std::map<std::uint64_t, kj::Own<Connection>> connections;
  std::uint64_t next_connection = 0;

  struct TaskErrors final : kj::TaskSet::ErrorHandler {
    explicit TaskErrors(State& s) : state(s) {}
    void taskFailed(kj::Exception&& e) override {
      state.Log("failure: " + std::string(e.getDescription().cStr()));
    }
    State& state;
  } task_errors{*this};
  kj::Own<kj::TaskSet> tasks = kj::heap<kj::TaskSet>(task_errors);
};

// An object held for a client: every call is carried out at once, on the host's thread.
class DispatchServer final : public wire::Dispatch::Server {
 public:
  DispatchServer(Host::State& state, std::shared_ptr<ConnectionStats> stats, IDispatch* object)
      : state_(state), stats_(std::move(stats)), object_(object) {
    ++stats_->objects;
    ++state_.live_objects;
  }
  ~DispatchServer() {
    --stats_->objects;
    --state_.live_objects;
  }

  IDispatch* object() const { return object_.Get(); }

 protected:
  kj::Promise<void> getIDsOfNames(GetIDsOfNamesContext context) override {
    auto params = context.getParams();
    auto names = params.getNames();
    std::vector<std::u16string> texts;
    texts.reserve(names.size());
    for (auto n : names) texts.push_back(Utf16FromBytes(n));
    std::vector<LPOLESTR> pointers;
    for (auto& t : texts) pointers.push_back(t.data());
    std::vector<DISPID> ids(texts.size(), DISPID_UNKNOWN);
    ++stats_->calls;
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(pointers.size()),
                                        params.getLcid(), ids.data());
    auto results = context.getResults(kCallMessageSize);
    results.setHresult(hr);
    auto out = results.initIds(static_cast<unsigned>(ids.size()));
    for (unsigned i = 0; i < ids.size(); ++i) out.set(i, ids[i]);
    return kj::READY_NOW;
  }

  kj::Promise<void> invoke(InvokeContext context) override;
  kj::Promise<void> invokeChain(InvokeChainContext context) override;

  kj::Promise<void> getTypeInfo(GetTypeInfoContext context) override {
    ++stats_->calls;
    ComPtr<ITypeInfo> info;
    HRESULT hr = object_->GetTypeInfo(0, context.getParams().getLcid(), info.ReleaseAndGetAddressOf());
    auto results = context.getResults();
    if (SUCCEEDED(hr) && !info) hr = E_NOTIMPL;
    if (SUCCEEDED(hr)) hr = DescribeTypeInfo(info.Get(), results);
    results.setHresult(hr);
    return kj::READY_NOW;
  }

 private:
  void Call(InvokeContext& context, std::vector<ComPtr<IDispatch>> received);
  void Chain(InvokeChainContext& context, std::vector<ComPtr<IDispatch>> received);
  // The objects behind capabilities the client passed back, in order: this host's own, found before the
  // call; none when one of them is not.
  kj::Promise<std::optional<std::vector<ComPtr<IDispatch>>>> Received(
      std::vector<wire::Dispatch::Client> capabilities);
  // Runs `run(context, objects)` with the objects behind `capabilities`, at once when there are none;
  // answers RPC_E_SERVER_CANTUNMARSHAL_DATA when one of them is not this host's.
  template <class Context, class Run>
  kj::Promise<void> WithReceived(Context context, std::vector<wire::Dispatch::Client> capabilities, Run run);

  Host::State& state_;
  std::shared_ptr<ConnectionStats> stats_;
  ComPtr<IDispatch> object_;
};

namespace {

// Capabilities in received arguments, in the order DecodeVariant meets them.
void CollectCapabilities(wire::Variant::Reader v, std::vector<wire::Dispatch::Client>& out) {
  switch (v.which()) {
    case wire::Variant::DISPATCH:
      out.push_back(v.getDispatch());
      break;
    case wire::Variant::UNKNOWN:
      out.push_back(v.getUnknown());
      break;
    case wire::Variant::ARRAY:
      if (v.getArray().isItems()) {
        for (auto item : v.getArray().getItems()) CollectCapabilities(item, out);
      }
      break;
    case wire::Variant::ENUMERATOR:
      for (auto item : v.getEnumerator()) CollectCapabilities(item, out);
      break;
    default:
      break;
  }
}

bool IsNull(wire::Dispatch::Client& c) {
  return capnp::ClientHook::from(kj::cp(c))->isNull();
}

// The host's side of objects: its own objects go out as new capabilities; what comes back in arguments
// must be one of them (resolved before the call, in order).
class HostObjects final : public ObjectMarshal {
 public:
  HostObjects(Host::State& state, const std::shared_ptr<ConnectionStats>& stats,
              std::vector<ComPtr<IDispatch>> received)
      : state_(state), stats_(stats), received_(std::move(received)) {}

  HRESULT Export(IDispatch* object, wire::Dispatch::Client& out) override {
    out = state_.Export(object, stats_);
    return S_OK;
  }
  HRESULT Import(wire::Dispatch::Client, IDispatch** out) override {
    if (next_ >= received_.size() || !received_[next_]) return RPC_E_SERVER_CANTUNMARSHAL_DATA;
    *out = received_[next_++].Detach();
    return S_OK;
  }

 private:
  Host::State& state_;
  const std::shared_ptr<ConnectionStats>& stats_;
  std::vector<ComPtr<IDispatch>> received_;
  std::size_t next_ = 0;
};

}  // namespace

wire::Dispatch::Client Host::State::Export(IDispatch* object, const std::shared_ptr<ConnectionStats>& stats) {
  return exported.add(kj::heap<DispatchServer>(*this, stats, object));
}

kj::Promise<std::optional<std::vector<ComPtr<IDispatch>>>> DispatchServer::Received(
    std::vector<wire::Dispatch::Client> capabilities) {
  auto lookups = kj::heapArrayBuilder<kj::Promise<IDispatch*>>(capabilities.size());
  for (auto& c : capabilities) {
    if (IsNull(c)) {
      lookups.add(static_cast<IDispatch*>(nullptr));
      continue;
    }
    lookups.add(state_.exported.getLocalServer(c).then(
        [](kj::Maybe<wire::Dispatch::Server&> server) -> IDispatch* {
          KJ_IF_MAYBE (s, server) {
            if (auto* mine = dynamic_cast<DispatchServer*>(s)) return mine->object();
          }
          return nullptr;
        },
        [](kj::Exception&&) -> IDispatch* { return nullptr; }));
  }
  return kj::joinPromises(lookups.finish())
      .then([capabilities = kj::mv(capabilities)](
                kj::Array<IDispatch*> found) mutable -> std::optional<std::vector<ComPtr<IDispatch>>> {
        std::vector<ComPtr<IDispatch>> received;
        for (std::size_t i = 0; i < found.size(); ++i) {
          if (!found[i] && !IsNull(capabilities[i])) return std::nullopt;
          received.emplace_back(found[i]);
        }
        return received;
      });
}

template <class Context, class Run>
kj::Promise<void> DispatchServer::WithReceived(Context context,
                                               std::vector<wire::Dispatch::Client> capabilities, Run run) {
  if (capabilities.empty()) {
    run(context, {});
    return kj::READY_NOW;
  }
  // Objects passed back by the client are this host's own: find them before the call.
  return Received(kj::mv(capabilities))
      .then([context, run](std::optional<std::vector<ComPtr<IDispatch>>> received) mutable {
        if (!received) {
          context.getResults().setHresult(RPC_E_SERVER_CANTUNMARSHAL_DATA);
          return;
        }
        run(context, std::move(*received));
      });
}

kj::Promise<void> DispatchServer::invoke(InvokeContext context) {
  std::vector<wire::Dispatch::Client> capabilities;
  for (auto arg : context.getParams().getArgs()) CollectCapabilities(arg.getValue(), capabilities);
  return WithReceived(context, std::move(capabilities),
                      [this](InvokeContext& call, std::vector<ComPtr<IDispatch>> received) {
                        Call(call, std::move(received));
                      });
}

kj::Promise<void> DispatchServer::invokeChain(InvokeChainContext context) {
  std::vector<wire::Dispatch::Client> capabilities;
  for (auto step : context.getParams().getSteps()) {
    for (auto arg : step.getArgs()) CollectCapabilities(arg, capabilities);
  }
  return WithReceived(context, std::move(capabilities),
                      [this](InvokeChainContext& chain, std::vector<ComPtr<IDispatch>> received) {
                        Chain(chain, std::move(received));
                      });
}

void DispatchServer::Chain(InvokeChainContext& context, std::vector<ComPtr<IDispatch>> received) {
  auto params = context.getParams();
  auto results = context.getResults(kCallMessageSize);
  HostObjects objects(state_, stats_, std::move(received));
  const LCID lcid = params.getLcid();
  auto steps = params.getSteps();
  if (steps.size() == 0) {
    results.setHresult(E_INVALIDARG);
    return;
  }
  ComPtr<IDispatch> current = object_;
  for (unsigned i = 0; i < steps.size(); ++i) {
    ++stats_->calls;
    auto step = steps[i];
    results.setFailedStep(i);
    std::u16string name = Utf16FromBytes(step.getName());
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = current->GetIDsOfNames(IID_NULL, names, 1, lcid, &id);
    if (FAILED(hr)) {
      results.setHresult(hr);
      return;
    }
    auto args = step.getArgs();
    std::vector<Variant> values(args.size());
    std::vector<VARIANT> dispargs(args.size());
    for (unsigned k = 0; k < args.size(); ++k) {
      hr = DecodeVariant(args[k], values[k], objects, RPC_E_SERVER_CANTUNMARSHAL_DATA);
      if (FAILED(hr)) {
        results.setHresult(hr);
        return;
      }
      dispargs[k] = values[k];  // borrowed: values[k] keeps ownership
    }
    DISPPARAMS dp{dispargs.empty() ? nullptr : dispargs.data(), nullptr, static_cast<UINT>(dispargs.size()),
                  0};
    Variant result;
    EXCEPINFO excep{};
    UINT arg_err = 0;
    SetErrorInfo(0, nullptr);
    hr = current->Invoke(id, IID_NULL, lcid, step.getFlags(), &dp, &result, &excep, &arg_err);
    SendExcepInfo(hr, excep, results);
    if (FAILED(hr)) {
      results.setHresult(hr);
      return;
    }
    if (i + 1 < steps.size()) {
      // The next step is called on this one's object, which stays here.
      if (result.vt != VT_DISPATCH || !result.pdispVal) {
        results.setHresult(DISP_E_TYPEMISMATCH);
        return;
      }
      current = result.pdispVal;
      continue;
    }
    hr = EncodeVariant(result, results.initResult(), objects, RPC_E_SERVER_CANTMARSHAL_DATA);
    if (FAILED(hr)) {
      results.initResult().setEmpty();
    } else {
      OfferResultObject(results);
    }
    results.setHresult(hr);
  }
}

void DispatchServer::Call(InvokeContext& context, std::vector<ComPtr<IDispatch>> received) {
  ++stats_->calls;
  auto params = context.getParams();
  auto results = context.getResults(kCallMessageSize);
  HostObjects objects(state_, stats_, std::move(received));
  const LCID lcid = params.getLcid();

  DISPID id = DISPID_UNKNOWN;
  auto member = params.getMember();
  if (member.isId()) {
    id = member.getId();
  } else {
    std::u16string name = Utf16FromBytes(member.getName());
    LPOLESTR names[] = {name.data()};
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, lcid, &id);
    if (FAILED(hr)) {
      results.setHresult(hr);
      return;
    }
  }

  auto args = params.getArgs();
  auto named = params.getNamed();
  if (named.size() > args.size()) {
    results.setHresult(RPC_E_SERVER_CANTUNMARSHAL_DATA);
    return;
  }
  const std::size_t n = args.size();
  // values[i] is argument i, or the storage a by-reference argument points into; before[i] what it held.
  std::vector<Variant> values(n);
  std::vector<Variant> before(n);
  std::vector<VARIANT> dispargs(n);
  for (std::size_t i = 0; i < n; ++i) {
    HRESULT hr = DecodeVariant(args[i].getValue(), values[i], objects, RPC_E_SERVER_CANTUNMARSHAL_DATA);
    if (FAILED(hr)) {
      results.setHresult(hr);
      results.setArgErr(static_cast<uint32_t>(i));
      return;
    }
    switch (args[i].getByRef()) {
      case wire::Argument::ByRef::DIRECT:
        if (values[i].vt == VT_EMPTY || values[i].vt == VT_NULL) {
          results.setHresult(RPC_E_SERVER_CANTUNMARSHAL_DATA);
          return;
        }
        before[i] = values[i];
        dispargs[i].vt = static_cast<VARTYPE>(VT_BYREF | values[i].vt);
        dispargs[i].byref = &values[i].llVal;
        break;
      case wire::Argument::ByRef::VARIANT:
        before[i] = values[i];
        dispargs[i].vt = VT_BYREF | VT_VARIANT;
        dispargs[i].pvarVal = &values[i];
        break;
      default:
        dispargs[i] = values[i];  // borrowed: values[i] keeps ownership
        break;
    }
  }
  std::vector<DISPID> named_ids;
  for (DISPID d : named) named_ids.push_back(d);
  DISPPARAMS dp{n ? dispargs.data() : nullptr, named_ids.empty() ? nullptr : named_ids.data(),
                static_cast<UINT>(n), static_cast<UINT>(named_ids.size())};
  Variant result;
  EXCEPINFO excep{};
  UINT arg_err = 0;
  SetErrorInfo(0, nullptr);
  HRESULT hr = object_->Invoke(id, IID_NULL, lcid, params.getFlags(), &dp,
                               params.getWantResult() ? &result : nullptr, &excep, &arg_err);
  SendExcepInfo(hr, excep, results);
  results.setArgErr(arg_err);

  // By-reference arguments the member changed go back, whether the call succeeded or not: the caller's
  // storage would show the change if the member ran in its own process.
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < n; ++i) {
    if (args[i].getByRef() != wire::Argument::ByRef::NONE && !SameValue(values[i], before[i])) {
      changed.push_back(i);
    }
  }
  auto returned = results.initReturned(static_cast<unsigned>(changed.size()));
  for (unsigned k = 0; k < changed.size(); ++k) {
    returned[k].setIndex(static_cast<uint32_t>(changed[k]));
    HRESULT write =
        EncodeVariant(values[changed[k]], returned[k].initValue(), objects, RPC_E_SERVER_CANTMARSHAL_DATA);
    if (FAILED(write) && SUCCEEDED(hr)) hr = write;
  }
  if (SUCCEEDED(hr) && params.getWantResult()) {
    HRESULT write = EncodeVariant(result, results.initResult(), objects, RPC_E_SERVER_CANTMARSHAL_DATA);
    if (FAILED(write)) {
      hr = write;
      results.initResult().setEmpty();
    } else {
      OfferResultObject(results);
    }
  }
  results.setHresult(hr);
}

// The bootstrap of one connection: the token check, then the activator.
class ActivatorServer final : public wire::Activator::Server {
 public:
  ActivatorServer(Host::State& state, std::shared_ptr<ConnectionStats> stats)
      : state_(state), stats_(std::move(stats)) {}

 protected:
  kj::Promise<void> createInstance(CreateInstanceContext context) override {
    ++stats_->calls;
    auto results = context.getResults();
    GUID clsid{};
    if (!DecodeGuid(context.getParams().getClsid(), clsid)) {
      results.setHresult(RPC_E_SERVER_CANTUNMARSHAL_DATA);
      return kj::READY_NOW;
    }
    ComPtr<IDispatch> object;
    SetErrorInfo(0, nullptr);
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  object.ReleaseAndGetAddressOfVoid());
    if (SUCCEEDED(hr) && !object) hr = E_NOINTERFACE;
    if (FAILED(hr)) {
      std::string description;
      TakeErrorInfo(hr, results.initError(), description);
      state_.Log("client " + stats_->peer + ": cannot create " + pgx::auto_::GuidToString(clsid) + ": " +
                 HresultText(hr) + (description.empty() ? "" : " " + description));
      results.setHresult(hr);
      return kj::READY_NOW;
    }
    results.setObject(state_.Export(object.Get(), stats_));
    results.setHresult(S_OK);
    return kj::READY_NOW;
  }

  kj::Promise<void> clsidFromProgId(ClsidFromProgIdContext context) override {
    ++stats_->calls;
    std::u16string progid = Utf16FromBytes(context.getParams().getProgId());
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(progid.c_str(), &clsid);
    auto results = context.getResults();
    results.setHresult(hr);
    if (SUCCEEDED(hr)) EncodeGuid(clsid, results.initClsid());
    return kj::READY_NOW;
  }

 private:
  Host::State& state_;
  std::shared_ptr<ConnectionStats> stats_;
};

class HostServer final : public wire::Host::Server {
 public:
  HostServer(Host::State& state, std::shared_ptr<ConnectionStats> stats)
      : state_(state), stats_(std::move(stats)) {}

 protected:
  kj::Promise<void> open(OpenContext context) override {
    auto results = context.getResults();
    // One try per connection: a client that presented a wrong token gets no second guess on it.
    if (refused_ || (!state_.options.token.empty() &&
                     !SameSecret(context.getParams().getToken(), state_.options.token))) {
      if (!refused_) state_.Log("client " + stats_->peer + ": refused: wrong token");
      refused_ = true;
      results.setHresult(E_ACCESSDENIED);
      return kj::READY_NOW;
    }
    results.setActivator(wire::Activator::Client(kj::heap<ActivatorServer>(state_, stats_)));
    results.setHresult(S_OK);
    return kj::READY_NOW;
  }

 private:
  Host::State& state_;
  std::shared_ptr<ConnectionStats> stats_;
  bool refused_ = false;
};

kj::Promise<void> Host::State::AcceptLoop() {
  return listener->accept().then([this](kj::Own<kj::AsyncIoStream> stream) {
    std::string peer = "?";
    sockaddr_storage addr{};
    kj::uint length = sizeof addr;
    try {
      stream->getpeername(reinterpret_cast<sockaddr*>(&addr), &length);
      ResolvedAddress r;
      std::memcpy(&r.storage, &addr, std::min<std::size_t>(length, sizeof r.storage));
      r.length = length;
      peer = r.ToString();
    } catch (...) {
    }
    // Answers go out at once, not after the client's next message.
    int one = 1;
    try {
      stream->setsockopt(IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    } catch (...) {
    }
    tasks->add(Serve(kj::mv(stream), peer));
    return AcceptLoop();
  });
}

kj::Promise<void> Host::State::Serve(kj::Own<kj::AsyncIoStream> stream, std::string peer) {
  auto stats = std::make_shared<ConnectionStats>();
  stats->peer = peer;
  if (!tls) {
    Serving(kj::mv(stream), stats);
    return kj::READY_NOW;
  }
  return tls->wrapServer(kj::mv(stream))
      .then([this, stats](kj::Own<kj::AsyncIoStream> secured) { Serving(kj::mv(secured), stats); },
            [this, stats](kj::Exception&& e) {
              Log("client " + stats->peer +
                  ": refused: TLS handshake failed: " + std::string(e.getDescription().cStr()));
            });
}

void Host::State::Serving(kj::Own<kj::AsyncIoStream> stream, std::shared_ptr<ConnectionStats> stats) {
  const std::uint64_t id = next_connection++;
  Log("client " + stats->peer + ": connected");
  auto connection =
      kj::heap<Connection>(kj::heap<BatchingStream>(kj::mv(stream)), kj::heap<HostServer>(*this, stats));
  // Every failure the RPC system reports to the client (a message that is not Cap'n Proto, say) gets a
  // log line; the client is told only the failure, never the host's stack.
  connection->rpc.setTraceEncoder([this, stats](const kj::Exception& e) {
    // A client that goes away is no failure; its disconnection has its own line.
    if (e.getType() != kj::Exception::Type::DISCONNECTED) {
      Log("client " + stats->peer + ": failure: " + std::string(e.getDescription().cStr()));
    }
    return kj::str("");
  });
  auto disconnected = connection->network.onDisconnect();
  connections.emplace(id, kj::mv(connection));
  tasks->add(disconnected.then([this, id, stats]() {
    // Ended later, not inside the connection's own callback.
    return kj::evalLater([this, id, stats]() {
      const std::size_t held = stats->objects;
      connections.erase(id);  // releases every object the client still held
      const double seconds = std::chrono::duration<double>(Clock::now() - stats->since).count();
      char duration[32];
      std::snprintf(duration, sizeof duration, "%.1f s", seconds);
      Log("client " + stats->peer + ": disconnected after " + duration + ", " + std::to_string(stats->calls) +
          " calls, " + std::to_string(held) + " objects released");
      CoFreeUnusedLibraries();
    });
  }));
}

Host::Host(HostOptions options) {
  ServerName name;
  std::string error;
  if (!ParseServerName(options.listen, kDefaultPort, name, error)) throw HostError(error);
  if (name.security != Security::automatic)
    throw HostError("a listen address has no scheme: " + options.listen);
  std::vector<ResolvedAddress> addresses;
  if (!Resolve(name, true, addresses, error)) throw HostError(error);
  const ResolvedAddress& bind_to = addresses.front();
  const bool loopback = bind_to.is_loopback();
  const bool with_tls = !options.tls_certificate.empty() || !options.tls_key.empty();
  if (!loopback && options.token.empty()) {
    throw HostError("refusing to listen on " + bind_to.ToString() +
                    " without a token: an address other than loopback needs --token-file");
  }
  if (!loopback && !with_tls) {
    throw HostError("refusing to listen on " + bind_to.ToString() +
                    " without TLS: an address other than loopback needs --tls-cert and --tls-key");
  }
  if (with_tls && (options.tls_certificate.empty() || options.tls_key.empty())) {
    throw HostError("TLS needs both a certificate and its private key");
  }

  state_ = std::make_unique<State>(std::move(options));
  State& s = *state_;
  if (FAILED(s.apartment.status())) throw HostError("the host's thread is in an apartment of another kind");
  try {
    if (with_tls) {
      s.keypair =
          kj::heap<kj::TlsKeypair>(kj::TlsKeypair{kj::TlsPrivateKey(s.options.tls_key.c_str()),
                                                  kj::TlsCertificate(s.options.tls_certificate.c_str())});
      kj::TlsContext::Options tls_options;
      tls_options.defaultKeypair = *s.keypair;
      tls_options.useSystemTrustStore = false;
      tls_options.timer = s.io.provider->getTimer();
      tls_options.acceptTimeout = 10 * kj::SECONDS;
      s.tls = kj::heap<kj::TlsContext>(kj::mv(tls_options));
    }
    auto address = s.io.provider->getNetwork().getSockaddr(bind_to.get(), bind_to.length);
    s.listener = address->listen();
  } catch (const kj::Exception& e) {
    state_.reset();
    throw HostError("cannot listen on " + bind_to.ToString() + ": " + std::string(e.getDescription().cStr()));
  }
  s.port = static_cast<std::uint16_t>(s.listener->getPort());
  ResolvedAddress bound = bind_to;
  if (bound.storage.ss_family == AF_INET) {
    reinterpret_cast<sockaddr_in*>(&bound.storage)->sin_port = htons(s.port);
  } else {
    reinterpret_cast<sockaddr_in6*>(&bound.storage)->sin6_port = htons(s.port);
  }
  s.address = bound.ToString();
  if (::pipe2(s.stop_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    state_.reset();
    throw HostError(std::string("cannot make the stop pipe: ") + std::strerror(errno));
  }
}

Host::~Host() {
  if (!state_) return;
  // Connections (and the objects they hold) go before the apartment and the event loop.
  state_->connections.clear();
  state_->tasks = nullptr;
  state_->listener = nullptr;
  const int r = state_->stop_pipe[0];
  const int w = state_->stop_pipe[1];
  state_.reset();
  if (r >= 0) ::close(r);
  if (w >= 0) ::close(w);
}

std::string Host::address() const {
  return state_->address;
}

std::uint16_t Host::port() const {
  return state_->port;
}

std::size_t Host::live_objects() const {
  return state_->live_objects;
}

void Host::Stop() noexcept {
  const char byte = 1;
  ssize_t ignored = ::write(state_->stop_pipe[1], &byte, 1);
  (void)ignored;
}

void Host::Run() {
  State& s = *state_;
  s.Log(std::string("listening on ") + s.address + (s.tls ? " (TLS)" : "") +
        (s.options.token.empty() ? "" : ", token required"));
  s.tasks->add(s.AcceptLoop());
  kj::UnixEventPort::FdObserver stop(s.io.unixEventPort, s.stop_pipe[0],
                                     kj::UnixEventPort::FdObserver::OBSERVE_READ);
  stop.whenBecomesReadable().wait(s.io.waitScope);
  char drain[16];
  while (::read(s.stop_pipe[0], drain, sizeof drain) > 0) {
  }
  const std::size_t clients = s.connections.size();
  const std::size_t objects = s.live_objects;
  s.tasks = kj::heap<kj::TaskSet>(s.task_errors);  // stops accepting
  s.connections.clear();                           // ends every connection, releasing its objects
  s.listener = nullptr;
  CoFreeUnusedLibraries();
  s.Log("stopped: " + std::to_string(clients) + " clients disconnected, " + std::to_string(objects) +
        " objects released");
}

}  // namespace pgx::remote
