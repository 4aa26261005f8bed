#pragma once
// The objects behind VISA handles (resource managers, find lists, sessions) and the table that maps
// handles to them.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "visa/attributes.h"
#include "visa/connection.h"
#include "visa/system_visa.h"

namespace pgx::visa {

class Bench;

// The exclusive lock of one resource, shared by every session open on it (viOpen with VI_EXCLUSIVE_LOCK).
struct ResourceLock {
  std::mutex mutex;
  std::condition_variable released;
  std::atomic<ViSession> holder{VI_NULL};

  // The lock of a resource by canonical name (created on first use, gone when no session holds it).
  static std::shared_ptr<ResourceLock> of(const std::string& resource);
  // Takes the lock for `session`, waiting up to `timeout_ms` for another holder to let go. Gives up (false)
  // at once when `abandoned` becomes true; whoever sets it calls wake_waiters().
  bool acquire(ViSession session, ViUInt32 timeout_ms, const std::atomic<bool>& abandoned);
  void release(ViSession session);
  // Lets every waiting acquire() look again whether it was abandoned.
  void wake_waiters();
  // True when another session holds the lock.
  bool held_against(ViSession session) const {
    ViSession h = holder.load(std::memory_order_acquire);
    return h != VI_NULL && h != session;
  }
};

struct Object {
  enum class Kind { kResourceManager, kFindList, kSession };

  Object(Kind k, ViObject owner) : kind(k), manager(owner) {}

  const Kind kind;
  ViObject handle = VI_NULL;
  const ViObject manager;  // the resource manager that owns it (VI_NULL for a resource manager)
  std::string resource;    // canonical resource name of a session (for the trace)
  // Set when the object leaves the table (closed itself, or with its resource manager).
  std::atomic<bool> closed{false};

  // Serialises calls on this object; guards everything below.
  std::mutex mutex;
  AttributeSet attributes;
  IoSettings io;  // the I/O attributes of a session, kept in step with `attributes`

  // Forwarded to the system VISA library: `foreign` is the handle there.
  std::shared_ptr<const SystemVisa> system;
  ViObject foreign = VI_NULL;

  // A resource manager: the bench it offers.
  std::shared_ptr<Bench> bench;
  // A find list: the names not yet returned.
  std::vector<std::string> found;
  std::size_t next = 0;
  // A session.
  std::unique_ptr<Connection> connection;
  std::shared_ptr<ResourceLock> lock;
};

class ObjectTable {
 public:
  static ObjectTable& instance();

  // Assigns the object a fresh handle and registers it. Returns VI_NULL, registering nothing, when the
  // resource manager that is to own it is no longer open.
  ViObject add(std::shared_ptr<Object> object);
  std::shared_ptr<Object> find(ViObject handle) const;
  // Unregisters the object and, for a resource manager, everything it owns, and marks them closed.
  // Returns what was removed (the object first); empty when the handle is unknown.
  std::vector<std::shared_ptr<Object>> remove(ViObject handle);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<ViObject, std::shared_ptr<Object>> objects_;
  ViObject next_handle_ = 0x1000;
};

}  // namespace pgx::visa
