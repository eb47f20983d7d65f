// A host's debug log that keeps every line it receives, for tests of what the library reports.
#pragma once

#include <linkset/outputstr.h>

#include <atomic>
#include <string>
#include <vector>

#include "test_threads.h"

class RecordingDebugLog final : public IDebugLog {
public:
    bool IsEnabled() override { return enabled; }
    // The length field is what a host trusts; a mismatch with the text shows here.
    void Write(const outputstr* line) override {
        std::string text = line->text ? std::string(line->text, static_cast<size_t>(line->length)) : std::string();
        const Hold hold(m_lock);
        m_lines.push_back(std::move(text));
    }
    std::vector<std::string> Lines() const { const Hold hold(m_lock); return m_lines; }
    void Clear() { const Hold hold(m_lock); m_lines.clear(); }
    // True when exactly one line was written: `line` and "\n".
    bool WroteOnly(const std::string& line) const { return Lines() == std::vector<std::string>{line + "\n"}; }

    std::atomic<bool> enabled{true};

private:
    struct Hold {
        explicit Hold(SRWLOCK& lock) : lock(lock) { AcquireSRWLockExclusive(&lock); }
        ~Hold() { ReleaseSRWLockExclusive(&lock); }
        SRWLOCK& lock;
    };
    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    std::vector<std::string> m_lines;
};

// Installs a log through a setter (the static library's or the DLL's LsSetDebugOutput) for a scope.
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
