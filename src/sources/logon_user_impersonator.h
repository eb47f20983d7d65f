// Impersonation of the user logged on at the machine, for the Remote Access reads: the phone
// book and the connections are the user's, not those of the service account a host may run as.
// The user is found through a shell process of theirs, the Windows shell (EXPLORER.EXE in the
// Windows directory) or the command shell (CMD.EXE in the system directory).
#pragma once

#include <cstdint>

// A local object: Impersonate, then let it go out of scope on every exit, which reverts.
// Construction, Impersonate and destruction happen on the same thread.
class LogonUserImpersonator {
public:
    LogonUserImpersonator() = default;
    ~LogonUserImpersonator();
    LogonUserImpersonator(const LogonUserImpersonator&) = delete;
    LogonUserImpersonator& operator=(const LogonUserImpersonator&) = delete;

    // 0 when the thread now impersonates the first shell process of the process list, and also
    // when no such process runs (then nothing changed); -1 on every failure, with its line.
    int Impersonate();

private:
    uint32_t m_impersonating = 0;
};
