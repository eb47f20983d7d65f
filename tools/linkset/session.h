// What every manager command of linkset does first: install the debug log, create the manager
// (catching the library's exception), and wait for the first adapter pass.
#pragma once

#include <linkset/linkset.h>

#include <memory>

struct Options;

struct ManagerDeleter {
    void operator()(ILinkSetManager* manager) const { LsDeleteLinkSetManager(manager); }
};
using ManagerHandle = std::unique_ptr<ILinkSetManager, ManagerDeleter>;

class Session {
public:
    // Creates the manager; on failure `manager()` is null and the reason has been printed.
    explicit Session(const Options& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ILinkSetManager* manager() const { return m_manager.get(); }

    // Waits until the first adapter pass has been counted, showing progress on a terminal.
    // False when it did not come in time.
    bool WaitForFirstPass() const;

private:
    ManagerHandle m_manager;
};

// Waits about `milliseconds`, or less when the user interrupts; false once interrupted.
bool PauseUnlessInterrupted(unsigned milliseconds);
bool Interrupted();
