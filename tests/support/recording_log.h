// A host's debug log that keeps every line it receives.
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
        const SrwHold hold(m_lock);
        m_lines.push_back(std::move(text));
    }
    std::vector<std::string> Lines() const {
        const SrwHold hold(m_lock);
        return m_lines;
    }
    void Clear() {
        const SrwHold hold(m_lock);
        m_lines.clear();
    }

    std::atomic<bool> enabled{true};

private:
    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    std::vector<std::string> m_lines;
};

// Installs a log through a setter (the static library's or the DLL's LsSetDebugOutput) for a scope.
struct ScopedDebugLog {
    using Setter = void (*)(IDebugLog*);
    ScopedDebugLog(RecordingDebugLog& log, Setter set) : setter(set) { set(&log); }
    ~ScopedDebugLog() { setter(nullptr); }
    ScopedDebugLog(const ScopedDebugLog&) = delete;
    const Setter setter;
};
