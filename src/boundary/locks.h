// The lock classes guarding the manager's port list and VPN detector and the detector's
// plug-in list. Locks are taken through CCoreRtAutoLock, or as a Lock/Unlock pair within one
// operation; none is held across a return to the host.
#pragma once

#include <windows.h>

class CCoreRtLock {
public:
    virtual ~CCoreRtLock() = default;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;

    CCoreRtLock() = default;
    CCoreRtLock(const CCoreRtLock&) = delete;
    CCoreRtLock& operator=(const CCoreRtLock&) = delete;
};

// A Windows critical section: recursive for its owner, blocking for everyone else.
class CCoreRtCriticalSectionEx final : public CCoreRtLock {
public:
    CCoreRtCriticalSectionEx();
    ~CCoreRtCriticalSectionEx() override;
    void Lock() override;
    void Unlock() override;

private:
    CRITICAL_SECTION m_section;
};

// Holds a lock for its scope, however the scope is left.
class CCoreRtAutoLock {
public:
    explicit CCoreRtAutoLock(CCoreRtLock* lock);
    ~CCoreRtAutoLock();
    // Releases early; a released guard does nothing more.
    void Release();

    CCoreRtAutoLock(const CCoreRtAutoLock&) = delete;
    CCoreRtAutoLock& operator=(const CCoreRtAutoLock&) = delete;

private:
    CCoreRtLock* m_lock;
};
