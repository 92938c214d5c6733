// GoogleTest's port hook, for the Windows test build only.
//
// The win32 thread model of the cross compiler has no std::mutex or
// std::condition_variable, which GoogleTest's Notification wants; everything
// else of its Windows thread support (its Mutex on critical sections, its
// thread-local storage) works. This supplies a Notification that polls.
#ifndef QV_GTEST_CUSTOM_PORT_H
#define QV_GTEST_CUSTOM_PORT_H

#include <atomic>

extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : notified_(false) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) Sleep(1);
  }

 private:
  std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing

#endif
