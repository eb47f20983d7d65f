// GoogleTest's one use of std::mutex and std::condition_variable is its internal Notification,
// and the win32 thread model that LinkSet is built with has neither: the same on an event.
#pragma once

#include <windows.h>

namespace testing::internal {

class Notification {
public:
    Notification() : m_event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(m_event); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(m_event); }
    void WaitForNotification() { WaitForSingleObject(m_event, INFINITE); }

private:
    HANDLE m_event;
};

}  // namespace testing::internal
