// A host's debug log that keeps every line it receives, for tests that check what the library
// reports.
#pragma once

#include <linkset/outputstr.h>

#include <atomic>
#include <string>
#include <vector>

#include "test_threads.h"

class RecordingDebugLog final : public IDebugLog {
public:
    bool IsEnabled() override { return enabled; }
    void Write(const outputstr* line) override;

    std::vector<std::string> Lines() const;
    void Clear();
    // True when exactly one line was written and it equals `line` followed by "\n".
    bool WroteOnly(const std::string& line) const;

    std::atomic<bool> enabled{true};

private:
    mutable TestLock m_lock;
    std::vector<std::string> m_lines;
};

// Installs a log through a setter (the static library's or the DLL's LsSetDebugOutput) for
// the scope, and removes it again.
class ScopedDebugLog {
public:
    using Setter = void (*)(IDebugLog*);
    ScopedDebugLog(RecordingDebugLog& log, Setter setter) : m_setter(setter) { m_setter(&log); }
    ~ScopedDebugLog() { m_setter(nullptr); }
    ScopedDebugLog(const ScopedDebugLog&) = delete;
    ScopedDebugLog& operator=(const ScopedDebugLog&) = delete;

private:
    Setter m_setter;
};
