// TCriticalSection: the class library's critical section, a non-recursive
// mutual-exclusion lock. Enter/Leave (and their aliases Acquire/Release) are
// the class library's names; lock/unlock/try_lock let std::lock_guard and
// std::unique_lock hold it, so that it is released on every way out.
#pragma once

#include <mutex>

namespace zk {

class TCriticalSection {
 public:
  TCriticalSection() = default;
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Enter() { FMutex.lock(); }
  void Leave() { FMutex.unlock(); }
  // True when the lock was free and is now held.
  bool TryEnter() { return FMutex.try_lock(); }
  void Acquire() { Enter(); }
  void Release() { Leave(); }

  // The standard lockable protocol.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }

 private:
  std::mutex FMutex;
};

}  // namespace zk
