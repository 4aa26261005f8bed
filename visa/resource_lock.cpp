#include "visa/resource_lock.h"

#include <algorithm>
#include <chrono>

namespace pgx::visa {

int ResourceLock::Held::count(ViAccessMode type) const {
  return static_cast<int>(std::count(stack.begin(), stack.end(), type));
}

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

ViSession ResourceLock::exclusive_holder() const {
  for (const auto& [session, held] : holders_)
    if (held.count(VI_EXCLUSIVE_LOCK) > 0) return session;
  return VI_NULL;
}

bool ResourceLock::any_shared() const {
  return std::any_of(holders_.begin(), holders_.end(),
                     [](const auto& entry) { return entry.second.count(VI_SHARED_LOCK) > 0; });
}

bool ResourceLock::grantable(ViSession session, ViAccessMode type, const std::string& key) const {
  for (const auto& [other, held] : holders_) {
    if (other == session) continue;
    if (held.count(VI_EXCLUSIVE_LOCK) > 0) return false;
    // Another session's shared lock keeps out an exclusive lock, and a shared lock with another key.
    if (held.count(VI_SHARED_LOCK) > 0 && (type == VI_EXCLUSIVE_LOCK || key != shared_key_)) return false;
  }
  return true;
}

void ResourceLock::publish() {
  exclusive_.store(exclusive_holder(), std::memory_order_release);
  bool shared = any_shared();
  shared_.store(shared, std::memory_order_release);
  if (!shared) shared_key_.clear();
}

ViStatus ResourceLock::lock(ViSession session, ViAccessMode type, ViUInt32 timeout_ms,
                            const char* requested_key, std::string& key, const std::atomic<bool>& abandoned) {
  if (type != VI_EXCLUSIVE_LOCK && type != VI_SHARED_LOCK) return VI_ERROR_INV_LOCK_TYPE;
  std::unique_lock guard(mutex_);
  std::string wanted;
  if (type == VI_SHARED_LOCK) {
    if (requested_key && *requested_key) {
      wanted = requested_key;
      if (wanted.size() >= VI_FIND_BUFLEN) return VI_ERROR_INV_ACCESS_KEY;
    } else if (!shared_key_.empty()) {
      wanted = shared_key_;  // no key asked for: join the shared lock in force, as its holder would
    } else {
      wanted = "pgx-shared-lock-" + std::to_string(next_key_++);
    }
  }
  auto done = [&] { return abandoned.load() || grantable(session, type, wanted); };
  if (timeout_ms == VI_TMO_INFINITE) {
    released_.wait(guard, done);
  } else if (!released_.wait_for(guard, std::chrono::milliseconds(timeout_ms), done)) {
    return VI_ERROR_TMO;
  }
  if (abandoned.load()) return VI_ERROR_INV_OBJECT;
  Held& held = holders_[session];
  bool nested = held.count(type) > 0;
  held.stack.push_back(type);
  if (type == VI_SHARED_LOCK) {
    shared_key_ = wanted;
    key = wanted;
  }
  publish();
  if (!nested) return VI_SUCCESS;
  return type == VI_EXCLUSIVE_LOCK ? VI_SUCCESS_NESTED_EXCLUSIVE : VI_SUCCESS_NESTED_SHARED;
}

ViStatus ResourceLock::unlock(ViSession session) {
  ViStatus status;
  {
    std::lock_guard guard(mutex_);
    auto it = holders_.find(session);
    if (it == holders_.end()) return VI_ERROR_SESN_NLOCKED;
    Held& held = it->second;
    held.stack.pop_back();
    if (held.count(VI_EXCLUSIVE_LOCK) > 0) {
      status = VI_SUCCESS_NESTED_EXCLUSIVE;
    } else if (held.count(VI_SHARED_LOCK) > 0) {
      status = VI_SUCCESS_NESTED_SHARED;
    } else {
      holders_.erase(it);
      status = VI_SUCCESS;
    }
    publish();
  }
  released_.notify_all();
  return status;
}

void ResourceLock::release_all(ViSession session) {
  {
    std::lock_guard guard(mutex_);
    if (!holders_.erase(session)) return;
    publish();
  }
  released_.notify_all();
}

void ResourceLock::wake_waiters() {
  { std::lock_guard guard(mutex_); }  // a waiter between its check and its wait has reached the wait
  released_.notify_all();
}

bool ResourceLock::refuses(ViSession session) const {
  ViSession exclusive = exclusive_.load(std::memory_order_acquire);
  if (exclusive != VI_NULL) return exclusive != session;
  if (!shared_.load(std::memory_order_acquire)) return false;
  std::lock_guard guard(mutex_);
  auto it = holders_.find(session);
  return it == holders_.end();
}

ViAccessMode ResourceLock::state() const {
  if (exclusive_.load(std::memory_order_acquire) != VI_NULL) return VI_EXCLUSIVE_LOCK;
  return shared_.load(std::memory_order_acquire) ? VI_SHARED_LOCK : VI_NO_LOCK;
}

}  // namespace pgx::visa
