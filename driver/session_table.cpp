#include "driver/session_table.h"

#include <mutex>
#include <utility>

namespace pgx::driver {

namespace {

struct LastSession {
  ViSession vi = VI_NULL;
  std::shared_ptr<Session> session;
};
// Static TLS: the lookup is a plain offset from the thread pointer, also when a program loads the driver
// with dlopen (the C library keeps room for a few bytes like these).
thread_local LastSession t_last __attribute__((tls_model("initial-exec")));

}  // namespace

Session* session_for_call(ViSession vi) {
  if (vi != VI_NULL && t_last.vi == vi) return t_last.session.get();
  std::shared_ptr<Session> session = SessionTable::instance().find(vi);
  if (!session) return nullptr;
  t_last.vi = vi;
  t_last.session = std::move(session);
  return t_last.session.get();
}

SessionTable& SessionTable::instance() {
  // Never destroyed: a session still open when the program ends must not be closed after the VISA layer
  // it uses has gone.
  static SessionTable* table = new SessionTable();
  return *table;
}

ViSession SessionTable::add(std::shared_ptr<Session> session) {
  std::unique_lock lock(mutex_);
  ViSession vi = next_;
  while (vi == VI_NULL || sessions_.count(vi) != 0) ++vi;
  next_ = vi + 1;
  sessions_.emplace(vi, std::move(session));
  return vi;
}

std::shared_ptr<Session> SessionTable::find(ViSession vi) const {
  std::shared_lock lock(mutex_);
  auto it = sessions_.find(vi);
  return it == sessions_.end() ? nullptr : it->second;
}

std::shared_ptr<Session> SessionTable::remove(ViSession vi) {
  std::unique_lock lock(mutex_);
  auto it = sessions_.find(vi);
  if (it == sessions_.end()) return nullptr;
  std::shared_ptr<Session> session = std::move(it->second);
  sessions_.erase(it);
  return session;
}

}  // namespace pgx::driver
