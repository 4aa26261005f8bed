// The VISA entry points of events (viEnableEvent, viWaitOnEvent, viInstallHandler, ...) and of locks.

#include <algorithm>
#include <cstring>

#include "visa/api_support.h"
#include "visa/events.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

// The object behind `vi` that can have events: a session or a resource manager.
ViStatus event_object(ViObject vi, CallRecord* record, std::shared_ptr<Object>& object) {
  object = lookup(vi, record);
  if (!object) return VI_ERROR_INV_OBJECT;
  if (object->kind != Object::Kind::kSession && object->kind != Object::Kind::kResourceManager)
    return VI_ERROR_NSUP_OPER;
  return VI_SUCCESS;
}

void describe_event(CallRecord* record, ViEventType type, ViUInt16 mechanism) {
  if (!record) return;
  append_hex(record->details, type, 8);
  record->details += " mechanism=" + std::to_string(mechanism);
}

ViStatus enable_event(ViSession vi, ViEventType type, ViUInt16 mechanism, ViEventFilter context,
                      CallRecord* record) {
  describe_event(record, type, mechanism);
  std::shared_ptr<Object> object;
  if (ViStatus refused = event_object(vi, record, object); refused != VI_SUCCESS) return refused;
  if (object->system) return PGX_FORWARD(*object, viEnableEvent, type, mechanism, context);
  bool newly = false;
  ViStatus status = object->events->enable(type, mechanism, context, newly);
  // SRQ is a level: a session that begins to listen while an instrument asserts it hears it at once.
  if (status >= VI_SUCCESS && newly && type == VI_EVENT_SERVICE_REQ && object->connection &&
      object->connection->service_requested())
    object->events->raise(std::make_shared<EventData>(VI_EVENT_SERVICE_REQ));
  return status;
}

ViStatus disable_event(ViSession vi, ViEventType type, ViUInt16 mechanism, CallRecord* record) {
  describe_event(record, type, mechanism);
  std::shared_ptr<Object> object;
  if (ViStatus refused = event_object(vi, record, object); refused != VI_SUCCESS) return refused;
  if (object->system) return PGX_FORWARD(*object, viDisableEvent, type, mechanism);
  return object->events->disable(type, mechanism);
}

ViStatus discard_events(ViSession vi, ViEventType type, ViUInt16 mechanism, CallRecord* record) {
  describe_event(record, type, mechanism);
  std::shared_ptr<Object> object;
  if (ViStatus refused = event_object(vi, record, object); refused != VI_SUCCESS) return refused;
  if (object->system) return PGX_FORWARD(*object, viDiscardEvents, type, mechanism);
  return object->events->discard(type, mechanism);
}

ViStatus wait_on_event(ViSession vi, ViEventType type, ViUInt32 timeout, ViPEventType out_type,
                       ViPEvent out_event, CallRecord* record) {
  if (record) {
    append_hex(record->details, type, 8);
    record->details += " timeout=" + std::to_string(timeout);
  }
  if (out_type) *out_type = 0;
  if (out_event) *out_event = VI_NULL;
  std::shared_ptr<Object> object;
  if (ViStatus refused = event_object(vi, record, object); refused != VI_SUCCESS) return refused;
  if (object->system) {
    ViEvent foreign = VI_NULL;
    ViStatus status =
        PGX_FORWARD(*object, viWaitOnEvent, type, timeout, out_type, out_event ? &foreign : nullptr);
    if (status >= VI_SUCCESS && out_event) {
      *out_event = wrap_foreign(object->system, Object::Kind::kEvent, foreign, vi, "");
      if (*out_event == VI_NULL) return VI_ERROR_INV_OBJECT;
    }
    return status;
  }
  std::shared_ptr<const EventData> event;
  ViStatus status = object->events->wait(type, timeout, event);  // no lock of the session is held meanwhile
  if (status < VI_SUCCESS) return status;
  if (out_type) *out_type = event->type;
  if (record) {
    record->details += " got ";
    append_hex(record->details, event->type, 8);
  }
  if (out_event) {
    // The event object lives until the application closes it (or its session).
    auto context = std::make_shared<Object>(Object::Kind::kEvent, vi);
    context->attributes = event->attributes;
    *out_event = ObjectTable::instance().add(std::move(context));
    if (*out_event == VI_NULL) return VI_ERROR_INV_OBJECT;  // the session closed meanwhile
  }
  return status;
}

// The handler the system library calls for a forwarded session: it gives the application's handler our
// handles (the event's valid while it runs).
ViStatus forwarded_handler(ViSession, ViEventType type, ViEvent foreign_event, ViAddr user_handle) {
  auto* installed = static_cast<ForwardedHandler*>(user_handle);
  auto context = std::make_shared<Object>(Object::Kind::kEvent, installed->session);
  context->system = installed->system;
  context->foreign = foreign_event;
  ViEvent event = ObjectTable::instance().add(std::move(context));
  if (event == VI_NULL) return VI_SUCCESS;  // the session closed meanwhile
  struct Unregister {                       // the library owns its event: ours goes without closing it there
    ViEvent event;
    ~Unregister() { ObjectTable::instance().remove(event); }
  } unregister{event};
  return installed->handler(installed->session, type, event, installed->user_handle);
}

ViStatus install_handler(ViSession vi, ViEventType type, ViHndlr handler, ViAddr user_handle,
                         CallRecord* record) {
  describe_event(record, type, VI_HNDLR);
  std::shared_ptr<Object> object;
  if (ViStatus refused = event_object(vi, record, object); refused != VI_SUCCESS) return refused;
  if (!object->system) return object->events->install(type, handler, user_handle);
  if (!handler) return VI_ERROR_INV_HNDLR_REF;
  auto installed =
      std::make_unique<ForwardedHandler>(ForwardedHandler{vi, type, handler, user_handle, object->system});
  std::lock_guard lock(object->mutex);
  ViStatus status = PGX_FORWARD(*object, viInstallHandler, type, &forwarded_handler, installed.get());
  if (status >= VI_SUCCESS) object->forwarded_handlers.push_back(std::move(installed));
  return status;
}

ViStatus uninstall_handler(ViSession vi, ViEventType type, ViHndlr handler, ViAddr user_handle,
                           CallRecord* record) {
  describe_event(record, type, VI_HNDLR);
  std::shared_ptr<Object> object;
  if (ViStatus refused = event_object(vi, record, object); refused != VI_SUCCESS) return refused;
  if (!object->system) return object->events->uninstall(type, handler, user_handle);
  std::lock_guard lock(object->mutex);
  auto& installed = object->forwarded_handlers;
  if (handler == VI_NULL) {  // VI_ANY_HNDLR
    ViStatus status = PGX_FORWARD(*object, viUninstallHandler, type, ViHndlr{nullptr}, ViAddr{nullptr});
    if (status >= VI_SUCCESS)
      installed.erase(
          std::remove_if(installed.begin(), installed.end(), [&](const auto& h) { return h->type == type; }),
          installed.end());
    return status;
  }
  auto it = std::find_if(installed.begin(), installed.end(), [&](const auto& h) {
    return h->type == type && h->handler == handler && h->user_handle == user_handle;
  });
  if (it == installed.end()) return VI_ERROR_INV_HNDLR_REF;
  ViStatus status = PGX_FORWARD(*object, viUninstallHandler, type, &forwarded_handler, it->get());
  if (status >= VI_SUCCESS) installed.erase(it);
  return status;
}

// ---- Locks -----------------------------------------------------------------------------------------------

ViStatus lock(ViSession vi, ViAccessMode type, ViUInt32 timeout, ViConstKeyId requested_key,
              ViChar* access_key, CallRecord* record) {
  if (record) record->details = "type=" + std::to_string(type) + " timeout=" + std::to_string(timeout);
  if (access_key) access_key[0] = '\0';
  auto session = lookup(vi, record);
  if (!session) return VI_ERROR_INV_OBJECT;
  if (session->kind != Object::Kind::kSession) return VI_ERROR_NSUP_OPER;
  if (session->system) return PGX_FORWARD(*session, viLock, type, timeout, requested_key, access_key);
  std::string key;
  ViStatus status = session->lock->lock(vi, type, timeout, requested_key, key, session->closed);
  if (status >= VI_SUCCESS && type == VI_SHARED_LOCK) copy_out(access_key, key);
  return status;
}

ViStatus unlock(ViSession vi, CallRecord* record) {
  auto session = lookup(vi, record);
  if (!session) return VI_ERROR_INV_OBJECT;
  if (session->kind != Object::Kind::kSession) return VI_ERROR_NSUP_OPER;
  if (session->system) return PGX_FORWARD(*session, viUnlock);
  return session->lock->unlock(vi);
}

}  // namespace
}  // namespace pgx::visa

using namespace pgx::visa;

extern "C" {

ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism, ViEventFilter context) {
  return call("viEnableEvent", vi,
              [&](CallRecord* r) { return enable_event(vi, eventType, mechanism, context, r); });
}

ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  return call("viDisableEvent", vi,
              [&](CallRecord* r) { return disable_event(vi, eventType, mechanism, r); });
}

ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  return call("viDiscardEvents", vi,
              [&](CallRecord* r) { return discard_events(vi, eventType, mechanism, r); });
}

ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout, ViPEventType outEventType,
                       ViPEvent outContext) {
  return call("viWaitOnEvent", vi, [&](CallRecord* r) {
    return wait_on_event(vi, inEventType, timeout, outEventType, outContext, r);
  });
}

ViStatus viInstallHandler(ViSession vi, ViEventType eventType, ViHndlr handler, ViAddr userHandle) {
  return call("viInstallHandler", vi,
              [&](CallRecord* r) { return install_handler(vi, eventType, handler, userHandle, r); });
}

ViStatus viUninstallHandler(ViSession vi, ViEventType eventType, ViHndlr handler, ViAddr userHandle) {
  return call("viUninstallHandler", vi,
              [&](CallRecord* r) { return uninstall_handler(vi, eventType, handler, userHandle, r); });
}

ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout, ViConstKeyId requestedKey,
                ViChar accessKey[]) {
  return call("viLock", vi, [&](CallRecord* r) {
    return pgx::visa::lock(vi, lockType, timeout, requestedKey, accessKey, r);
  });
}

ViStatus viUnlock(ViSession vi) {
  return call("viUnlock", vi, [&](CallRecord* r) { return pgx::visa::unlock(vi, r); });
}

}  // extern "C"
