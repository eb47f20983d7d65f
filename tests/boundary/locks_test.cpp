#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>

#include "boundary/locks.h"
#include "system/handles.h"

namespace {

class CountingLock final : public CCoreRtLock {
public:
    void Lock() override { ++locks; }
    void Unlock() override { ++unlocks; }
    int locks = 0;
    int unlocks = 0;
};

TEST(AutoLock, ReleasesExactlyOnceHoweverTheScopeIsLeft) {
    CountingLock lock;
    try {
        CCoreRtAutoLock guard(&lock);
        throw std::runtime_error("leave by exception");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(lock.locks, 1);
    EXPECT_EQ(lock.unlocks, 1);

    {
        CCoreRtAutoLock guard(&lock);
        guard.Release();
        guard.Release();
    }
    EXPECT_EQ(lock.locks, 2);
    EXPECT_EQ(lock.unlocks, 2);

    CCoreRtAutoLock none(nullptr);  // a guard without a lock does nothing
}

struct Contender {
    CCoreRtCriticalSectionEx* section;
    HANDLE acquired;
};

DWORD WINAPI TakeAndSignal(void* argument) {
    auto* contender = static_cast<Contender*>(argument);
    CCoreRtAutoLock guard(contender->section);
    SetEvent(contender->acquired);
    return 0;
}

TEST(CriticalSection, OwnerMayReenterAndOthersWaitForTheLastUnlock) {
    CCoreRtCriticalSectionEx section;
    UniqueHandle acquired(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    Contender contender{&section, acquired.get()};

    section.Lock();
    section.Lock();  // the owner takes it again
    UniqueHandle thread(CreateThread(nullptr, 0, &TakeAndSignal, &contender, 0, nullptr));
    section.Unlock();
    // Still held once: the other thread cannot have it yet.
    EXPECT_EQ(WaitForSingleObject(acquired.get(), 200), static_cast<DWORD>(WAIT_TIMEOUT));
    section.Unlock();
    EXPECT_EQ(WaitForSingleObject(acquired.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
}

}  // namespace
