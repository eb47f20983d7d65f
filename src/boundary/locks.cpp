#include "boundary/locks.h"

#include <utility>

CCoreRtCriticalSectionEx::CCoreRtCriticalSectionEx() { InitializeCriticalSection(&m_section); }

CCoreRtCriticalSectionEx::~CCoreRtCriticalSectionEx() { DeleteCriticalSection(&m_section); }

void CCoreRtCriticalSectionEx::Lock() { EnterCriticalSection(&m_section); }

void CCoreRtCriticalSectionEx::Unlock() { LeaveCriticalSection(&m_section); }

CCoreRtAutoLock::CCoreRtAutoLock(CCoreRtLock* lock) : m_lock(lock) {
    if (m_lock != nullptr) m_lock->Lock();
}

CCoreRtAutoLock::~CCoreRtAutoLock() { Release(); }

void CCoreRtAutoLock::Release() {
    // The pointer is cleared before unlocking, so a guard unlocks at most once.
    if (CCoreRtLock* lock = std::exchange(m_lock, nullptr)) lock->Unlock();
}
