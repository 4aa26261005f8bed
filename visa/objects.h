#pragma once
// The objects behind VISA handles (resource managers, find lists, sessions, events) and the table that maps
// handles to them.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "visa/attributes.h"
#include "visa/connection.h"
#include "visa/resource_lock.h"
#include "visa/system_visa.h"

namespace pgx::visa {

class Bench;
class EventHub;
class SessionIo;
struct ForwardedHandler;

struct Object {
  enum class Kind { kResourceManager, kFindList, kSession, kEvent };

  Object(Kind k, ViObject owner);
  ~Object();

  const Kind kind;
  ViObject handle = VI_NULL;
  // The object it belongs to and closes with: the resource manager of a find list or a session, the
  // session of an event (VI_NULL for a resource manager).
  const ViObject parent;
  std::string resource;  // canonical resource name of a session (for the trace)
  // Set when the object leaves the table (closed itself, or with the object it belongs to).
  std::atomic<bool> closed{false};

  // Serialises calls on this object; guards everything below unless said otherwise.
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
  std::shared_ptr<ResourceLock> lock;   // set before the session is registered, then constant
  std::unique_ptr<SessionIo> buffered;  // buffers, mapped window and asynchronous jobs
  // A resource manager or a session: its events (set before it is registered, then constant; thread-safe).
  std::shared_ptr<EventHub> events;
  // A forwarded session: the handlers installed through it.
  std::vector<std::unique_ptr<ForwardedHandler>> forwarded_handlers;
};

class ObjectTable {
 public:
  static ObjectTable& instance();

  // Assigns the object a fresh handle and registers it. Returns VI_NULL, registering nothing, when the
  // object it belongs to is no longer open.
  ViObject add(std::shared_ptr<Object> object);
  std::shared_ptr<Object> find(ViObject handle) const;
  // Unregisters the object and everything that belongs to it (and to that, ...), and marks them closed.
  // Returns what was removed (the object first); empty when the handle is unknown.
  std::vector<std::shared_ptr<Object>> remove(ViObject handle);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<ViObject, std::shared_ptr<Object>> objects_;
  ViObject next_handle_ = 0x1000;
};

}  // namespace pgx::visa
