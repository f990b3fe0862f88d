// How code above the platform reaches the operating system: each OS interface
// (clock, locale, file system, ...) has one current implementation, the POSIX
// one by default. Tests put a double in its place for the lifetime of a
// TScopedService. Nothing above the platform calls the OS directly.
#pragma once

#include <atomic>

namespace zk::os {

// Interface must offer `static Interface& Default();` (the real OS).
template <class Interface>
class TService {
 public:
  static Interface& Get() {
    Interface* replaced = Override().load(std::memory_order_acquire);
    return replaced ? *replaced : Interface::Default();
  }
  static std::atomic<Interface*>& Override() {
    static std::atomic<Interface*> slot{nullptr};
    return slot;
  }
};

// Replaces the current implementation of Interface while it lives.
template <class Interface>
class TScopedService {
 public:
  explicit TScopedService(Interface& replacement)
      : FPrevious(TService<Interface>::Override().exchange(&replacement)) {}
  ~TScopedService() { TService<Interface>::Override().store(FPrevious); }
  TScopedService(const TScopedService&) = delete;
  TScopedService& operator=(const TScopedService&) = delete;

 private:
  Interface* FPrevious;
};

}  // namespace zk::os
