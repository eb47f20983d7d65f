#include "session.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <io.h>

#include "library_exception.h"
#include "options.h"

namespace {

// The first adapter pass comes on the first tick of a process's first manager (~0.5 s); a later
// manager of the same process may wait up to ten ticks. Either way it is well within this.
constexpr unsigned kFirstPassTimeoutMs = 15000;
constexpr unsigned kPollMs = 100;

std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD) {
    g_interrupted = true;
    return TRUE;
}

// Prints every line the library reports to stderr, as it comes.
class StderrLog final : public IDebugLog {
public:
    bool IsEnabled() override { return true; }
    void Write(const outputstr* line) override {
        std::fprintf(stderr, "%s", line->c_str());
        std::fflush(stderr);
    }
};
StderrLog g_stderrLog;

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

ILinkSetManager* CreateManager() {
    CQndException* failure = nullptr;
    ILinkSetManager* manager = CreateManagerCatchingFailure(&failure);
    if (failure != nullptr) {
        std::fprintf(stderr, "linkset: the library could not start: %s\n", failure->Reason.c_str());
        failure->Delete();
    } else if (manager == nullptr) {
        std::fprintf(stderr, "linkset: the library could not create its manager (out of memory)\n");
    }
    return manager;
}

}  // namespace

Session::Session(const Options& options) {
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
    if (options.verbose) LsSetDebugOutput(&g_stderrLog);
    m_manager.reset(CreateManager());
}

Session::~Session() {
    m_manager.reset();
    LsSetDebugOutput(nullptr);
}

bool Session::WaitForFirstPass() const {
    const bool showProgress = StderrIsTerminal();
    unsigned waited = 0;
    while (m_manager->GetChangeCount() == 0 && waited < kFirstPassTimeoutMs && PauseUnlessInterrupted(kPollMs)) {
        if (showProgress && waited % 500 == 0)
            std::fprintf(stderr, "\rreading the network adapters%-3.*s", static_cast<int>(waited / 500 % 4), "...");
        waited += kPollMs;
    }
    if (showProgress) std::fprintf(stderr, "\r%40s\r", "");
    return m_manager->GetChangeCount() != 0;
}

bool PauseUnlessInterrupted(unsigned milliseconds) {
    for (unsigned slept = 0; slept < milliseconds && !g_interrupted; slept += kPollMs) Sleep(kPollMs);
    return !g_interrupted;
}

bool Interrupted() { return g_interrupted; }
