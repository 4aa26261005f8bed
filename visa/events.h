#pragma once
// Events: service requests, the completion of asynchronous I/O, exceptions, and what a session does with
// them (viEnableEvent and its kin).
//
// Each session (and each resource manager) has an EventHub. An event that occurs is put in the session's
// queue for viWaitOnEvent, handed to its handlers, or kept for the handlers while they are suspended, as
// the session enabled that type of event; otherwise it is dropped. Handlers run on a thread of this library
// with no lock of it held, so they may call VISA on any session, their own included (viRead, viReadSTB,
// even viClose); the handlers of exceptions run on the thread of the call that failed, after it is done
// with every lock. Closing a session, or uninstalling a handler, waits for a handler of that session that
// is running on another thread.
//
// Locks: the hub's mutex is taken last, after a session's and an instrument's, and nothing is called while
// it is held; so raise() is safe from any thread holding any lock of the library.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "visa/attributes.h"
#include "visa/visa.h"

namespace pgx::visa {

struct SystemVisa;

// An application's handler installed on a session that is forwarded to the system VISA library: the
// library calls a trampoline of ours, which hands the handler our handles of the session and the event.
struct ForwardedHandler {
  ViSession session;
  ViEventType type;
  ViHndlr handler;
  ViAddr user_handle;
  std::shared_ptr<const SystemVisa> system;
};

// One occurrence of an event: its type and the attributes of its event object.
struct EventData {
  explicit EventData(ViEventType t);
  const ViEventType type;
  AttributeSet attributes;  // VI_ATTR_EVENT_TYPE and what the type adds
};

class EventHub : public std::enable_shared_from_this<EventHub> {
 public:
  // The hub of a session that can have events of the `supported` types.
  explicit EventHub(std::vector<ViEventType> supported);
  // The session's handle, given to its handlers: set once the session is registered.
  void set_owner(ViSession owner) { owner_.store(owner); }

  bool supports(ViEventType type) const;
  // viEnableEvent: `newly` tells whether the type was enabled for no mechanism before.
  ViStatus enable(ViEventType type, ViUInt16 mechanism, ViEventFilter filter, bool& newly);
  ViStatus disable(ViEventType type, ViUInt16 mechanism);
  ViStatus discard(ViEventType type, ViUInt16 mechanism);
  // viWaitOnEvent: takes the oldest queued event of `type` (VI_ALL_ENABLED_EVENTS: of any type enabled for
  // the queue), waiting up to `timeout_ms`.
  ViStatus wait(ViEventType type, ViUInt32 timeout_ms, std::shared_ptr<const EventData>& event);
  ViStatus install(ViEventType type, ViHndlr handler, ViAddr user_handle);
  ViStatus uninstall(ViEventType type, ViHndlr handler, ViAddr user_handle);
  void set_max_queue_length(ViUInt32 length);
  // Whether the type is enabled for the queue or the handlers (suspended or not).
  bool enabled(ViEventType type) const;

  // An event occurred. Never blocks.
  void raise(std::shared_ptr<const EventData> event);
  // A call on the session failed: runs the exception handlers on this thread when they are enabled (and
  // keeps the event for them when they are suspended). An exception a handler throws goes on to the caller,
  // as the standard allows. A failure inside an exception handler raises no further exception event.
  void raise_exception(ViStatus status, const char* operation);

  // The session closes: no events are delivered any more, queued ones are dropped, and handlers of it
  // running on other threads are waited for.
  void close();

 private:
  struct Handler {
    ViHndlr function;
    ViAddr user_handle;
  };
  struct TypeState {
    ViUInt16 mechanisms = 0;        // VI_QUEUE, VI_HNDLR, VI_SUSPEND_HNDLR
    std::vector<Handler> handlers;  // in the order installed; called last installed first
  };
  friend class HandlerThread;

  // Runs the handlers for `event` on this thread (the handler thread, or the caller for an exception).
  void run_handlers(const std::shared_ptr<const EventData>& event);
  // Waits until no handler of this hub runs on another thread. Called without `mutex_` held.
  void wait_for_running_handlers(std::unique_lock<std::mutex>& lock);
  bool queued(ViEventType type) const;  // with `mutex_` held: whether the queue holds an event of `type`
  void keep_suspended(std::shared_ptr<const EventData> event);
  void hand_to_handlers(std::shared_ptr<const EventData> event);

  std::atomic<ViSession> owner_{VI_NULL};
  const std::vector<ViEventType> supported_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<ViEventType, TypeState> types_;
  std::deque<std::shared_ptr<const EventData>> queue_;
  std::deque<std::shared_ptr<const EventData>> suspended_;
  std::size_t max_queue_length_ = 50;
  bool lost_ = false;  // events were dropped because the queue was full
  bool closed_ = false;
  int running_ = 0;  // handlers of this hub running now
};

}  // namespace pgx::visa
