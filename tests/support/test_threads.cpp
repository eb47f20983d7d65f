#include "test_threads.h"

#include <utility>

namespace {

DWORD WINAPI RunBody(void* body) {
    (*static_cast<std::function<void()>*>(body))();
    return 0;
}

}  // namespace

TestThread::TestThread(std::function<void()> body)
    : m_body(std::make_unique<std::function<void()>>(std::move(body))),
      m_thread(CreateThread(nullptr, 0, &RunBody, m_body.get(), 0, nullptr)) {}

TestThread::TestThread(TestThread&& other) noexcept
    : m_body(std::move(other.m_body)), m_thread(std::exchange(other.m_thread, nullptr)) {}

TestThread::~TestThread() {
    Join();
    if (m_thread != nullptr) CloseHandle(m_thread);
}

bool TestThread::Join(DWORD milliseconds) {
    return m_thread == nullptr || WaitForSingleObject(m_thread, milliseconds) == WAIT_OBJECT_0;
}
