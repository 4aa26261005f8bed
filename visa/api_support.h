#pragma once
// What the VISA entry points share: the failure detail that viStatusDesc shows, the way a call runs (no
// exception leaves it, it may be traced, its failure raises the object's exception event), and forwarding
// to the system VISA library.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "visa/objects.h"
#include "visa/trace.h"
#include "visa/visa.h"

namespace pgx::visa {

// ---- Failure details ----
// Records the detail of a failure for viStatusDesc on this thread and returns the status.
ViStatus fail(ViStatus status, std::string detail);
void forget_failure() noexcept;
// The detail viStatusDesc shows for `status`: only that of the last call's own failure.
const std::string* failure_detail(ViStatus status);
// The status for the exception being handled (its message kept as the failure's detail).
ViStatus status_of_current_exception() noexcept;
// Prints a message once per process on standard error.
void report_once(const std::string& message);
// Copies text into a caller's VI_FIND_BUFLEN buffer, always terminated.
void copy_out(ViChar* out, std::string_view text);

// ---- Calls ----
struct CallRecord {
  ViObject vi = VI_NULL;
  std::string resource;
  std::string details;
};

void describe_attribute(std::string& out, ViAttr attr);

// Runs one API call: turns every exception into a status, and traces the call when tracing is on. A call
// forgets the failure detail of the one before it (except viStatusDesc, which reads it).
template <typename Body>
ViStatus run(const char* call, ViObject vi, Body&& body, bool keep_detail = false) noexcept {
  if (!keep_detail) forget_failure();
  if (!Trace::instance().enabled()) {
    try {
      return body(static_cast<CallRecord*>(nullptr));
    } catch (...) {
      return status_of_current_exception();
    }
  }
  TraceLine line;
  CallRecord record;
  record.vi = vi;
  ViStatus status;
  try {
    status = body(&record);
  } catch (...) {
    status = status_of_current_exception();
  }
  try {
    line.finish(record.vi, record.resource, call, record.details, status);
  } catch (...) {
    // A trace line that cannot be built is lost; the call's result stands.
  }
  return status;
}

// Raises the exception event of object `vi` for a call that failed (its handlers run here, on the caller's
// thread, after the call has let go of every lock).
void raise_exception_event(ViObject vi, ViStatus status, const char* operation);

// run(), and the exception event when the call failed.
template <typename Body>
ViStatus call(const char* name, ViObject vi, Body&& body) {
  ViStatus status = run(name, vi, std::forward<Body>(body));
  if (status < VI_SUCCESS) raise_exception_event(vi, status, name);
  return status;
}

// ---- Objects ----
std::shared_ptr<Object> lookup(ViObject vi, CallRecord* record);

// The session behind `vi` for an operation that the resource's locks govern, or the status that refuses
// it: VI_ERROR_INV_OBJECT, VI_ERROR_NSUP_OPER (not a session), VI_ERROR_RSRC_LOCKED.
ViStatus operation_session(ViSession vi, CallRecord* record, std::shared_ptr<Object>& session);

// Runs `operation` on the session behind `vi` with its lock held, or, for a session of the system VISA
// library, `forward`; a session the locks refuse runs neither.
template <typename Operation, typename Forward>
ViStatus on_session(ViSession vi, CallRecord* record, Operation&& operation, Forward&& forward) {
  std::shared_ptr<Object> session;
  if (ViStatus refused = operation_session(vi, record, session); refused != VI_SUCCESS) return refused;
  if (session->system) return forward(*session);
  std::lock_guard lock(session->mutex);
  return operation(*session);
}

// A session's I/O settings for one synchronous call: viTerminate without a job ends it.
IoSettings call_settings(Object& session);

// ---- Forwarding to the system VISA library ----
ViStatus missing_function(const SystemVisa& system, const char* function);

template <auto Function, typename... Args>
ViStatus forward(const Object& object, const char* name, Args&&... args) {
  auto function = (*object.system).*Function;
  if (!function) return missing_function(*object.system, name);
  return function(object.foreign, std::forward<Args>(args)...);
}
// Calls the system library's `name` on the object's handle there: PGX_FORWARD(*session, viLock, ...).
#define PGX_FORWARD(object, name, ...) \
  ::pgx::visa::forward<&::pgx::visa::SystemVisa::name>(object, #name __VA_OPT__(, ) __VA_ARGS__)

// Registers an object that the system VISA library returned. When the object it belongs to was closed
// meanwhile, the library's object is closed again and the result is VI_NULL.
ViObject wrap_foreign(const std::shared_ptr<const SystemVisa>& system, Object::Kind kind, ViObject foreign,
                      ViObject parent, std::string resource);

}  // namespace pgx::visa
