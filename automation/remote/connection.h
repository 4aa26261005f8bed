// The client's side of the wire: each thread that uses remote objects has its own event loop, and one
// connection per host it talks to. Calls wait on the calling thread (as an apartment-threaded client
// waits for its calls), with a time-out after which the connection counts as lost.
//
// Everything Cap'n Proto holds belongs to the thread that made it. A proxy released on another thread
// hands its capability to its thread, which drops it on its next call; when a thread ends, its
// connections close and its proxies answer RPC_E_DISCONNECTED from then on.
#pragma once

#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#include <kj/compat/tls.h>

#include "automation/interfaces.h"
#include "automation/remote/dispatch.capnp.h"
#include "automation/remote/server_address.h"

namespace pgx::remote {

class Connection;
class RemoteDispatch;
class ThreadRpc;

// What may outlive a thread's event loop: whether it still runs, and what other threads left for it.
struct ThreadShared {
  std::mutex mutex;
  ThreadRpc* alive = nullptr;  // under `mutex`
  struct Orphan {
    kj::Maybe<wire::Dispatch::Client> capability;
    std::shared_ptr<Connection> connection;
  };
  std::list<Orphan> orphans;  // under `mutex`
};

// How long a call may take before its connection counts as lost: PGX_REMOTE_TIMEOUT seconds, else two
// minutes (an instrument call may be slow). Connecting takes at most ten seconds of it.
std::chrono::milliseconds CallTimeout();

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(ThreadRpc& thread, std::string description);
  ~Connection();

  const std::string& description() const { return description_; }
  ThreadRpc& thread() { return thread_; }
  bool broken() const { return broken_; }
  const std::string& broken_reason() const { return broken_reason_; }

  // Connects and presents the token; the HRESULT says why not (with the thread's error information set).
  HRESULT Open(const std::vector<ResolvedAddress>& addresses, const std::string& host, bool tls,
               const std::string& token);
  wire::Activator::Client activator() { return activator_; }

  // Waits for `promise` within the call time-out. A lost connection gives RPC_E_DISCONNECTED (and breaks
  // the connection), a method the host does not have E_NOTIMPL, any other failure of the RPC system
  // RPC_E_SERVERFAULT; the error information says what happened.
  template <class T>
  HRESULT Wait(kj::Promise<T>&& promise, kj::Maybe<T>& out);

  // Whether the host carries out a chain of members as one call (hosts of earlier versions do not).
  bool host_runs_chains() const { return host_runs_chains_; }
  void set_host_runs_chains(bool runs) { host_runs_chains_ = runs; }

  // Ends the connection: its socket closes (the host then releases every object this client held) and
  // every proxy of it answers RPC_E_DISCONNECTED.
  void Break(const std::string& reason);
  // The HRESULT (and error information) of a call on a broken connection.
  HRESULT Disconnected() const;

 private:
  HRESULT Failed(const kj::Exception& e);

  ThreadRpc& thread_;
  std::string description_;  // "host:port" as the user named it
  bool broken_ = false;
  bool host_runs_chains_ = true;
  std::string broken_reason_;
  kj::Own<kj::AsyncIoStream> stream_;
  kj::Own<capnp::TwoPartyClient> rpc_;
  wire::Activator::Client activator_ = nullptr;
};

class ThreadRpc {
 public:
  // This thread's; made on first use.
  static ThreadRpc& Current();
  ~ThreadRpc();

  kj::AsyncIoContext& io() { return io_; }
  const std::shared_ptr<ThreadShared>& shared() const { return shared_; }
  std::thread::id id() const { return id_; }

  // An open connection to `key`'s host made by this thread, or null.
  std::shared_ptr<Connection> Find(const std::string& key);
  void Remember(const std::string& key, const std::shared_ptr<Connection>& connection);
  kj::TlsContext& Tls();

  // Keeps `connection` open until the next activation of this thread takes it (or another is kept): a
  // ProgID looked up on a host is usually followed by creating its class there.
  void Keep(std::shared_ptr<Connection> connection) { kept_ = std::move(connection); }
  std::shared_ptr<Connection> TakeKept() { return std::move(kept_); }

  // Drops what other threads released for this thread.
  void DropOrphans();
  void Register(RemoteDispatch* proxy);
  // Lets the event loop send what is queued (releases) without waiting.
  void Flush();

 private:
  ThreadRpc();
  friend class RemoteDispatch;

  kj::AsyncIoContext io_;
  std::thread::id id_ = std::this_thread::get_id();
  std::shared_ptr<ThreadShared> shared_ = std::make_shared<ThreadShared>();
  std::set<RemoteDispatch*> proxies_;  // under shared_->mutex
  std::vector<std::pair<std::string, std::weak_ptr<Connection>>> connections_;
  kj::Own<kj::TlsContext> tls_;
  std::vector<kj::TlsCertificate> trusted_;
  std::shared_ptr<Connection> kept_;
};

template <class T>
HRESULT Connection::Wait(kj::Promise<T>&& promise, kj::Maybe<T>& out) {
  if (broken_) return Disconnected();
  bool timed_out = false;
  const auto timeout = CallTimeout();
  auto answered = promise.then([](T&& value) -> kj::Maybe<T> { return kj::mv(value); });
  auto limit = thread_.io()
                   .provider->getTimer()
                   .afterDelay(static_cast<std::int64_t>(timeout.count()) * kj::MILLISECONDS)
                   .then([&timed_out]() -> kj::Maybe<T> {
                     timed_out = true;
                     return nullptr;
                   });
  try {
    out = answered.exclusiveJoin(kj::mv(limit)).wait(thread_.io().waitScope);
  } catch (const kj::Exception& e) {
    return Failed(e);
  }
  if (timed_out) {
    Break("no answer within " + std::to_string(timeout.count() / 1000) + " s");
    return Disconnected();
  }
  return S_OK;
}

}  // namespace pgx::remote
