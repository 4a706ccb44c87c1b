// GoogleTest's customization header, used where mingw's win32 thread model has no
// std::mutex or std::condition_variable: the one class that needs them, the start
// signal of GoogleTest's own threads, is made of a Win32 event instead. Everything
// else of GoogleTest's locking already uses Win32 primitives on Windows.
#pragma once

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
