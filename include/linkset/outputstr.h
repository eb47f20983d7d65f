// The library's narrow text and the host's debug log.
#pragma once

#include <stddef.h>

#include "abi.h"

// Growable narrow text in the system code page. A host only ever reads the two fields of a
// line handed to its debug log or of an exception's texts; everything else is the library's.
class outputstr {
public:
    char* text;                 // heap block with a terminating zero; null while empty
    unsigned long long length;  // characters before the terminator

    outputstr() noexcept : text(nullptr), length(0) {}
    const char* c_str() const noexcept { return text ? text : ""; }

    // The library's own operations (not exported).
    explicit outputstr(const char* s);
    outputstr(const outputstr& other);
    outputstr(outputstr&& other) noexcept;
    outputstr& operator=(const outputstr& other);
    outputstr& operator=(outputstr&& other) noexcept;
    ~outputstr();
    void Append(const char* s);
};

static_assert(sizeof(outputstr) == 16, "outputstr is 16 bytes");
static_assert(offsetof(outputstr, text) == 0, "outputstr::text at 0");
static_assert(offsetof(outputstr, length) == 8, "outputstr::length at 8");

// The host's debug log. The library calls slots 3 and 4 only, from any of its threads;
// the first three slots belong to the host. Write may be called while the library holds locks
// of its own: the manager's VPN lock, and on the maintenance thread the VPN detector's too. A
// Write that waits for a lock which the host holds while it calls the VPN slots (5 to 8)
// deadlocks: keep Write free of such locks, or hand lines to a queue.
class IDebugLog {
public:
    virtual void HostSlot0() {}
    virtual void HostSlot1() {}
    virtual void HostSlot2() {}
    virtual bool IsEnabled() = 0;                  // slot 3: non-zero byte means "send lines"
    virtual void Write(const outputstr* line) = 0;  // slot 4: the line is freed on return

protected:
    ~IDebugLog() = default;
};

// The host's event record: its fields are the host's own; the library only stores the callback.
struct __QEL_EVENT_LOG {
    unsigned char Data[120];
};
static_assert(sizeof(__QEL_EVENT_LOG) == 120, "__QEL_EVENT_LOG is 120 bytes");

typedef void (*EventOutputCallback)(__QEL_EVENT_LOG event, void* context);
