#pragma once
// The process-wide table of open driver sessions. Session numbers are handed out once and never reused
// while the process lives (up to 2^32 opens), so a stale number cannot reach a newer session.

#include <memory>
#include <shared_mutex>
#include <unordered_map>

#include "driver/call_barrier.h"
#include "driver/session.h"
#include "visa/visa.h"

namespace pgx::driver {

class SessionTable {
 public:
  static SessionTable& instance();

  ViSession add(std::shared_ptr<Session> session);
  std::shared_ptr<Session> find(ViSession vi) const;
  // Removes the session from the table; callers still holding it see it closed once they lock it.
  std::shared_ptr<Session> remove(ViSession vi);

 private:
  mutable std::shared_mutex mutex_;
  std::unordered_map<ViSession, std::shared_ptr<Session>> sessions_;
  ViSession next_ = 0x00010001;
};

// The session for one call on this thread. The thread keeps the last session it used, so repeated calls
// on one session skip the table; a session closed meanwhile is seen as closed under its lock (numbers are
// never reused, so a kept session can only be the right one). Null when vi is unknown.
Session* session_for_call(ViSession vi);

// Runs body(Session&) on the open session vi under its lock. An unknown or closed session gives
// VI_ERROR_INV_OBJECT; no exception leaves: out of memory gives VI_ERROR_ALLOC, anything else
// VI_ERROR_SYSTEM_ERROR with what() kept for pgxgen_error_message (call_barrier.h). A body that could not
// convert the answer it read (PGXGEN_ERROR_INVALID_RESPONSE) leaves the device cleared.
template <class Body>
ViStatus with_session(ViSession vi, Body&& body) noexcept {
  start_call();
  try {
    Session* session = session_for_call(vi);
    if (session == nullptr) return VI_ERROR_INV_OBJECT;
    std::lock_guard lock(session->mutex());
    if (session->closed()) return VI_ERROR_INV_OBJECT;
    session->begin_call();
    return session->end_call(body(*session));
  } catch (...) {
    return status_from_exception();
  }
}

}  // namespace pgx::driver
