#include "recording_log.h"

void RecordingDebugLog::Write(const outputstr* line) {
    // The length field is what a host trusts; a mismatch with the text would show here.
    std::string text = line->text ? std::string(line->text, static_cast<size_t>(line->length)) : std::string();
    TestLockGuard guard(m_lock);
    m_lines.push_back(std::move(text));
}

std::vector<std::string> RecordingDebugLog::Lines() const {
    TestLockGuard guard(m_lock);
    return m_lines;
}

void RecordingDebugLog::Clear() {
    TestLockGuard guard(m_lock);
    m_lines.clear();
}

bool RecordingDebugLog::WroteOnly(const std::string& line) const {
    const std::vector<std::string> lines = Lines();
    return lines.size() == 1 && lines[0] == line + "\n";
}
