#include "visa/api_support.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

#include "visa/events.h"
#include "visa/session_io.h"

namespace pgx::visa {
namespace {

// The detail of the failure that the last call of this thread returned (file and line of a bench mistake,
// the path of a VISA library, the message of an unexpected exception); viStatusDesc adds it to the
// standard description of that status. Every call but viStatusDesc starts by forgetting it, so a detail
// never outlives the call that failed with it.
// (The status is a plain value of its own: forgetting it is all that every call pays.)
thread_local ViStatus t_failure_status = VI_SUCCESS;
thread_local std::string t_failure_text;  // meaningful only while t_failure_status is a failure

}  // namespace

ViStatus fail(ViStatus status, std::string detail) {
  t_failure_status = status;
  t_failure_text = std::move(detail);
  return status;
}

void forget_failure() noexcept {
  t_failure_status = VI_SUCCESS;
}

const std::string* failure_detail(ViStatus status) {
  if (status >= VI_SUCCESS || status != t_failure_status || t_failure_text.empty()) return nullptr;
  return &t_failure_text;
}

ViStatus status_of_current_exception() noexcept {
  forget_failure();  // whatever the call recorded before it threw does not describe this failure
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return VI_ERROR_ALLOC;
  } catch (const std::exception& e) {
    try {
      return fail(VI_ERROR_SYSTEM_ERROR, std::string("Unexpected failure: ") + e.what());
    } catch (...) {
      forget_failure();
      return VI_ERROR_SYSTEM_ERROR;
    }
  } catch (...) {
    return VI_ERROR_SYSTEM_ERROR;
  }
}

void report_once(const std::string& message) {
  static std::mutex mutex;
  static auto* reported = new std::set<std::string>();
  std::lock_guard lock(mutex);
  if (reported->insert(message).second) std::fprintf(stderr, "pgxvisa: %s\n", message.c_str());
}

void copy_out(ViChar* out, std::string_view text) {
  if (!out) return;
  std::size_t n = std::min(text.size(), std::size_t{VI_FIND_BUFLEN - 1});
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

void describe_attribute(std::string& out, ViAttr attr) {
  if (const char* name = attribute_name(attr)) {
    out += name;
  } else {
    append_hex(out, attr, 8);
  }
}

void raise_exception_event(ViObject vi, ViStatus status, const char* operation) {
  std::shared_ptr<Object> object;
  try {
    object = ObjectTable::instance().find(vi);
  } catch (...) {
    return;
  }
  // Exceptions of a forwarded object are the system library's to raise.
  if (!object || !object->events || object->system) return;
  object->events->raise_exception(status, operation);
}

std::shared_ptr<Object> lookup(ViObject vi, CallRecord* record) {
  auto object = ObjectTable::instance().find(vi);
  if (object && record) record->resource = object->resource;
  return object;
}

ViStatus operation_session(ViSession vi, CallRecord* record, std::shared_ptr<Object>& session) {
  session = lookup(vi, record);
  if (!session) return VI_ERROR_INV_OBJECT;
  if (session->kind != Object::Kind::kSession) return VI_ERROR_NSUP_OPER;
  if (session->lock && session->lock->refuses(vi)) return VI_ERROR_RSRC_LOCKED;
  return VI_SUCCESS;
}

IoSettings call_settings(Object& session) {
  IoSettings io = session.io;
  if (session.buffered) {
    session.buffered->terminate_calls.store(false, std::memory_order_relaxed);
    io.abort = &session.buffered->terminate_calls;
  }
  return io;
}

ViStatus missing_function(const SystemVisa& system, const char* function) {
  return fail(VI_ERROR_LIBRARY_NFOUND, "VISA library " + system.path + " has no " + function);
}

ViObject wrap_foreign(const std::shared_ptr<const SystemVisa>& system, Object::Kind kind, ViObject foreign,
                      ViObject parent, std::string resource) {
  auto object = std::make_shared<Object>(kind, parent);
  object->system = system;
  object->foreign = foreign;
  object->resource = std::move(resource);
  ViObject handle = ObjectTable::instance().add(std::move(object));
  if (handle == VI_NULL && system->viClose) system->viClose(foreign);
  return handle;
}

}  // namespace pgx::visa
