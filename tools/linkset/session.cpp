#include "session.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <io.h>

namespace {

// The first adapter pass comes on the first tick of a process's first manager (~0.5 s); a later
// manager of the same process may wait up to ten ticks. Either way it is well within this.
constexpr unsigned kFirstPassTimeoutMs = 15000;
constexpr unsigned kPollMs = 100;
constexpr unsigned kProgressStepMs = 500;

std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD) {
    g_interrupted = true;
    return TRUE;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace

void StderrLog::write(const char* line) {
    std::fputs(line, stderr);
    std::fflush(stderr);
}

Session::Session(const Options& options) {
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
    if (!options.verbose) return;
    std::fprintf(stderr, "linkset: --verbose: the library's own report lines (mostly errors) follow on stderr\n");
    m_output.emplace(m_log);
}

int Session::Start(FirstPass firstPass) {
    try {
        m_manager.emplace();
    } catch (const linkset::start_error& failure) {
        std::fprintf(stderr, "linkset: the library could not start: %s\n", failure.what());
        return kExitFailed;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "linkset: the library could not create its manager (out of memory)\n");
        return kExitFailed;
    }
    return firstPass == FirstPass::kSkip ? kExitOk : WaitForFirstPass();
}

int Session::WaitForFirstPass() {
    const bool showProgress = StderrIsTerminal();
    bool passed = false;
    for (unsigned waited = 0; !passed && waited < kFirstPassTimeoutMs && !Interrupted(); waited += kPollMs) {
        if (showProgress && waited % kProgressStepMs == 0)
            std::fprintf(stderr, "\rreading the network adapters%-3.*s", static_cast<int>(waited / kProgressStepMs % 4), "...");
        passed = m_manager->wait_for_change(std::chrono::milliseconds(kPollMs));
    }
    if (showProgress) std::fprintf(stderr, "\r%40s\r", "");
    if (passed) return kExitOk;
    if (Interrupted()) return kExitInterrupted;
    std::fprintf(stderr, "linkset: the first adapter pass did not come in time\n");
    return kExitFailed;
}

bool PauseUnlessInterrupted(uint64_t milliseconds) {
    for (uint64_t slept = 0; slept < milliseconds && !g_interrupted; slept += kPollMs)
        Sleep(static_cast<DWORD>(milliseconds - slept < kPollMs ? milliseconds - slept : kPollMs));
    return !g_interrupted;
}

bool Interrupted() { return g_interrupted; }
