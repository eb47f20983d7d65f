#include "recording_log.h"

bool RecordingDebugLog::IsEnabled() {
    ++isEnabledCalls;
    return enabled;
}

void RecordingDebugLog::Write(const outputstr* line) {
    // The length field is what a host trusts; a mismatch with the text would show here.
    std::string text = line->text ? std::string(line->text, static_cast<size_t>(line->length)) : std::string();
    std::lock_guard<std::mutex> guard(m_mutex);
    m_lines.push_back(std::move(text));
}

std::vector<std::string> RecordingDebugLog::Lines() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_lines;
}

void RecordingDebugLog::Clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_lines.clear();
}

bool RecordingDebugLog::WroteOnly(const std::string& line) const {
    const std::vector<std::string> lines = Lines();
    return lines.size() == 1 && lines[0] == line + "\n";
}
