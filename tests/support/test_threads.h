// Threads and a lock for tests, on the system's own primitives: the win32 thread model that
// LinkSet is built with has no std::thread or std::mutex.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

// A short lock for test bookkeeping shared with worker threads, held by a TestLockGuard.
struct TestLock {
    SRWLOCK lock = SRWLOCK_INIT;
};

class TestLockGuard {
public:
    explicit TestLockGuard(TestLock& lock) : m_lock(lock.lock) { AcquireSRWLockExclusive(&m_lock); }
    ~TestLockGuard() { ReleaseSRWLockExclusive(&m_lock); }
    TestLockGuard(const TestLockGuard&) = delete;
    TestLockGuard& operator=(const TestLockGuard&) = delete;

private:
    SRWLOCK& m_lock;
};

// Runs `body` on a thread of its own; Join waits for it, at most `milliseconds`, and says
// whether it ended. The destructor joins without a bound.
class TestThread {
public:
    explicit TestThread(std::function<void()> body);
    ~TestThread();
    TestThread(TestThread&& other) noexcept;
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;
    bool Join(DWORD milliseconds = INFINITE);

private:
    std::unique_ptr<std::function<void()>> m_body;
    HANDLE m_thread;
};
