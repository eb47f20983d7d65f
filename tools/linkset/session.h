// What every manager command of linkset does first: the debug log when asked for, Ctrl+C, the
// manager, and the wait for its first adapter pass.
#pragma once

#include <linkset/linkset.hpp>

#include <cstdint>
#include <optional>

#include "command_line.h"

// Prints every line the library reports to stderr, as it comes.
class StderrLog final : public linkset::debug_log {
public:
    void write(const char* line) override;
};

class Session {
public:
    explicit Session(const Options& options);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    enum class FirstPass { kWait, kSkip };
    // Creates the manager and, unless skipped, waits for its first adapter pass (with progress on
    // a terminal). Answers kExitOk, or the exit code to end with once the reason is printed.
    int Start(FirstPass firstPass = FirstPass::kWait);
    // The wait of Start for a manager started without it; at once when the pass already came.
    int WaitForFirstPass();
    linkset::manager& manager() { return *m_manager; }

private:
    StderrLog m_log;
    std::optional<linkset::debug_output> m_output;  // outlives the manager: declared first
    std::optional<linkset::manager> m_manager;
};

// Waits about `milliseconds`, or less when the user interrupts; false once interrupted.
bool PauseUnlessInterrupted(uint64_t milliseconds);
bool Interrupted();
