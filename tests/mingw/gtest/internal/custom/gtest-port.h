// GoogleTest's customisation point, for mingw-w64's win32 thread model, which has no
// std::mutex or std::condition_variable: its Notification (which only its own thread
// helpers use) is given here without them. Everything else it needs on Windows it builds
// on the system's own calls.
#ifndef TESTS_MINGW_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_
#define TESTS_MINGW_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

// Lets threads wait until a controlling thread notifies them, by spinning.
class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  ~Notification() = default;

  void Notify() { notified_ = true; }
  void WaitForNotification() {
    while (!notified_) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal

#endif  // TESTS_MINGW_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_
