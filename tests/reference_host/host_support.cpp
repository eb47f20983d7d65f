#include "host_support.h"

namespace {
int g_passed = 0;
int g_failed = 0;
}  // namespace

void Check(bool ok, const char* what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    (ok ? g_passed : g_failed)++;
}

int FailedChecks() {
    printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed;
}

void HostLog::Write(const outputstr* line) {
    if (count < kLines) {
        unsigned long long i = 0;
        for (; i < line->length && i + 1 < sizeof m_lines[0]; ++i) m_lines[count][i] = line->text[i];
        m_lines[count][i] = '\0';
    }
    ++count;
}

bool HostLog::Saw(const char* text) const {
    for (int i = 0; i < count && i < kLines; ++i)
        if (strcmp(m_lines[i], text) == 0) return true;
    return false;
}
