// Sessions, identity, reset, self-test, time-out, the error queue and transactions.

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "driver/api_support.h"
#include "driver/call_barrier.h"
#include "driver/status_text.h"

#ifndef PGXGEN_VERSION
#define PGXGEN_VERSION "0.0.0"
#endif

using namespace pgx::driver;

namespace {

constexpr std::size_t kTextSize = 256;

bool is_family_member(const Identity& identity) {
  return identity.manufacturer == "PGX Instruments" &&
         (identity.model == "Q500A" || identity.model == "M4000A");
}

// "*OPT?" lists the installed front-ends: "M4030A,M4040A". A field may carry more words after the
// model ("M4030A REV2"); only the first counts. "0" means no option.
std::vector<std::string> parse_front_ends(std::string_view answer) {
  std::vector<std::string> front_ends;
  while (true) {
    const std::size_t comma = answer.find(',');
    std::string_view field = trim(answer.substr(0, comma));
    field = field.substr(0, field.find(' '));
    if (!field.empty() && field != "0") front_ends.emplace_back(field);
    if (comma == std::string_view::npos) break;
    answer.remove_prefix(comma + 1);
  }
  return front_ends;
}

// Reads identity and front-ends; PGXGEN_ERROR_FAIL_ID_QUERY when the instrument is not one of the family.
ViStatus identify(Session& session) {
  std::string_view answer;
  ViStatus status = session.query_unchecked("*IDN?", answer);
  if (status < VI_SUCCESS) return status;
  const auto identity = parse_identity(answer);
  if (!identity || !is_family_member(*identity)) return PGXGEN_ERROR_FAIL_ID_QUERY;
  InstrumentInfo& info = session.info();
  info.identified = true;
  info.model = identity->model;
  info.serial = identity->serial;
  info.firmware = identity->firmware;
  status = session.query_unchecked("*OPT?", answer);
  if (status < VI_SUCCESS) return status;
  info.front_ends = parse_front_ends(answer);
  return VI_SUCCESS;
}

ViStatus reset_instrument(Session& session) {
  session.command() = "*RST;*CLS;*OPC?";
  bool complete = false;
  const ViStatus status = query_bool(session, complete);
  if (status < VI_SUCCESS) return status;
  // *CLS emptied the error queue; the entries kept from earlier checks belonged to it.
  session.clear_kept_errors();
  return complete ? VI_SUCCESS : PGXGEN_ERROR_INVALID_RESPONSE;
}

std::string self_test_text(int result) {
  if (result == 0) return "Self-test passed.";
  std::string text = "Self-test failed:";
  const char* const boards[] = {" processor board;", " channel 1 board;", " channel 2 board;",
                                " no hardware;"};
  for (int bit = 0; bit < 4; ++bit) {
    if (result & (1 << bit)) text += boards[bit];
  }
  if (text.back() == ';') {
    text.back() = '.';
  } else {
    text += " code " + std::to_string(result) + ".";
  }
  return text;
}

}  // namespace

extern "C" {

ViStatus pgxgen_init(ViConstString resourceName, ViBoolean idQuery, ViBoolean reset, ViSession* vi) {
  // The session number is 0 on every failure, whichever parameter is wrong.
  if (vi != nullptr) *vi = VI_NULL;
  start_call();
  try {
    if (resourceName == nullptr) return parameter_error(1);
    if (idQuery > 1) return parameter_error(2);
    if (reset > 1) return parameter_error(3);
    if (vi == nullptr) return parameter_error(4);
    ViSession resource_manager = VI_NULL;
    ViStatus status = viOpenDefaultRM(&resource_manager);
    if (status < VI_SUCCESS) return status;
    ViSession io = VI_NULL;
    status = viOpen(resource_manager, resourceName, VI_NULL, VI_NULL, &io);
    if (status < VI_SUCCESS) {
      viClose(resource_manager);
      return status;
    }
    // From here the session owns both VISA sessions and closes them on every failure.
    auto session = std::make_shared<Session>(resource_manager, io);
    // A raw socket has no END: there the line feed that ends every answer is what ends a read. Other
    // buses mark the end of a message, which also covers a line feed inside an answer.
    ViChar resource_class[256] = "";
    if (viGetAttribute(io, VI_ATTR_RSRC_CLASS, resource_class) >= VI_SUCCESS &&
        std::strncmp(resource_class, "SOCKET", sizeof resource_class) == 0) {
      viSetAttribute(io, VI_ATTR_TERMCHAR, '\n');
      viSetAttribute(io, VI_ATTR_TERMCHAR_EN, VI_TRUE);
      session->set_socket(true);
    }
    if (idQuery) {
      status = identify(*session);
      if (status < VI_SUCCESS) return status;
    }
    if (reset) {
      status = reset_instrument(*session);
      if (status < VI_SUCCESS) return status;
    }
    *vi = SessionTable::instance().add(std::move(session));
    return VI_SUCCESS;
  } catch (...) {
    return status_from_exception();
  }
}

ViStatus pgxgen_close(ViSession vi) {
  start_call();
  try {
    std::shared_ptr<Session> session = SessionTable::instance().remove(vi);
    if (!session) return VI_ERROR_INV_OBJECT;
    std::lock_guard lock(session->mutex());
    return session->close();
  } catch (...) {
    return status_from_exception();
  }
}

ViStatus pgxgen_reset(ViSession vi) {
  return with_session(vi, [&](Session& s) { return reset_instrument(s); });
}

ViStatus pgxgen_dcl(ViSession vi) {
  return with_session(vi, [&](Session& s) { return s.device_clear(); });
}

ViStatus pgxgen_self_test(ViSession vi, ViInt16* result, ViChar message[]) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (result == nullptr) return parameter_error(2);
    if (message == nullptr) return parameter_error(3);
    s.command() = "*TST?";
    long long value = 0;
    const ViStatus status = query_integer(s, -32768, 32767, value);
    if (status < VI_SUCCESS) return status;
    *result = static_cast<ViInt16>(value);
    copy_text(message, kTextSize, self_test_text(static_cast<int>(value)));
    return status;
  });
}

ViStatus pgxgen_revision_query(ViSession vi, ViChar driverRevision[], ViChar instrumentRevision[]) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (driverRevision == nullptr) return parameter_error(2);
    if (instrumentRevision == nullptr) return parameter_error(3);
    std::string firmware = s.info().firmware;
    ViStatus status = VI_SUCCESS;
    if (!s.info().identified) {
      s.command() = "*IDN?";
      std::string_view answer;
      status = s.query(answer);
      if (status < VI_SUCCESS) return status;
      const auto identity = parse_identity(answer);
      if (identity) {
        firmware = identity->firmware;
      } else {
        status = PGXGEN_WARN_NSUP_REV_QUERY;
      }
    }
    copy_text(driverRevision, kTextSize, "pgxgen " PGXGEN_VERSION);
    copy_text(instrumentRevision, kTextSize, firmware);
    return status;
  });
}

ViStatus pgxgen_timeOut(ViSession vi, ViInt32 milliseconds) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (milliseconds < 0) return parameter_error(2);
    const ViStatus status = viSetAttribute(s.io(), VI_ATTR_TMO_VALUE, static_cast<ViAttrState>(milliseconds));
    return status < VI_SUCCESS ? status : VI_SUCCESS;
  });
}

ViStatus pgxgen_timeOut_Q(ViSession vi, ViInt32* milliseconds) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (milliseconds == nullptr) return parameter_error(2);
    ViUInt32 value = 0;
    const ViStatus status = viGetAttribute(s.io(), VI_ATTR_TMO_VALUE, &value);
    if (status < VI_SUCCESS) return status;
    *milliseconds = value > 0x7FFFFFFFu ? -1 : static_cast<ViInt32>(value);
    return VI_SUCCESS;
  });
}

ViStatus pgxgen_opc_Q(ViSession vi, ViBoolean* complete) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (complete == nullptr) return parameter_error(2);
    s.command() = "*OPC?";
    bool value = false;
    const ViStatus status = query_bool(s, value);
    if (status >= VI_SUCCESS) *complete = value ? VI_TRUE : VI_FALSE;
    return status;
  });
}

ViStatus pgxgen_error_message(ViSession /*vi*/, ViStatus status, ViChar message[]) {
  if (message == nullptr) return parameter_error(3);
  try {
    const char* text = status_text(status);
    std::string full = text != nullptr ? std::string(text) : status_message(status);
    // What an exception that ended the thread's last call said.
    const std::string_view detail = call_detail(status);
    if (!detail.empty()) full.append(" Detail: ").append(detail);
    copy_text(message, kTextSize, full);
    return text != nullptr ? VI_SUCCESS : VI_WARN_UNKNOWN_STATUS;
  } catch (...) {
    return VI_ERROR_ALLOC;
  }
}

ViStatus pgxgen_error_query(ViSession vi, ViInt32* code, ViChar message[]) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (code == nullptr) return parameter_error(2);
    if (message == nullptr) return parameter_error(3);
    ErrorEntry entry;
    const ViStatus status = s.next_error(entry);
    if (status < VI_SUCCESS) return status;
    *code = entry.code;
    copy_text(message, kTextSize, entry.text);
    return VI_SUCCESS;
  });
}

ViStatus pgxgen_errorQueryDetect(ViSession vi, ViBoolean on) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (on > 1) return parameter_error(2);
    s.set_error_query(on != 0);
    return VI_SUCCESS;
  });
}

ViStatus pgxgen_errorQueryDetect_Q(ViSession vi, ViBoolean* on) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (on == nullptr) return parameter_error(2);
    *on = s.error_query() ? VI_TRUE : VI_FALSE;
    return VI_SUCCESS;
  });
}

ViStatus pgxgen_transactionStart(ViSession vi) {
  return with_session(vi, [&](Session& s) { return s.transaction_start(); });
}

ViStatus pgxgen_transactionFinish(ViSession vi) {
  return with_session(vi, [&](Session& s) { return s.transaction_finish(); });
}

ViStatus pgxgen_transactionCancel(ViSession vi) {
  return with_session(vi, [&](Session& s) { return s.transaction_cancel(); });
}

ViStatus pgxgen_transaction_Q(ViSession vi, ViBoolean* active, ViInt32* byteCount) {
  return with_session(vi, [&](Session& s) -> ViStatus {
    if (active == nullptr) return parameter_error(2);
    if (byteCount == nullptr) return parameter_error(3);
    *active = s.transaction_active() ? VI_TRUE : VI_FALSE;
    const std::size_t bytes = s.transaction_bytes();
    *byteCount = bytes > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<ViInt32>(bytes);
    return VI_SUCCESS;
  });
}

}  // extern "C"
