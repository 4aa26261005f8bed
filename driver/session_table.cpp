#include "driver/session_table.h"

#include <mutex>
#include <utility>

namespace pgx::driver {

SessionTable& SessionTable::instance() {
  static SessionTable table;
  return table;
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
