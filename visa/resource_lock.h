#pragma once
// The locks of one resource, shared by every session open on it in this process (viLock, viUnlock and
// viOpen with VI_EXCLUSIVE_LOCK).
//
// A session may hold an exclusive lock, a shared lock, or both, each any number of times (nested); it
// gives them back one viUnlock at a time, the last taken first. An exclusive lock keeps every other session
// out; a shared lock keeps out the sessions that do not share it, that is, that did not lock with its
// access key.

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "visa/visa.h"

namespace pgx::visa {

class ResourceLock {
 public:
  // The lock of a resource by canonical name (created on first use, gone when no session holds it).
  static std::shared_ptr<ResourceLock> of(const std::string& resource);

  // Takes a lock of `type` (VI_EXCLUSIVE_LOCK or VI_SHARED_LOCK) for `session`, waiting up to `timeout_ms`
  // while other sessions hold locks that conflict with it. A shared lock is taken with `requested_key`
  // (null or empty: the key of the shared lock in force, or a new one) and `key` receives the key.
  // Returns VI_SUCCESS, VI_SUCCESS_NESTED_EXCLUSIVE or VI_SUCCESS_NESTED_SHARED (the session held a lock of
  // that type already), VI_ERROR_TMO when the lock was not free in time, VI_ERROR_INV_LOCK_TYPE,
  // VI_ERROR_INV_ACCESS_KEY for a key that cannot be one, or VI_ERROR_INV_OBJECT when `abandoned` became
  // true while waiting (whoever sets it calls wake_waiters()).
  ViStatus lock(ViSession session, ViAccessMode type, ViUInt32 timeout_ms, const char* requested_key,
                std::string& key, const std::atomic<bool>& abandoned);
  // Gives back the lock the session took last: VI_SUCCESS when it holds none any more,
  // VI_SUCCESS_NESTED_EXCLUSIVE or VI_SUCCESS_NESTED_SHARED when it still holds one of that type, and
  // VI_ERROR_SESN_NLOCKED when it held none.
  ViStatus unlock(ViSession session);
  // Gives back every lock of a session that closes.
  void release_all(ViSession session);
  // Lets every waiting lock() look again whether it was abandoned.
  void wake_waiters();

  // True when the locks of other sessions keep `session` out.
  bool refuses(ViSession session) const;
  // VI_EXCLUSIVE_LOCK, VI_SHARED_LOCK or VI_NO_LOCK: the strongest lock any session holds.
  ViAccessMode state() const;

 private:
  struct Held {
    std::vector<ViAccessMode> stack;  // the session's locks, last taken last
    int count(ViAccessMode type) const;
  };
  // Whether `session` can take a lock of `type` with `key` now.
  bool grantable(ViSession session, ViAccessMode type, const std::string& key) const;
  ViSession exclusive_holder() const;
  bool any_shared() const;
  // The state with `mutex_` held, published for refuses() and state() without locking.
  void publish();

  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::map<ViSession, Held> holders_;
  std::string shared_key_;  // the access key of the shared lock in force
  unsigned long next_key_ = 1;
  // Published state, read without the mutex by the I/O of every session.
  std::atomic<ViSession> exclusive_{VI_NULL};
  std::atomic<bool> shared_{false};
};

}  // namespace pgx::visa
