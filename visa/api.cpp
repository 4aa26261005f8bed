// The VISA C entry points. Each one finds the object behind its handle, forwards to the system VISA library
// when the object came from there, and otherwise serves it from the built-in backends (the simulated bench
// and TCP sockets). No exception leaves a function; each call may be traced.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>

#include "visa/attribute_filter.h"
#include "visa/bench.h"
#include "visa/objects.h"
#include "visa/resource_name.h"
#include "visa/search_expression.h"
#include "visa/socket_connection.h"
#include "visa/status.h"
#include "visa/testing/bench_access.h"
#include "visa/trace.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

constexpr ViVersion kImplementationVersion = 0x00001000;  // 0.1.0 in 12.8.12 bits
constexpr ViUInt32 kDefaultTimeoutMs = 2000;
constexpr ViUInt32 kDefaultConnectTimeoutMs = 2000;

// ---- Failure details -------------------------------------------------------------------------------
// The detail of the failure that the last call of this thread returned (file and line of a bench mistake,
// the path of a VISA library, the message of an unexpected exception); viStatusDesc adds it to the
// standard description of that status. Every call but viStatusDesc starts by forgetting it, so a detail
// never outlives the call that failed with it.
// (The status is a plain value of its own: forgetting it is all that every call pays.)
thread_local ViStatus t_failure_status = VI_SUCCESS;
thread_local std::string t_failure_text;  // meaningful only while t_failure_status is a failure

ViStatus fail(ViStatus status, std::string detail) {
  t_failure_status = status;
  t_failure_text = std::move(detail);
  return status;
}

void forget_failure() noexcept {
  t_failure_status = VI_SUCCESS;
}

// The detail viStatusDesc shows for `status`: only that of the last call's own failure.
const std::string* failure_detail(ViStatus status) {
  if (status >= VI_SUCCESS || status != t_failure_status || t_failure_text.empty()) return nullptr;
  return &t_failure_text;
}

// The status for the exception being handled. An exception's own message is kept as the failure's detail.
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

// Copies text into a caller's VI_FIND_BUFLEN buffer, always terminated.
void copy_out(ViChar* out, std::string_view text) {
  if (!out) return;
  std::size_t n = std::min(text.size(), std::size_t{VI_FIND_BUFLEN - 1});
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// ---- Call records for the trace ----------------------------------------------------------------------
struct CallRecord {
  ViObject vi = VI_NULL;
  std::string resource;
  std::string details;
};

void describe_attribute(std::string& out, ViAttr attr) {
  if (const char* name = attribute_name(attr)) {
    out += name;
  } else {
    append_hex(out, attr, 8);
  }
}

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

// ---- Objects -----------------------------------------------------------------------------------------
std::shared_ptr<Object> lookup(ViObject vi, CallRecord* record) {
  auto object = ObjectTable::instance().find(vi);
  if (object && record) record->resource = object->resource;
  return object;
}

ViStatus missing_function(const SystemVisa& system, const char* function) {
  return fail(VI_ERROR_LIBRARY_NFOUND, "VISA library " + system.path + " has no " + function);
}

// Registers an object that the system VISA library returned. When its resource manager was closed
// meanwhile, the library's object is closed again and the result is VI_NULL.
ViObject wrap_foreign(const std::shared_ptr<const SystemVisa>& system, Object::Kind kind, ViObject foreign,
                      ViObject manager, std::string resource) {
  auto object = std::make_shared<Object>(kind, manager);
  object->system = system;
  object->foreign = foreign;
  object->resource = std::move(resource);
  ViObject handle = ObjectTable::instance().add(std::move(object));
  if (handle == VI_NULL && system->viClose) system->viClose(foreign);
  return handle;
}

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

// ---- Attributes --------------------------------------------------------------------------------------
void add_resource_attributes(AttributeSet& a) {
  a.add(VI_ATTR_RSRC_IMPL_VERSION, AttrType::kUInt32, kImplementationVersion);
  a.add(VI_ATTR_RSRC_SPEC_VERSION, AttrType::kUInt32, VI_SPEC_VERSION);
  a.add(VI_ATTR_RSRC_LOCK_STATE, AttrType::kUInt32, VI_NO_LOCK);
  a.add_text(VI_ATTR_RSRC_MANF_NAME, "pgx");
  a.add(VI_ATTR_RSRC_MANF_ID, AttrType::kUInt16, 0x3FFF);
  a.add_writable(VI_ATTR_TMO_VALUE, AttrType::kUInt32, kDefaultTimeoutMs, 0, 0xFFFFFFFFu);
  a.add_writable(VI_ATTR_MAX_QUEUE_LENGTH, AttrType::kUInt32, 50, 1, 0xFFFFFFFFu);
  a.add_writable(VI_ATTR_USER_DATA, AttrType::kAddr, 0, 0, ~ViAttrState{0});
}

AttributeSet manager_attributes() {
  AttributeSet a;
  add_resource_attributes(a);
  a.add_text(VI_ATTR_RSRC_NAME, "");
  a.add_text(VI_ATTR_RSRC_CLASS, "");
  return a;
}

AttributeSet session_attributes(const ResourceName& name, const BenchResource* bench,
                                const SocketConnection* socket, ViObject manager) {
  AttributeSet a;
  add_resource_attributes(a);
  a.add_text(VI_ATTR_RSRC_NAME, name.canonical());
  a.add_text(VI_ATTR_RSRC_CLASS, name.resource_class);
  a.add(VI_ATTR_RM_SESSION, AttrType::kUInt32, manager);
  a.add(VI_ATTR_INTF_TYPE, AttrType::kUInt16, name.interface_type);
  a.add(VI_ATTR_INTF_NUM, AttrType::kUInt16, name.board);
  a.add_text(VI_ATTR_INTF_INST_NAME, name.interface_name() + (bench ? " (simulated bench)" : ""));
  a.add_writable(VI_ATTR_TERMCHAR, AttrType::kUInt8, '\n', 0, 0xFF);
  a.add_writable(VI_ATTR_TERMCHAR_EN, AttrType::kBoolean, VI_FALSE, 0, 1);
  a.add_writable(VI_ATTR_SEND_END_EN, AttrType::kBoolean, VI_TRUE, 0, 1);
  a.add_writable(VI_ATTR_SUPPRESS_END_EN, AttrType::kBoolean, VI_FALSE, 0, 1);
  a.add_writable(VI_ATTR_IO_PROT, AttrType::kUInt16, VI_PROT_NORMAL, VI_PROT_NORMAL, VI_PROT_4882_STRS);
  switch (name.interface_type) {
    case VI_INTF_GPIB:
      a.add(VI_ATTR_GPIB_PRIMARY_ADDR, AttrType::kUInt16, name.primary_address);
      a.add(VI_ATTR_GPIB_SECONDARY_ADDR, AttrType::kUInt16, name.secondary_address);
      a.add_writable(VI_ATTR_GPIB_READDR_EN, AttrType::kBoolean, VI_TRUE, 0, 1);
      a.add_writable(VI_ATTR_GPIB_UNADDR_EN, AttrType::kBoolean, VI_FALSE, 0, 1);
      break;
    case VI_INTF_VXI:
    case VI_INTF_GPIB_VXI:
      a.add(VI_ATTR_VXI_LA, AttrType::kInt16, static_cast<ViAttrState>(name.logical_address));
      a.add(VI_ATTR_SLOT, AttrType::kInt16, static_cast<ViAttrState>(bench ? bench->slot : VI_UNKNOWN_SLOT));
      a.add(VI_ATTR_MANF_ID, AttrType::kUInt16, bench ? bench->manufacturer_id : 0);
      a.add(VI_ATTR_MODEL_CODE, AttrType::kUInt16, bench ? bench->model_code : 0);
      a.add_text(VI_ATTR_MANF_NAME, bench ? bench->manufacturer_name : "");
      a.add_text(VI_ATTR_MODEL_NAME, bench ? bench->model_name : "");
      a.add(VI_ATTR_MAINFRAME_LA, AttrType::kInt16, 0);
      break;
    case VI_INTF_ASRL:
      a.add_writable(VI_ATTR_ASRL_BAUD, AttrType::kUInt32, 9600, 1, 0xFFFFFFFFu);
      a.add_writable(VI_ATTR_ASRL_DATA_BITS, AttrType::kUInt16, 8, 5, 8);
      a.add_writable(VI_ATTR_ASRL_PARITY, AttrType::kUInt16, VI_ASRL_PAR_NONE, VI_ASRL_PAR_NONE,
                     VI_ASRL_PAR_SPACE);
      a.add_writable(VI_ATTR_ASRL_FLOW_CNTRL, AttrType::kUInt16, VI_ASRL_FLOW_NONE, 0, 7);
      a.add_writable(VI_ATTR_ASRL_END_IN, AttrType::kUInt16, VI_ASRL_END_TERMCHAR, 0, VI_ASRL_END_TERMCHAR);
      a.add_writable(VI_ATTR_ASRL_END_OUT, AttrType::kUInt16, VI_ASRL_END_NONE, 0, VI_ASRL_END_BREAK);
      break;
    case VI_INTF_TCPIP:
      a.add_text(VI_ATTR_TCPIP_ADDR, socket ? socket->address() : "");
      a.add_text(VI_ATTR_TCPIP_HOSTNAME, name.host);
      a.add(VI_ATTR_TCPIP_PORT, AttrType::kUInt16, name.port);
      a.add_writable(VI_ATTR_TCPIP_NODELAY, AttrType::kBoolean, VI_TRUE, 0, 1);
      a.add_writable(VI_ATTR_TCPIP_KEEPALIVE, AttrType::kBoolean, VI_FALSE, 0, 1);
      break;
    default:
      break;
  }
  return a;
}

// ---- Calls -------------------------------------------------------------------------------------------
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
    *vi = ObjectTable::instance().add(manager);
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
      const BenchResource& resource = manager->bench->find(name)->resource();
      if (!filter->matches(session_attributes(resource.name, &resource, nullptr, rm))) continue;
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
    if (!manager->system->viOpen) return missing_function(*manager->system, "viOpen");
    ViSession foreign = VI_NULL;
    ViStatus status = manager->system->viOpen(manager->foreign, name, mode, timeout, &foreign);
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
      return fail(VI_ERROR_NSUP_OPER, "TCPIP INSTR resources are not supported by the built-in backends");
    ViStatus status = VI_SUCCESS;
    std::string detail;
    auto socket = SocketConnection::connect(parsed->host, parsed->port,
                                            timeout == VI_TMO_IMMEDIATE ? kDefaultConnectTimeoutMs : timeout,
                                            status, detail);
    if (!socket) return fail(status, detail);
    session->attributes = session_attributes(*parsed, nullptr, socket.get(), rm);
    session->connection = std::move(socket);
  } else {
    std::string offered = manager->bench->offered_name(*parsed);
    auto instrument = offered.empty() ? nullptr : manager->bench->find(offered);
    if (!instrument)
      return fail(VI_ERROR_RSRC_NFOUND,
                  session->resource + " is not on the bench (" + manager->bench->source() + ")");
    session->resource = offered;
    if (record) record->resource = session->resource;
    session->attributes =
        session_attributes(instrument->resource().name, &instrument->resource(), nullptr, rm);
    session->connection = std::make_unique<BenchConnection>(std::move(instrument));
  }
  session->io = IoSettings::from(session->attributes);
  session->lock = ResourceLock::of(session->resource);
  ViSession handle = ObjectTable::instance().add(session);
  if (handle == VI_NULL) return fail(VI_ERROR_INV_OBJECT, "the resource manager was closed during viOpen");
  if (mode & VI_EXCLUSIVE_LOCK) {
    bool locked = session->lock->acquire(handle, timeout, session->closed);
    bool abandoned = session->closed.load();
    if (!locked || abandoned) {
      // Timed out, or the resource manager closed while this open waited: leave nothing behind.
      session->lock->release(handle);
      ObjectTable::instance().remove(handle);
      if (!abandoned) return VI_ERROR_RSRC_LOCKED;
      return fail(VI_ERROR_INV_OBJECT,
                  "the resource manager was closed while viOpen waited for the exclusive lock");
    }
  }
  *vi = handle;
  if (record) record->vi = *vi;
  return VI_SUCCESS;
}

ViStatus close(ViObject vi, CallRecord* record) {
  if (vi == VI_NULL) return VI_WARN_NULL_OBJECT;
  auto removed = ObjectTable::instance().remove(vi);
  if (removed.empty()) return VI_ERROR_INV_OBJECT;
  for (const auto& gone : removed) {
    if (!gone->lock) continue;
    gone->lock->release(gone->handle);
    gone->lock->wake_waiters();  // an open of this session still waiting for the lock gives up
  }
  const auto& object = removed.front();
  if (record) {
    record->resource = object->resource;
    if (removed.size() > 1)
      record->details = "and " + std::to_string(removed.size() - 1) + " objects it owned";
  }
  if (object->system) {
    // The system library closes what a resource manager owns when the manager closes.
    if (!object->system->viClose) return missing_function(*object->system, "viClose");
    return object->system->viClose(object->foreign);
  }
  return VI_SUCCESS;
}

ViStatus get_attribute(ViObject vi, ViAttr attr, void* value, CallRecord* record) {
  auto object = lookup(vi, record);
  if (!object) return VI_ERROR_INV_OBJECT;
  ViStatus status;
  if (object->system) {
    if (!object->system->viGetAttribute) return missing_function(*object->system, "viGetAttribute");
    status = object->system->viGetAttribute(object->foreign, attr, value);
    if (status >= VI_SUCCESS && value && attr == VI_ATTR_RM_SESSION) {
      ViSession manager = object->manager;
      std::memcpy(value, &manager, sizeof manager);
    }
  } else {
    std::lock_guard lock(object->mutex);
    if (attr == VI_ATTR_RSRC_LOCK_STATE && object->lock)
      object->attributes.update(attr, object->lock->holder.load() ? VI_EXCLUSIVE_LOCK : VI_NO_LOCK);
    status = object->attributes.get(attr, value);
  }
  if (record) {
    describe_attribute(record->details, attr);
    if (status >= VI_SUCCESS && value && !object->system) {
      record->details += " = ";
      std::lock_guard lock(object->mutex);
      if (attr == VI_ATTR_RSRC_NAME || attr == VI_ATTR_RSRC_CLASS || attr == VI_ATTR_RSRC_MANF_NAME ||
          attr == VI_ATTR_INTF_INST_NAME || attr == VI_ATTR_MANF_NAME || attr == VI_ATTR_MODEL_NAME ||
          attr == VI_ATTR_TCPIP_ADDR || attr == VI_ATTR_TCPIP_HOSTNAME) {
        const char* text = static_cast<const char*>(value);
        append_escaped(record->details, text, strnlen(text, VI_FIND_BUFLEN));
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
  if (object->system) {
    if (!object->system->viSetAttribute) return missing_function(*object->system, "viSetAttribute");
    return object->system->viSetAttribute(object->foreign, attr, value);
  }
  std::lock_guard lock(object->mutex);
  ViStatus status = object->attributes.set(attr, value);
  if (status == VI_SUCCESS) {
    object->io = IoSettings::from(object->attributes);
    if (auto* socket = dynamic_cast<SocketConnection*>(object->connection.get())) {
      if (attr == VI_ATTR_TCPIP_NODELAY) socket->set_nodelay(value != 0);
      if (attr == VI_ATTR_TCPIP_KEEPALIVE) socket->set_keepalive(value != 0);
    }
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
      return object->system->viStatusDesc(object->foreign, status, desc);
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

// The session behind `vi` for message-based I/O, or the status that refuses it.
ViStatus io_session(ViSession vi, CallRecord* record, std::shared_ptr<Object>& session) {
  session = lookup(vi, record);
  if (!session) return VI_ERROR_INV_OBJECT;
  if (session->kind != Object::Kind::kSession) return VI_ERROR_NSUP_OPER;
  if (session->lock && session->lock->held_against(vi)) return VI_ERROR_RSRC_LOCKED;
  return VI_SUCCESS;
}

ViStatus read(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 ret, CallRecord* record) {
  if (ret) *ret = 0;
  std::shared_ptr<Object> session;
  if (ViStatus refused = io_session(vi, record, session); refused != VI_SUCCESS) return refused;
  ViUInt32 count = 0;
  ViStatus status;
  if (session->system) {
    if (!session->system->viRead) return missing_function(*session->system, "viRead");
    status = session->system->viRead(session->foreign, buf, cnt, &count);
  } else {
    if (!buf && cnt > 0) return VI_ERROR_USER_BUF;
    std::lock_guard lock(session->mutex);
    status = session->connection->read(buf, cnt, count, session->io);
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
  if (ViStatus refused = io_session(vi, record, session); refused != VI_SUCCESS) return refused;
  ViUInt32 count = 0;
  ViStatus status;
  if (session->system) {
    if (!session->system->viWrite) return missing_function(*session->system, "viWrite");
    status = session->system->viWrite(session->foreign, buf, cnt, &count);
  } else {
    if (!buf && cnt > 0) return VI_ERROR_USER_BUF;
    std::lock_guard lock(session->mutex);
    status = session->connection->write(buf, cnt, count, session->io);
  }
  if (ret) *ret = count;
  if (record) append_escaped(record->details, buf, count);
  return status;
}

ViStatus clear(ViSession vi, CallRecord* record) {
  std::shared_ptr<Object> session;
  if (ViStatus refused = io_session(vi, record, session); refused != VI_SUCCESS) return refused;
  if (session->system) {
    if (!session->system->viClear) return missing_function(*session->system, "viClear");
    return session->system->viClear(session->foreign);
  }
  std::lock_guard lock(session->mutex);
  return session->connection->clear(session->io);
}

ViStatus read_stb(ViSession vi, ViPUInt16 stb, CallRecord* record) {
  std::shared_ptr<Object> session;
  if (ViStatus refused = io_session(vi, record, session); refused != VI_SUCCESS) return refused;
  if (!stb) return VI_ERROR_INV_PARAMETER;
  ViStatus status;
  if (session->system) {
    if (!session->system->viReadSTB) return missing_function(*session->system, "viReadSTB");
    status = session->system->viReadSTB(session->foreign, stb);
  } else {
    std::lock_guard lock(session->mutex);
    status = session->connection->read_stb(*stb, session->io);
  }
  if (record && status >= VI_SUCCESS) record->details = "= " + std::to_string(*stb);
  return status;
}

ViStatus flush(ViSession vi, ViUInt16 mask, CallRecord* record) {
  if (record) record->details = "mask=" + std::to_string(mask);
  std::shared_ptr<Object> session;
  if (ViStatus refused = io_session(vi, record, session); refused != VI_SUCCESS) return refused;
  if (session->system) {
    if (!session->system->viFlush) return missing_function(*session->system, "viFlush");
    return session->system->viFlush(session->foreign, mask);
  }
  constexpr ViUInt16 kKnown = VI_READ_BUF | VI_WRITE_BUF | VI_READ_BUF_DISCARD | VI_WRITE_BUF_DISCARD |
                              VI_IO_IN_BUF | VI_IO_OUT_BUF | VI_IO_IN_BUF_DISCARD | VI_IO_OUT_BUF_DISCARD;
  if (mask == 0 || (mask & ~kKnown)) return VI_ERROR_INV_MASK;
  // Writes are never buffered; discarding input is a device clear of the local buffers only.
  return VI_SUCCESS;
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
  return run("viFindRsrc", sesn, [&](CallRecord* r) { return find_rsrc(sesn, expr, vi, retCnt, desc, r); });
}

ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
  return run("viFindNext", vi, [&](CallRecord* r) { return find_next(vi, desc, r); });
}

ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType, ViPUInt16 intfNum) {
  return run("viParseRsrc", rmSesn, [&](CallRecord* r) {
    return parse_rsrc(rmSesn, rsrcName, intfType, intfNum, nullptr, nullptr, nullptr, false, r);
  });
}

ViStatus viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType, ViPUInt16 intfNum,
                       ViChar rsrcClass[], ViChar expandedUnaliasedName[], ViChar aliasIfExists[]) {
  return run("viParseRsrcEx", rmSesn, [&](CallRecord* r) {
    return parse_rsrc(rmSesn, rsrcName, intfType, intfNum, rsrcClass, expandedUnaliasedName, aliasIfExists,
                      true, r);
  });
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi) {
  return run("viOpen", sesn,
             [&](CallRecord* r) { return pgx::visa::open(sesn, name, mode, timeout, vi, r); });
}

ViStatus viClose(ViObject vi) {
  return run("viClose", vi, [&](CallRecord* r) { return pgx::visa::close(vi, r); });
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
  return run("viSetAttribute", vi, [&](CallRecord* r) { return set_attribute(vi, attrName, attrValue, r); });
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
  return run("viGetAttribute", vi, [&](CallRecord* r) { return get_attribute(vi, attrName, attrValue, r); });
}

ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]) {
  return run(
      "viStatusDesc", vi, [&](CallRecord* r) { return status_desc(vi, status, desc, r); },
      /*keep_detail=*/true);
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  return run("viRead", vi, [&](CallRecord* r) { return pgx::visa::read(vi, buf, cnt, retCnt, r); });
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  return run("viWrite", vi, [&](CallRecord* r) { return pgx::visa::write(vi, buf, cnt, retCnt, r); });
}

ViStatus viClear(ViSession vi) {
  return run("viClear", vi, [&](CallRecord* r) { return clear(vi, r); });
}

ViStatus viReadSTB(ViSession vi, ViPUInt16 status) {
  return run("viReadSTB", vi, [&](CallRecord* r) { return read_stb(vi, status, r); });
}

ViStatus viFlush(ViSession vi, ViUInt16 mask) {
  return run("viFlush", vi, [&](CallRecord* r) { return pgx::visa::flush(vi, mask, r); });
}

}  // extern "C"
