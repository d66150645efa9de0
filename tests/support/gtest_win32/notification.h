// Read before GoogleTest's own headers in the Windows test tree (forced with
// -include). GoogleTest builds its Notification on std::mutex and
// std::condition_variable, which the win32-thread MinGW runtime (the one the
// plug-in ships with) does not have; this one is a Windows event instead.
// GoogleTest uses it only to start the threads of its own thread tests.
#pragma once

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
public:
    Notification();
    ~Notification();
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    // Lets every thread waiting, and every later waiter, through.
    void Notify();
    void WaitForNotification();

private:
    void* event_;  // a manual-reset event
};

}  // namespace testing::internal
