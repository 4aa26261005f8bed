// The VISA C entry points of the resource manager, of every object and of message-based I/O. Each one finds
// the object behind its handle, forwards to the system VISA library when the object came from there, and
// otherwise serves it from the built-in backends (the simulated bench and TCP sockets). No exception leaves
// a function; each call may be traced; a failure raises the object's exception event.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "visa/api_support.h"
#include "visa/attribute_filter.h"
#include "visa/bench.h"
#include "visa/events.h"
#include "visa/objects.h"
#include "visa/resource_name.h"
#include "visa/search_expression.h"
#include "visa/session_attributes.h"
#include "visa/session_io.h"
#include "visa/socket_connection.h"
#include "visa/status.h"
#include "visa/testing/bench_access.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

constexpr ViUInt32 kDefaultConnectTimeoutMs = 2000;

// ---- The bench in use --------------------------------------------------------------------------------
// The bench follows PGX_VISA_BENCH, read when a resource manager opens. A bench stays loaded while the
// variable names it, so instruments keep their state from one resource manager to the next.
ViStatus current_bench(std::shared_ptr<Bench>& out) {
  static std::mutex mutex;
  static std::string* loaded_from = new std::string();
  static auto* bench = new std::shared_ptr<Bench>();
  const char* env = std::getenv("PGX_VISA_BENCH");
  std::string wanted = env ? env : "";
  std::lock_guard lock(mutex);
  if (*bench && *loaded_from == wanted) {
    out = *bench;
    return VI_SUCCESS;
  }
  try {
    BenchConfig config = wanted.empty() ? default_bench() : load_bench_file(wanted);
    *bench = std::make_shared<Bench>(std::move(config));
    *loaded_from = wanted;
    out = *bench;
    return VI_SUCCESS;
  } catch (const BenchFileUnreadable& e) {
    report_once(e.what());
    return fail(VI_ERROR_FILE_ACCESS, e.what());
  } catch (const BenchError& e) {
    report_once(e.what());
    return fail(VI_ERROR_INV_SETUP, e.what());
  }
}

// The attributes a session on a resource the bench offers would have (for attribute filters).
AttributeSet resource_attributes(const Bench& bench, const std::string& name, ViObject manager) {
  if (auto instrument = bench.find(name))
    return session_attributes(instrument->resource().name, &instrument->resource(), "", manager);
  return session_attributes(*parse_resource_name(name), nullptr, "", manager);
}

void close_objects(const std::vector<std::shared_ptr<Object>>& removed);

// Gives a new built-in session (or resource manager) its events, buffers and connection hooks, before it
// is registered.
void equip(Object& object) {
  std::vector<ViEventType> types = {VI_EVENT_EXCEPTION};
  if (object.kind == Object::Kind::kSession) {
    types.push_back(VI_EVENT_IO_COMPLETION);
    for (ViEventType type : object.connection->event_types()) types.push_back(type);
    object.buffered = std::make_unique<SessionIo>();
  }
  object.events = std::make_shared<EventHub>(types);
}

// Set while this thread is in the system library's viOpenDefaultRM: a library that calls back into ours
// from there would forward to itself again and again.
thread_local bool t_opening_system_manager = false;

ViStatus open_default_rm(ViPSession vi, CallRecord* record) {
  if (!vi) return VI_ERROR_INV_PARAMETER;
  *vi = VI_NULL;
  if (t_opening_system_manager) {
    const char* named = std::getenv("PGX_VISA_LIBRARY");
    std::string detail = std::string("the VISA library ") + (named ? named : "") +
                         " leads back into this VISA library; PGX_VISA_LIBRARY must name another one";
    report_once(detail);
    return fail(VI_ERROR_LIBRARY_NFOUND, detail);
  }
  ViStatus status = VI_SUCCESS;
  std::string detail;
  auto system = system_visa_from_environment(status, detail);
  if (status < VI_SUCCESS) {
    report_once(detail);
    return fail(status, detail);
  }
  if (system) {
    ViSession foreign = VI_NULL;
    {
      struct Opening {  // also when the library throws
        Opening() { t_opening_system_manager = true; }
        ~Opening() { t_opening_system_manager = false; }
      } opening;
      status = system->viOpenDefaultRM(&foreign);
    }
    if (status < VI_SUCCESS) return status;
    *vi = wrap_foreign(system, Object::Kind::kResourceManager, foreign, VI_NULL, "");
    if (record) record->details = "forwarded to " + system->path;
  } else {
    auto manager = std::make_shared<Object>(Object::Kind::kResourceManager, VI_NULL);
    status = current_bench(manager->bench);
    if (status < VI_SUCCESS) return status;
    manager->attributes = manager_attributes();
    equip(*manager);
    *vi = ObjectTable::instance().add(manager);
    manager->events->set_owner(*vi);
  }
  if (record) record->vi = *vi;
  return status;
}

ViStatus find_rsrc(ViSession rm, ViConstString expr, ViPFindList list, ViPUInt32 count, ViChar* desc,
                   CallRecord* record) {
  if (list) *list = VI_NULL;
  if (count) *count = 0;
  if (desc) desc[0] = '\0';
  if (record) {
    record->details = expr ? "" : "(null)";
    if (expr) append_escaped(record->details, expr, std::strlen(expr));
  }
  auto manager = lookup(rm, record);
  if (!manager) return VI_ERROR_INV_OBJECT;
  if (manager->kind != Object::Kind::kResourceManager) return VI_ERROR_NSUP_OPER;
  if (manager->system) {
    if (!manager->system->viFindRsrc) return missing_function(*manager->system, "viFindRsrc");
    ViFindList foreign = VI_NULL;
    ViStatus status =
        manager->system->viFindRsrc(manager->foreign, expr, list ? &foreign : nullptr, count, desc);
    if (status >= VI_SUCCESS && list) {
      *list = wrap_foreign(manager->system, Object::Kind::kFindList, foreign, rm, "");
      if (*list == VI_NULL) return VI_ERROR_INV_OBJECT;
    }
    return status;
  }
  if (!expr) return VI_ERROR_INV_EXPR;
  std::string_view pattern;
  std::optional<std::string_view> filter_text;
  if (!split_search_expression(expr, pattern, filter_text)) return VI_ERROR_INV_EXPR;
  auto expression = SearchExpression::compile(pattern);
  if (!expression) return VI_ERROR_INV_EXPR;
  std::optional<AttributeFilter> filter;
  if (filter_text && !(filter = AttributeFilter::compile(*filter_text))) return VI_ERROR_INV_EXPR;
  std::vector<std::string> found;
  for (const auto& name : manager->bench->names()) {
    if (!expression->matches(name)) continue;
    if (filter) {
      if (!filter->matches(resource_attributes(*manager->bench, name, rm))) continue;
    }
    found.push_back(name);
  }
  if (record) record->details += " found " + std::to_string(found.size());
  if (found.empty()) return VI_ERROR_RSRC_NFOUND;
  copy_out(desc, found.front());
  if (count) *count = static_cast<ViUInt32>(found.size());
  if (list) {
    auto find_list = std::make_shared<Object>(Object::Kind::kFindList, rm);
    find_list->found = std::move(found);
    find_list->next = 1;
    *list = ObjectTable::instance().add(std::move(find_list));
    if (*list == VI_NULL) return VI_ERROR_INV_OBJECT;  // the resource manager closed meanwhile
    if (record) {
      record->details += " list ";
      append_hex(record->details, *list, 8);
    }
  }
  return VI_SUCCESS;
}

ViStatus find_next(ViFindList vi, ViChar* desc, CallRecord* record) {
  if (desc) desc[0] = '\0';
  auto list = lookup(vi, record);
  if (!list) return VI_ERROR_INV_OBJECT;
  if (list->kind != Object::Kind::kFindList) return VI_ERROR_NSUP_OPER;
  if (list->system) {
    if (!list->system->viFindNext) return missing_function(*list->system, "viFindNext");
    return list->system->viFindNext(list->foreign, desc);
  }
  if (!desc) return VI_ERROR_INV_PARAMETER;
  std::lock_guard lock(list->mutex);
  if (list->next >= list->found.size()) return VI_ERROR_RSRC_NFOUND;
  const std::string& name = list->found[list->next++];
  copy_out(desc, name);
  if (record) append_name(record->details, name);
  return VI_SUCCESS;
}

// A resource name, or an alias of a resource on the bench.
std::optional<ResourceName> parse_bench_name(const Bench& bench, const char* name) {
  auto parsed = parse_resource_name(name);
  if (parsed) return parsed;
  std::string unaliased = bench.unaliased(name);
  return unaliased.empty() ? std::nullopt : parse_resource_name(unaliased);
}

ViStatus parse_rsrc(ViSession rm, ViConstRsrc name, ViPUInt16 type, ViPUInt16 number, ViChar* rsrc_class,
                    ViChar* expanded, ViChar* alias, bool extended, CallRecord* record) {
  if (record && name) append_name(record->details, name);
  auto manager = lookup(rm, record);
  if (!manager) return VI_ERROR_INV_OBJECT;
  if (manager->kind != Object::Kind::kResourceManager) return VI_ERROR_NSUP_OPER;
  if (manager->system) {
    const SystemVisa& system = *manager->system;
    if (extended) {
      if (!system.viParseRsrcEx) return missing_function(system, "viParseRsrcEx");
      return system.viParseRsrcEx(manager->foreign, name, type, number, rsrc_class, expanded, alias);
    }
    if (!system.viParseRsrc) return missing_function(system, "viParseRsrc");
    return system.viParseRsrc(manager->foreign, name, type, number);
  }
  if (!name) return VI_ERROR_INV_RSRC_NAME;
  auto parsed = parse_bench_name(*manager->bench, name);
  if (!parsed) return VI_ERROR_INV_RSRC_NAME;
  std::string offered = manager->bench->offered_name(*parsed);
  if (type) *type = parsed->interface_type;
  if (number) *number = parsed->board;
  copy_out(rsrc_class, parsed->resource_class);
  copy_out(expanded, offered.empty() ? parsed->canonical() : offered);
  copy_out(alias, manager->bench->alias_of(offered));
  return VI_SUCCESS;
}

ViStatus open(ViSession rm, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi,
              CallRecord* record) {
  if (vi) *vi = VI_NULL;
  if (record) {
    if (name) {
      append_name(record->details, name);
    } else {
      record->details = "(null)";
    }
    record->details += " mode=" + std::to_string(mode) + " timeout=" + std::to_string(timeout);
  }
  auto manager = lookup(rm, record);
  if (!manager) return VI_ERROR_INV_OBJECT;
  if (manager->kind != Object::Kind::kResourceManager) return VI_ERROR_NSUP_OPER;
  if (!vi) return VI_ERROR_INV_PARAMETER;
  if (manager->system) {
    ViSession foreign = VI_NULL;
    ViStatus status = PGX_FORWARD(*manager, viOpen, name, mode, timeout, &foreign);
    if (status >= VI_SUCCESS) {
      *vi = wrap_foreign(manager->system, Object::Kind::kSession, foreign, rm, name ? name : "");
      if (*vi == VI_NULL) return VI_ERROR_INV_OBJECT;
    }
    if (record) record->vi = *vi;
    return status;
  }
  if (!name) return VI_ERROR_INV_RSRC_NAME;
  auto parsed = parse_bench_name(*manager->bench, name);
  if (!parsed) return VI_ERROR_INV_RSRC_NAME;
  if (mode & ~ViAccessMode{VI_EXCLUSIVE_LOCK | VI_LOAD_CONFIG}) return VI_ERROR_INV_ACC_MODE;

  auto session = std::make_shared<Object>(Object::Kind::kSession, rm);
  session->resource = parsed->canonical();
  if (record) record->resource = session->resource;
  if (parsed->interface_type == VI_INTF_TCPIP) {
    if (!parsed->is_socket())
      return fail(VI_ERROR_NSUP_OPER, "TCPIP " + parsed->resource_class +
                                          " resources are not supported by the built-in backends");
    ViStatus status = VI_SUCCESS;
    std::string detail;
    auto socket = SocketConnection::connect(parsed->host, parsed->port,
                                            timeout == VI_TMO_IMMEDIATE ? kDefaultConnectTimeoutMs : timeout,
                                            status, detail);
    if (!socket) return fail(status, detail);
    session->attributes = session_attributes(*parsed, nullptr, socket->address(), rm);
    session->connection = std::move(socket);
  } else {
    std::string offered = manager->bench->offered_name(*parsed);
    session->connection = offered.empty() ? nullptr : manager->bench->connect(offered);
    if (!session->connection)
      return fail(VI_ERROR_RSRC_NFOUND,
                  session->resource + " is not on the bench (" + manager->bench->source() + ")");
    session->resource = offered;
    if (record) record->resource = session->resource;
    auto instrument = manager->bench->find(offered);
    session->attributes =
        instrument ? session_attributes(instrument->resource().name, &instrument->resource(), "", rm)
                   : session_attributes(*parse_resource_name(offered), nullptr, "", rm);
  }
  session->io = IoSettings::from(session->attributes);
  session->lock = ResourceLock::of(session->resource);
  equip(*session);
  ViSession handle = ObjectTable::instance().add(session);
  if (handle == VI_NULL) return fail(VI_ERROR_INV_OBJECT, "the resource manager was closed during viOpen");
  // The hub knows its session's handle only now; events cannot come before the connection is attached.
  session->events->set_owner(handle);
  session->connection->attach(session->events);
  if (mode & VI_EXCLUSIVE_LOCK) {
    std::string key;
    ViStatus locked = session->lock->lock(handle, VI_EXCLUSIVE_LOCK, timeout, nullptr, key, session->closed);
    if (locked < VI_SUCCESS) {
      // Timed out, or the resource manager closed while this open waited: leave nothing behind.
      close_objects(ObjectTable::instance().remove(handle));
      if (locked == VI_ERROR_TMO) return VI_ERROR_RSRC_LOCKED;
      return fail(VI_ERROR_INV_OBJECT,
                  "the resource manager was closed while viOpen waited for the exclusive lock");
    }
  }
  *vi = handle;
  if (record) record->vi = *vi;
  return VI_SUCCESS;
}

// Lets go of what closed objects held: locks, pending jobs, events and their handlers.
void close_objects(const std::vector<std::shared_ptr<Object>>& removed) {
  for (const auto& gone : removed) {
    if (gone->lock) {
      gone->lock->release_all(gone->handle);
      gone->lock->wake_waiters();  // an open of this session still waiting for the lock gives up
    }
    if (gone->events) gone->events->close();
    if (gone->buffered) gone->buffered->stop_jobs();
  }
}

ViStatus close(ViObject vi, CallRecord* record) {
  if (vi == VI_NULL) return VI_WARN_NULL_OBJECT;
  auto removed = ObjectTable::instance().remove(vi);
  if (removed.empty()) return VI_ERROR_INV_OBJECT;
  close_objects(removed);
  const auto& object = removed.front();
  if (record) {
    record->resource = object->resource;
    if (removed.size() > 1)
      record->details = "and " + std::to_string(removed.size() - 1) + " objects it owned";
  }
  // The system library closes what a resource manager owns when the manager closes.
  if (object->system) return PGX_FORWARD(*object, viClose);
  return VI_SUCCESS;
}

ViStatus get_attribute(ViObject vi, ViAttr attr, void* value, CallRecord* record) {
  auto object = lookup(vi, record);
  if (!object) return VI_ERROR_INV_OBJECT;
  ViStatus status;
  if (object->system) {
    status = PGX_FORWARD(*object, viGetAttribute, attr, value);
    if (status >= VI_SUCCESS && value && attr == VI_ATTR_RM_SESSION) {
      ViSession manager = object->parent;
      std::memcpy(value, &manager, sizeof manager);
    }
  } else {
    std::lock_guard lock(object->mutex);
    if (attr == VI_ATTR_RSRC_LOCK_STATE && object->lock)
      object->attributes.update(attr, object->lock->state());
    if (object->connection) object->connection->refresh(object->attributes);
    status = object->attributes.get(attr, value);
  }
  if (record) {
    describe_attribute(record->details, attr);
    if (status >= VI_SUCCESS && value && !object->system) {
      record->details += " = ";
      std::lock_guard lock(object->mutex);
      if (const std::string* text = object->attributes.text(attr)) {
        append_escaped(record->details, text->data(),
                       std::min<std::size_t>(text->size(), VI_FIND_BUFLEN - 1));
      } else {
        record->details += std::to_string(object->attributes.number(attr));
      }
    }
  }
  return status;
}

ViStatus set_attribute(ViObject vi, ViAttr attr, ViAttrState value, CallRecord* record) {
  if (record) {
    describe_attribute(record->details, attr);
    record->details += " = " + std::to_string(value);
  }
  auto object = lookup(vi, record);
  if (!object) return VI_ERROR_INV_OBJECT;
  if (object->system) return PGX_FORWARD(*object, viSetAttribute, attr, value);
  std::lock_guard lock(object->mutex);
  if (object->attributes.has(attr) && !acceptable_value(attr, value)) return VI_ERROR_NSUP_ATTR_STATE;
  ViStatus status = object->attributes.set(attr, value);
  if (status != VI_SUCCESS) return status;
  if (ViAttr other = same_value_in_other_width(attr))
    object->attributes.update(other, attr == VI_ATTR_USER_DATA_64 ? value & 0xFFFFFFFFu : value);
  object->io = IoSettings::from(object->attributes);
  if (attr == VI_ATTR_MAX_QUEUE_LENGTH && object->events)
    object->events->set_max_queue_length(static_cast<ViUInt32>(value));
  if (auto* socket = dynamic_cast<SocketConnection*>(object->connection.get())) {
    if (attr == VI_ATTR_TCPIP_NODELAY) socket->set_nodelay(value != 0);
    if (attr == VI_ATTR_TCPIP_KEEPALIVE) socket->set_keepalive(value != 0);
  }
  return status;
}

ViStatus status_desc(ViObject vi, ViStatus status, ViChar* desc, CallRecord* record) {
  if (!desc) return VI_ERROR_INV_PARAMETER;
  desc[0] = '\0';
  if (record) append_hex(record->details, static_cast<ViUInt32>(status), 8);
  if (vi != VI_NULL) {
    auto object = lookup(vi, record);
    if (object && object->system && object->system->viStatusDesc)
      return PGX_FORWARD(*object, viStatusDesc, status, desc);
  }
  std::string text(status_description(status));
  ViStatus result = VI_SUCCESS;
  if (text.empty()) {
    char unknown[64];
    std::snprintf(unknown, sizeof unknown, "Unknown status code 0x%08X.", static_cast<unsigned>(status));
    text = unknown;
    result = VI_WARN_UNKNOWN_STATUS;
  }
  if (const std::string* detail = failure_detail(status)) text += " " + *detail;
  copy_out(desc, text);
  return result;
}

ViStatus read(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 ret, CallRecord* record) {
  if (ret) *ret = 0;
  std::shared_ptr<Object> session;
  if (ViStatus refused = operation_session(vi, record, session); refused != VI_SUCCESS) return refused;
  ViUInt32 count = 0;
  ViStatus status;
  if (session->system) {
    status = PGX_FORWARD(*session, viRead, buf, cnt, &count);
  } else {
    if (!buf && cnt > 0) return VI_ERROR_USER_BUF;
    std::lock_guard lock(session->mutex);
    status = session->connection->read(buf, cnt, count, call_settings(*session));
  }
  if (ret) *ret = count;
  if (record) {
    append_escaped(record->details, buf, count);
    record->details += " (max " + std::to_string(cnt) + ")";
  }
  return status;
}

ViStatus write(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 ret, CallRecord* record) {
  if (ret) *ret = 0;
  std::shared_ptr<Object> session;
  if (ViStatus refused = operation_session(vi, record, session); refused != VI_SUCCESS) return refused;
  ViUInt32 count = 0;
  ViStatus status;
  if (session->system) {
    status = PGX_FORWARD(*session, viWrite, buf, cnt, &count);
  } else {
    if (!buf && cnt > 0) return VI_ERROR_USER_BUF;
    std::lock_guard lock(session->mutex);
    status = session->connection->write(buf, cnt, count, call_settings(*session));
  }
  if (ret) *ret = count;
  if (record) append_escaped(record->details, buf, count);
  return status;
}

ViStatus clear(ViSession vi, CallRecord* record) {
  std::shared_ptr<Object> session;
  if (ViStatus refused = operation_session(vi, record, session); refused != VI_SUCCESS) return refused;
  if (session->system) return PGX_FORWARD(*session, viClear);
  std::lock_guard lock(session->mutex);
  // A device clear also empties the formatted I/O buffers.
  session->buffered->read_data.clear();
  session->buffered->read_pos = 0;
  session->buffered->write_data.clear();
  return session->connection->clear(session->io);
}

ViStatus read_stb(ViSession vi, ViPUInt16 stb, CallRecord* record) {
  std::shared_ptr<Object> session;
  if (ViStatus refused = operation_session(vi, record, session); refused != VI_SUCCESS) return refused;
  if (!stb) return VI_ERROR_INV_PARAMETER;
  ViStatus status;
  if (session->system) {
    status = PGX_FORWARD(*session, viReadSTB, stb);
  } else {
    std::lock_guard lock(session->mutex);
    status = session->connection->read_stb(*stb, session->io);
  }
  if (record && status >= VI_SUCCESS) record->details = "= " + std::to_string(*stb);
  return status;
}

}  // namespace

namespace testing {

bool with_bench_device(ViSession vi, const std::function<void(sim::Device&)>& action) {
  auto session = ObjectTable::instance().find(vi);
  if (!session || session->kind != Object::Kind::kSession) return false;
  std::lock_guard lock(session->mutex);
  auto* bench = dynamic_cast<BenchConnection*>(session->connection.get());
  if (!bench) return false;
  bench->instrument().with_device([&](sim::Device& device) { action(device); });
  return true;
}

}  // namespace testing
}  // namespace pgx::visa

using namespace pgx::visa;

extern "C" {

ViStatus viOpenDefaultRM(ViPSession vi) {
  Trace::instance().configure_from_environment();
  return run("viOpenDefaultRM", VI_NULL, [&](CallRecord* r) { return open_default_rm(vi, r); });
}

ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt, ViChar desc[]) {
  return call("viFindRsrc", sesn, [&](CallRecord* r) { return find_rsrc(sesn, expr, vi, retCnt, desc, r); });
}

ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
  return call("viFindNext", vi, [&](CallRecord* r) { return find_next(vi, desc, r); });
}

ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType, ViPUInt16 intfNum) {
  return call("viParseRsrc", rmSesn, [&](CallRecord* r) {
    return parse_rsrc(rmSesn, rsrcName, intfType, intfNum, nullptr, nullptr, nullptr, false, r);
  });
}

ViStatus viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType, ViPUInt16 intfNum,
                       ViChar rsrcClass[], ViChar expandedUnaliasedName[], ViChar aliasIfExists[]) {
  return call("viParseRsrcEx", rmSesn, [&](CallRecord* r) {
    return parse_rsrc(rmSesn, rsrcName, intfType, intfNum, rsrcClass, expandedUnaliasedName, aliasIfExists,
                      true, r);
  });
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi) {
  return call("viOpen", sesn,
              [&](CallRecord* r) { return pgx::visa::open(sesn, name, mode, timeout, vi, r); });
}

ViStatus viClose(ViObject vi) {
  return run("viClose", vi, [&](CallRecord* r) { return pgx::visa::close(vi, r); });
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
  return call("viSetAttribute", vi, [&](CallRecord* r) { return set_attribute(vi, attrName, attrValue, r); });
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
  return call("viGetAttribute", vi, [&](CallRecord* r) { return get_attribute(vi, attrName, attrValue, r); });
}

ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]) {
  return run(
      "viStatusDesc", vi, [&](CallRecord* r) { return status_desc(vi, status, desc, r); },
      /*keep_detail=*/true);
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  return call("viRead", vi, [&](CallRecord* r) { return pgx::visa::read(vi, buf, cnt, retCnt, r); });
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  return call("viWrite", vi, [&](CallRecord* r) { return pgx::visa::write(vi, buf, cnt, retCnt, r); });
}

ViStatus viClear(ViSession vi) {
  return call("viClear", vi, [&](CallRecord* r) { return clear(vi, r); });
}

ViStatus viReadSTB(ViSession vi, ViPUInt16 status) {
  return call("viReadSTB", vi, [&](CallRecord* r) { return read_stb(vi, status, r); });
}

}  // extern "C"
