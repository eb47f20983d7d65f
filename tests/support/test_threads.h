// A thread and a lock guard for tests and doubles: the win32 thread model has no std::thread or std::mutex.
#pragma once

#include <functional>
#include <memory>

#include "system/handles.h"

// Join waits at most `milliseconds` and says whether the body ended; the destructor waits for it.
class TestThread {
public:
    explicit TestThread(std::function<void()> body)
        : m_body(std::make_unique<std::function<void()>>(std::move(body))),
          m_thread(CreateThread(nullptr, 0, &Run, m_body.get(), 0, nullptr)) {}
    TestThread(TestThread&&) noexcept = default;
    ~TestThread() { Join(); }
    bool Join(DWORD milliseconds = INFINITE) {
        return !m_thread || WaitForSingleObject(m_thread.get(), milliseconds) == WAIT_OBJECT_0;
    }

private:
    static DWORD WINAPI Run(void* body) {
        (*static_cast<std::function<void()>*>(body))();
        return 0;
    }
    std::unique_ptr<std::function<void()>> m_body;
    UniqueHandle m_thread;
};

struct SrwHold {
    explicit SrwHold(SRWLOCK& held) : lock(held) { AcquireSRWLockExclusive(&lock); }
    ~SrwHold() { ReleaseSRWLockExclusive(&lock); }
    SRWLOCK& lock;
};
