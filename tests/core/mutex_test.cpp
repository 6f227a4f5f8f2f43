// zemlo::Mutex waits on a condition the way std::condition_variable does with a unique_lock:
// the mutex is let go while waiting and held again afterwards. Where it is not, the test never
// ends (ctest's timeout fails it) or ThreadSanitizer reports the lock misused.
#include "core/mutex.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

namespace zemlo {
namespace {

TEST(MutexWait, AnotherThreadTakesTheMutexWhileOneWaitsAndBothGoOnInTurn) {
  Mutex mutex;
  std::condition_variable changed;
  int stage = 0;  // with the mutex held
  std::thread other([&] {
    MutexLock lock(mutex);
    stage = 1;
    changed.notify_all();
    while (stage != 2) mutex.Wait(changed);
    stage = 3;
    changed.notify_all();
  });
  {
    MutexLock lock(mutex);
    // The other thread can only get here through the mutex this one holds: Wait let it go.
    while (stage != 1) mutex.Wait(changed);
    stage = 2;
    changed.notify_all();
    while (stage != 3) mutex.Wait(changed);
  }
  other.join();
  // Both scopes unlocked once each: the mutex is free again.
  MutexLock again(mutex);
  EXPECT_EQ(stage, 3);
}

}  // namespace
}  // namespace zemlo
