#include "visa/objects.h"

#include <chrono>
#include <map>

namespace pgx::visa {

std::shared_ptr<ResourceLock> ResourceLock::of(const std::string& resource) {
  static std::mutex mutex;
  static auto* locks = new std::map<std::string, std::weak_ptr<ResourceLock>>();
  std::lock_guard guard(mutex);
  auto& slot = (*locks)[resource];
  auto lock = slot.lock();
  if (!lock) {
    lock = std::make_shared<ResourceLock>();
    slot = lock;
  }
  return lock;
}

bool ResourceLock::acquire(ViSession session, ViUInt32 timeout_ms, const std::atomic<bool>& abandoned) {
  std::unique_lock guard(mutex);
  auto done = [&] { return abandoned.load() || holder.load() == VI_NULL || holder.load() == session; };
  if (timeout_ms == VI_TMO_INFINITE) {
    released.wait(guard, done);
  } else if (!released.wait_for(guard, std::chrono::milliseconds(timeout_ms), done)) {
    return false;
  }
  if (abandoned.load()) return false;
  holder.store(session, std::memory_order_release);
  return true;
}

void ResourceLock::wake_waiters() {
  { std::lock_guard guard(mutex); }  // a waiter between its check and its wait has reached the wait
  released.notify_all();
}

void ResourceLock::release(ViSession session) {
  {
    std::lock_guard guard(mutex);
    if (holder.load() != session) return;
    holder.store(VI_NULL, std::memory_order_release);
  }
  released.notify_all();
}

ObjectTable& ObjectTable::instance() {
  static ObjectTable* table = new ObjectTable();  // lives as long as the process
  return *table;
}

ViObject ObjectTable::add(std::shared_ptr<Object> object) {
  std::lock_guard lock(mutex_);
  if (object->manager != VI_NULL && !objects_.count(object->manager)) return VI_NULL;
  // Handles are not reused while the process runs (until 32 bits wrap), so a stale handle stays invalid.
  do {
    if (++next_handle_ == 0) next_handle_ = 0x1000;
  } while (objects_.count(next_handle_));
  object->handle = next_handle_;
  objects_.emplace(next_handle_, std::move(object));
  return next_handle_;
}

std::shared_ptr<Object> ObjectTable::find(ViObject handle) const {
  std::lock_guard lock(mutex_);
  auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<Object>> ObjectTable::remove(ViObject handle) {
  std::vector<std::shared_ptr<Object>> removed;
  std::lock_guard lock(mutex_);
  auto it = objects_.find(handle);
  if (it == objects_.end()) return removed;
  removed.push_back(it->second);
  objects_.erase(it);
  if (removed.front()->kind == Object::Kind::kResourceManager) {
    for (auto child = objects_.begin(); child != objects_.end();) {
      if (child->second->manager == handle) {
        removed.push_back(child->second);
        child = objects_.erase(child);
      } else {
        ++child;
      }
    }
  }
  for (const auto& gone : removed) gone->closed.store(true);
  return removed;
}

}  // namespace pgx::visa
