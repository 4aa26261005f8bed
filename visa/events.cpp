#include "visa/events.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#include "visa/objects.h"

namespace pgx::visa {
namespace {

constexpr ViUInt16 kHandlerMechanisms = VI_HNDLR | VI_SUSPEND_HNDLR;
constexpr ViUInt16 kAllMechanisms = VI_QUEUE | kHandlerMechanisms;

// The hubs whose handlers this thread is running now, innermost last.
thread_local std::vector<const EventHub*> t_running_hubs;
// Set while this thread runs exception handlers: a failure there raises no further exception event.
thread_local bool t_in_exception_handler = false;

bool valid_disable_mechanism(ViUInt16 mechanism) {
  return mechanism == VI_ALL_MECH || (mechanism != 0 && (mechanism & ~kAllMechanisms) == 0);
}

}  // namespace

EventData::EventData(ViEventType t) : type(t) {
  attributes.add(VI_ATTR_EVENT_TYPE, AttrType::kUInt32, t);
}

// The thread of this library that runs the handlers of events that do not happen in a call of the
// application (service requests, completions). It starts with the first such event and lives as long as
// the process; while it waits it holds nothing.
class HandlerThread {
 public:
  static HandlerThread& instance() {
    static auto* thread = new HandlerThread();  // never destroyed: events may come until the process ends
    return *thread;
  }

  void post(std::shared_ptr<EventHub> hub, std::shared_ptr<const EventData> event) {
    std::lock_guard lock(mutex_);
    queue_.emplace_back(std::move(hub), std::move(event));
    if (!started_) {
      started_ = true;
      std::thread([this] { run(); }).detach();
    }
    ready_.notify_one();
  }

 private:
  void run() {
    for (;;) {
      std::pair<std::shared_ptr<EventHub>, std::shared_ptr<const EventData>> next;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !queue_.empty(); });
        next = std::move(queue_.front());
        queue_.pop_front();
      }
      deliver(*next.first, next.second);
    }
  }

  static void deliver(EventHub& hub, const std::shared_ptr<const EventData>& event) {
    {
      std::lock_guard lock(hub.mutex_);
      auto it = hub.types_.find(event->type);
      if (hub.closed_ || it == hub.types_.end()) return;
      ViUInt16 mechanisms = it->second.mechanisms;
      if (!(mechanisms & VI_HNDLR)) {
        // Suspended since it was raised: kept for the handlers; disabled: dropped.
        if (mechanisms & VI_SUSPEND_HNDLR) hub.keep_suspended(event);
        return;
      }
    }
    try {
      hub.run_handlers(event);
    } catch (...) {
      // An exception thrown by an application's handler has nowhere to go on this thread.
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::pair<std::shared_ptr<EventHub>, std::shared_ptr<const EventData>>> queue_;
  bool started_ = false;
};

EventHub::EventHub(std::vector<ViEventType> supported) : supported_(std::move(supported)) {}

bool EventHub::supports(ViEventType type) const {
  return std::find(supported_.begin(), supported_.end(), type) != supported_.end();
}

ViStatus EventHub::enable(ViEventType type, ViUInt16 mechanism, ViEventFilter filter, bool& newly) {
  newly = false;
  if (type == VI_ALL_ENABLED_EVENTS || !supports(type)) return VI_ERROR_INV_EVENT;
  if (mechanism != VI_QUEUE && mechanism != VI_HNDLR && mechanism != VI_SUSPEND_HNDLR &&
      mechanism != (VI_QUEUE | VI_HNDLR) && mechanism != (VI_QUEUE | VI_SUSPEND_HNDLR))
    return VI_ERROR_INV_MECH;
  if (type == VI_EVENT_EXCEPTION && (mechanism & VI_QUEUE)) return VI_ERROR_NSUP_MECH;
  if (filter != VI_NULL) return VI_ERROR_INV_CONTEXT;
  std::vector<std::shared_ptr<const EventData>> resumed;
  ViStatus status;
  {
    std::lock_guard lock(mutex_);
    TypeState& state = types_[type];
    if ((mechanism & kHandlerMechanisms) && state.handlers.empty()) return VI_ERROR_HNDLR_NINSTALLED;
    const ViUInt16 before = state.mechanisms;
    ViUInt16 after = before | (mechanism & VI_QUEUE);
    if (mechanism & kHandlerMechanisms)
      after = (after & ~kHandlerMechanisms) | (mechanism & kHandlerMechanisms);
    state.mechanisms = after;
    newly = before == 0;
    status = (before & mechanism) ? VI_SUCCESS_EVENT_EN : VI_SUCCESS;
    if ((after & VI_HNDLR) && !(before & VI_HNDLR)) {
      // Handling resumes: the events kept while it was suspended go to the handlers now.
      for (auto it = suspended_.begin(); it != suspended_.end();) {
        if ((*it)->type == type) {
          resumed.push_back(std::move(*it));
          it = suspended_.erase(it);
        } else {
          ++it;
        }
      }
    }
  }
  for (auto& event : resumed) hand_to_handlers(std::move(event));
  return status;
}

ViStatus EventHub::disable(ViEventType type, ViUInt16 mechanism) {
  if (type != VI_ALL_ENABLED_EVENTS && !supports(type)) return VI_ERROR_INV_EVENT;
  if (!valid_disable_mechanism(mechanism)) return VI_ERROR_INV_MECH;
  ViUInt16 bits = mechanism == VI_ALL_MECH ? kAllMechanisms : mechanism;
  if (bits & kHandlerMechanisms) bits |= kHandlerMechanisms;  // suspended or not, the handlers stop
  std::lock_guard lock(mutex_);
  bool any = false;
  for (auto& [t, state] : types_) {
    if (type != VI_ALL_ENABLED_EVENTS && t != type) continue;
    if (state.mechanisms & bits) any = true;
    state.mechanisms &= static_cast<ViUInt16>(~bits);
  }
  changed_.notify_all();  // a wait for a type no longer queued ends
  return any ? VI_SUCCESS : VI_SUCCESS_EVENT_DIS;
}

ViStatus EventHub::discard(ViEventType type, ViUInt16 mechanism) {
  if (type != VI_ALL_ENABLED_EVENTS && !supports(type)) return VI_ERROR_INV_EVENT;
  if (!valid_disable_mechanism(mechanism)) return VI_ERROR_INV_MECH;
  const ViUInt16 bits = mechanism == VI_ALL_MECH ? kAllMechanisms : mechanism;
  auto matches = [&](const std::shared_ptr<const EventData>& e) {
    return type == VI_ALL_ENABLED_EVENTS || e->type == type;
  };
  std::lock_guard lock(mutex_);
  std::size_t removed = 0;
  if (bits & VI_QUEUE) {
    auto end = std::remove_if(queue_.begin(), queue_.end(), matches);
    removed += static_cast<std::size_t>(queue_.end() - end);
    queue_.erase(end, queue_.end());
    lost_ = false;
  }
  if (bits & VI_SUSPEND_HNDLR) {
    auto end = std::remove_if(suspended_.begin(), suspended_.end(), matches);
    removed += static_cast<std::size_t>(suspended_.end() - end);
    suspended_.erase(end, suspended_.end());
  }
  return removed > 0 ? VI_SUCCESS : VI_SUCCESS_QUEUE_EMPTY;
}

bool EventHub::queued(ViEventType type) const {
  return std::any_of(queue_.begin(), queue_.end(), [&](const auto& e) { return e->type == type; });
}

ViStatus EventHub::wait(ViEventType type, ViUInt32 timeout_ms, std::shared_ptr<const EventData>& event) {
  event.reset();
  if (type != VI_ALL_ENABLED_EVENTS && !supports(type)) return VI_ERROR_INV_EVENT;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock lock(mutex_);
  auto for_queue = [&](ViEventType t) {
    auto it = types_.find(t);
    return it != types_.end() && (it->second.mechanisms & VI_QUEUE);
  };
  for (;;) {
    if (closed_) return VI_ERROR_INV_OBJECT;
    if (type == VI_ALL_ENABLED_EVENTS) {
      bool any = std::any_of(types_.begin(), types_.end(),
                             [](const auto& entry) { return (entry.second.mechanisms & VI_QUEUE) != 0; });
      if (!any) return VI_ERROR_NENABLED;
    } else if (!for_queue(type)) {
      return VI_ERROR_NENABLED;
    }
    auto it = std::find_if(queue_.begin(), queue_.end(), [&](const auto& e) {
      return type == VI_ALL_ENABLED_EVENTS ? for_queue(e->type) : e->type == type;
    });
    if (it != queue_.end()) {
      event = std::move(*it);
      queue_.erase(it);
      bool more =
          type == VI_ALL_ENABLED_EVENTS
              ? std::any_of(queue_.begin(), queue_.end(), [&](const auto& e) { return for_queue(e->type); })
              : queued(type);
      ViStatus status = lost_ ? VI_WARN_QUEUE_OVERFLOW : more ? VI_SUCCESS_QUEUE_NEMPTY : VI_SUCCESS;
      lost_ = false;
      return status;
    }
    if (timeout_ms == VI_TMO_IMMEDIATE) return VI_ERROR_TMO;
    if (timeout_ms == VI_TMO_INFINITE) {
      changed_.wait(lock);
    } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      timeout_ms = VI_TMO_IMMEDIATE;  // one last look
    }
  }
}

ViStatus EventHub::install(ViEventType type, ViHndlr handler, ViAddr user_handle) {
  if (type == VI_ALL_ENABLED_EVENTS || !supports(type)) return VI_ERROR_INV_EVENT;
  if (!handler) return VI_ERROR_INV_HNDLR_REF;
  std::lock_guard lock(mutex_);
  types_[type].handlers.push_back({handler, user_handle});
  return VI_SUCCESS;
}

ViStatus EventHub::uninstall(ViEventType type, ViHndlr handler, ViAddr user_handle) {
  if (type == VI_ALL_ENABLED_EVENTS || !supports(type)) return VI_ERROR_INV_EVENT;
  std::unique_lock lock(mutex_);
  auto& handlers = types_[type].handlers;
  if (handler == VI_NULL) {  // VI_ANY_HNDLR: every handler of the type
    if (handlers.empty()) return VI_ERROR_INV_HNDLR_REF;
    handlers.clear();
  } else {
    auto it = std::find_if(handlers.rbegin(), handlers.rend(), [&](const Handler& h) {
      return h.function == handler && h.user_handle == user_handle;
    });
    if (it == handlers.rend()) return VI_ERROR_INV_HNDLR_REF;
    handlers.erase(std::next(it).base());
  }
  // The application may free what the handler uses once this returns.
  wait_for_running_handlers(lock);
  return VI_SUCCESS;
}

void EventHub::set_max_queue_length(ViUInt32 length) {
  std::lock_guard lock(mutex_);
  max_queue_length_ = std::max<ViUInt32>(length, 1);
}

bool EventHub::enabled(ViEventType type) const {
  std::lock_guard lock(mutex_);
  auto it = types_.find(type);
  return it != types_.end() && it->second.mechanisms != 0;
}

void EventHub::raise(std::shared_ptr<const EventData> event) {
  ViUInt16 mechanisms;
  {
    std::lock_guard lock(mutex_);
    auto it = types_.find(event->type);
    if (closed_ || it == types_.end()) return;
    mechanisms = it->second.mechanisms;
    if (mechanisms & VI_QUEUE) {
      if (queue_.size() < max_queue_length_) {
        queue_.push_back(event);
        changed_.notify_all();
      } else {
        lost_ = true;
      }
    }
    if (mechanisms & VI_SUSPEND_HNDLR) keep_suspended(event);
  }
  if (mechanisms & VI_HNDLR) hand_to_handlers(std::move(event));
}

void EventHub::keep_suspended(std::shared_ptr<const EventData> event) {
  if (suspended_.size() < max_queue_length_) suspended_.push_back(std::move(event));
}

void EventHub::hand_to_handlers(std::shared_ptr<const EventData> event) {
  HandlerThread::instance().post(shared_from_this(), std::move(event));
}

void EventHub::raise_exception(ViStatus status, const char* operation) {
  if (t_in_exception_handler) return;
  std::shared_ptr<EventData> event;
  try {
    {
      std::lock_guard lock(mutex_);
      auto it = types_.find(VI_EVENT_EXCEPTION);
      if (closed_ || it == types_.end() || !(it->second.mechanisms & kHandlerMechanisms)) return;
    }
    event = std::make_shared<EventData>(VI_EVENT_EXCEPTION);
    event->attributes.add(VI_ATTR_STATUS, AttrType::kInt32, static_cast<ViAttrState>(status));
    event->attributes.add_text(VI_ATTR_OPER_NAME, operation);
    std::lock_guard lock(mutex_);
    auto it = types_.find(VI_EVENT_EXCEPTION);
    if (it != types_.end() && (it->second.mechanisms & VI_SUSPEND_HNDLR)) {
      keep_suspended(std::move(event));
      return;
    }
  } catch (...) {
    return;  // no memory for the event: the failure itself is reported by its status
  }
  struct InHandler {
    InHandler() { t_in_exception_handler = true; }
    ~InHandler() { t_in_exception_handler = false; }
  } in_handler;
  run_handlers(event);
}

void EventHub::run_handlers(const std::shared_ptr<const EventData>& event) {
  // Undone however the handlers end, an exception of theirs included.
  struct Running {
    EventHub& hub;
    ViEvent handle = VI_NULL;
    explicit Running(EventHub& h) : hub(h) { t_running_hubs.push_back(&hub); }
    ~Running() {
      if (handle != VI_NULL) ObjectTable::instance().remove(handle);
      t_running_hubs.pop_back();
      std::lock_guard lock(hub.mutex_);
      --hub.running_;
      hub.changed_.notify_all();
    }
  };
  std::vector<Handler> handlers;
  std::optional<Running> running;
  try {
    std::shared_ptr<Object> object;
    {
      std::lock_guard lock(mutex_);
      if (closed_) return;
      handlers = types_[event->type].handlers;
      if (handlers.empty()) return;
      // The event object the handlers are given: valid while they run.
      object = std::make_shared<Object>(Object::Kind::kEvent, owner_.load());
      object->attributes = event->attributes;
      t_running_hubs.reserve(t_running_hubs.size() + 1);
      ++running_;
    }
    running.emplace(*this);
    running->handle = ObjectTable::instance().add(std::move(object));
  } catch (...) {
    return;  // no memory to run the handlers: the event is lost
  }
  if (running->handle == VI_NULL) return;  // the session closed meanwhile
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it)
    if (it->function(owner_.load(), event->type, running->handle, it->user_handle) == VI_SUCCESS_NCHAIN)
      break;
}

void EventHub::wait_for_running_handlers(std::unique_lock<std::mutex>& lock) {
  // A handler of this hub that uninstalls itself or closes its own session does not wait for itself.
  if (std::find(t_running_hubs.begin(), t_running_hubs.end(), this) != t_running_hubs.end()) return;
  changed_.wait(lock, [&] { return running_ == 0; });
}

void EventHub::close() {
  std::unique_lock lock(mutex_);
  closed_ = true;
  queue_.clear();
  suspended_.clear();
  changed_.notify_all();
  wait_for_running_handlers(lock);
}

}  // namespace pgx::visa
