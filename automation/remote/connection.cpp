#include "automation/remote/connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cstdlib>

#include "automation/errorinfo.h"
#include "automation/remote/batching_stream.h"
#include "automation/remote/proxy.h"
#include "automation/remote/small_file.h"

namespace pgx::remote {

namespace {

constexpr std::chrono::milliseconds kDefaultCallTimeout = std::chrono::minutes(2);
constexpr std::chrono::milliseconds kMaxConnectTimeout = std::chrono::seconds(10);

HRESULT Raise(HRESULT hr, const std::string& what) {
  const char* system = pgx::auto_::SystemMessageText(hr);
  std::string text = system ? std::string(system) + " (" + what + ")" : what;
  return pgx::auto_::RaiseError(hr, IID_NULL, u"", pgx::auto_::Utf8OrLatin1ToUtf16(text));
}

std::string Describe(const kj::Exception& e) {
  return std::string(e.getDescription().cStr());
}

thread_local std::unique_ptr<ThreadRpc> t_rpc;

}  // namespace

std::chrono::milliseconds CallTimeout() {
  if (const char* text = std::getenv("PGX_REMOTE_TIMEOUT")) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end != text && *end == '\0' && seconds > 0 && seconds < 86400) {
      return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    }
  }
  return kDefaultCallTimeout;
}

// ---- ThreadRpc ---------------------------------------------------------------------------------------

ThreadRpc::ThreadRpc() : io_(kj::setupAsyncIo()) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->alive = this;
}

ThreadRpc& ThreadRpc::Current() {
  if (!t_rpc) t_rpc.reset(new ThreadRpc());
  return *t_rpc;
}

ThreadRpc::~ThreadRpc() {
  std::list<ThreadShared::Orphan> orphans;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->alive = nullptr;
    // Proxies that outlive their thread keep nothing of its event loop.
    for (RemoteDispatch* proxy : proxies_) proxy->capability_ = nullptr;
    proxies_.clear();
    orphans.swap(shared_->orphans);
  }
  orphans.clear();
  kept_.reset();
  for (auto& [key, weak] : connections_) {
    if (auto connection = weak.lock()) connection->Break("the client's thread ended");
  }
  connections_.clear();
  tls_ = nullptr;
}

std::shared_ptr<Connection> ThreadRpc::Find(const std::string& key) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    auto connection = it->second.lock();
    if (!connection || connection->broken()) {
      it = connections_.erase(it);
      continue;
    }
    if (it->first == key) return connection;
    ++it;
  }
  return nullptr;
}

void ThreadRpc::Remember(const std::string& key, const std::shared_ptr<Connection>& connection) {
  connections_.emplace_back(key, connection);
}

kj::TlsContext& ThreadRpc::Tls() {
  if (!tls_) {
    kj::TlsContext::Options options;
    // PGX_REMOTE_CA names a PEM file of certificates to trust besides the system's (a host's own
    // self-signed certificate, say).
    if (const char* path = std::getenv("PGX_REMOTE_CA"); path && *path) {
      std::string text, error;
      if (ReadSmallFile(path, "certificate file", kMaxPemFileBytes, text, error))
        trusted_.emplace_back(kj::StringPtr(text.c_str()));
    }
    options.trustedCertificates = kj::ArrayPtr<const kj::TlsCertificate>(trusted_.data(), trusted_.size());
    tls_ = kj::heap<kj::TlsContext>(kj::mv(options));
  }
  return *tls_;
}

void ThreadRpc::DropOrphans() {
  std::list<ThreadShared::Orphan> orphans;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->orphans.empty()) return;
    orphans.swap(shared_->orphans);
  }
  orphans.clear();
  Flush();
}

void ThreadRpc::Register(RemoteDispatch* proxy) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  proxies_.insert(proxy);
}

void ThreadRpc::Flush() {
  try {
    io_.waitScope.poll();
  } catch (...) {
    // A failure shows on the next call that waits.
  }
}

// ---- Connection --------------------------------------------------------------------------------------

Connection::Connection(ThreadRpc& thread, std::string description)
    : thread_(thread), description_(std::move(description)) {}

Connection::~Connection() {
  // Only on the connection's thread (proxies released elsewhere hand it back to its thread), or after
  // the thread ended, when Break already dropped everything.
  activator_ = nullptr;
  rpc_ = nullptr;
  stream_ = nullptr;
}

HRESULT Connection::Open(const std::vector<ResolvedAddress>& addresses, const std::string& host, bool tls,
                         const std::string& token) {
  const auto timeout = std::min(CallTimeout(), kMaxConnectTimeout);
  auto& io = thread_.io();
  std::string why = "no address";
  for (const ResolvedAddress& address : addresses) {
    try {
      bool timed_out = false;
      auto connect = io.provider->getNetwork().getSockaddr(address.get(), address.length)->connect();
      auto limit = io.provider->getTimer()
                       .afterDelay(timeout.count() * kj::MILLISECONDS)
                       .then([&timed_out]() -> kj::Own<kj::AsyncIoStream> {
                         timed_out = true;
                         return kj::Own<kj::AsyncIoStream>();
                       });
      auto stream = connect.exclusiveJoin(kj::mv(limit)).wait(io.waitScope);
      if (timed_out || !stream) {
        why = address.ToString() + ": no answer within " + std::to_string(timeout.count() / 1000) + " s";
        continue;
      }
      // Small messages (pipelined calls, their Finish and Release) go out at once, not after the answer
      // to the previous one.
      int one = 1;
      stream->setsockopt(IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      if (tls) {
        timed_out = false;
        auto handshake = thread_.Tls().wrapClient(kj::mv(stream), host);
        auto tls_limit = io.provider->getTimer()
                             .afterDelay(timeout.count() * kj::MILLISECONDS)
                             .then([&timed_out]() -> kj::Own<kj::AsyncIoStream> {
                               timed_out = true;
                               return kj::Own<kj::AsyncIoStream>();
                             });
        stream = handshake.exclusiveJoin(kj::mv(tls_limit)).wait(io.waitScope);
        if (timed_out || !stream) {
          why = address.ToString() + ": no TLS handshake within " + std::to_string(timeout.count() / 1000) +
                " s";
          continue;
        }
      }
      stream_ = kj::heap<BatchingStream>(kj::mv(stream));
      why.clear();
      break;
    } catch (const kj::Exception& e) {
      why = address.ToString() + ": " + Describe(e);
    }
  }
  if (!stream_) return Raise(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), why);

  rpc_ = kj::heap<capnp::TwoPartyClient>(*stream_);
  auto host_cap = rpc_->bootstrap().castAs<wire::Host>();
  auto request = host_cap.openRequest();
  request.setToken(capnp::Data::Reader(reinterpret_cast<const capnp::byte*>(token.data()), token.size()));
  auto pending = request.send();
  activator_ = pending.getActivator();
  kj::Maybe<capnp::Response<wire::Host::OpenResults>> opened;
  HRESULT hr = Wait(kj::mv(pending), opened);
  if (FAILED(hr)) {
    // A peer that is not a host (or a host that went away at once) is as good as none.
    Break("the host did not answer");
    return Raise(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), description_ + ": no answer from a host");
  }
  KJ_IF_MAYBE (response, opened) {
    hr = response->getHresult();
  }
  if (FAILED(hr)) {
    Break("the host refused the token");
    return Raise(hr, description_ + " refused the token");
  }
  return S_OK;
}

HRESULT Connection::Failed(const kj::Exception& e) {
  if (e.getType() == kj::Exception::Type::DISCONNECTED) {
    Break(Describe(e));
    return Disconnected();
  }
  if (e.getType() == kj::Exception::Type::UNIMPLEMENTED) {
    return Raise(E_NOTIMPL, description_ + ": " + Describe(e));
  }
  return Raise(RPC_E_SERVERFAULT, description_ + ": " + Describe(e));
}

void Connection::Break(const std::string& reason) {
  if (!broken_) {
    broken_ = true;
    broken_reason_ = reason;
  }
  activator_ = nullptr;
  rpc_ = nullptr;
  stream_ = nullptr;
}

HRESULT Connection::Disconnected() const {
  return Raise(RPC_E_DISCONNECTED, description_ + ": " + broken_reason_);
}

}  // namespace pgx::remote
