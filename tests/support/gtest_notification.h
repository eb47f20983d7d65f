// GoogleTest's Notification on an event: the win32 thread model has no std::mutex to build it on.
#pragma once

#include <windows.h>

#include <memory>

namespace testing::internal {

class Notification {
public:
    void Notify() { SetEvent(m_event.get()); }
    void WaitForNotification() { WaitForSingleObject(m_event.get(), INFINITE); }

private:
    std::unique_ptr<void, decltype(&CloseHandle)> m_event{CreateEventA(nullptr, TRUE, FALSE, nullptr), &CloseHandle};
};

}  // namespace testing::internal
