// A mutex the thread-safety analysis knows (libstdc++'s std::mutex carries no attributes) and
// the lock that holds it for a scope. Waiting on a condition goes through the lock, so the
// analysis sees the mutex held before and after the wait, as it is.
#pragma once

#include <condition_variable>
#include <mutex>

#include "core/thread_annotations.h"

namespace zemlo {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

  // Lets the mutex go until `condition` is notified (or wakes spuriously), then takes it
  // again. Callers wait in a loop over what they wait for.
  void Wait(std::condition_variable& condition) REQUIRES(this) {
    std::unique_lock<std::mutex> held(mutex_, std::adopt_lock);
    condition.wait(held);
    held.release();  // still locked: the caller's scope unlocks it
  }

 private:
  std::mutex mutex_;
};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() RELEASE() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace zemlo
