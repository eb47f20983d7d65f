#include "boundary/debug_output.h"

#include "boundary/outputstr.h"

std::atomic<IDebugLog*> g_pDebugLog{nullptr};
EventOutputCallback g_pfnEventOutput = nullptr;

namespace {

// Reads the pointer once, so a host that swaps its log meanwhile gets either the old or the
// new one for the whole line, never a mix.
IDebugLog* EnabledLog() {
    IDebugLog* log = g_pDebugLog.load();
    return (log != nullptr && log->IsEnabled()) ? log : nullptr;
}

void Send(const char* message, const char* ending) {
    IDebugLog* log = EnabledLog();
    if (log == nullptr) return;
    const outputstr line = outputstr() + message + ending;
    log->Write(&line);
}

}  // namespace

void WriteDebugLine(const char* message) { Send(message, "\n"); }

void WriteDebugLine(const outputstr& message) { Send(message.text, "\n"); }

void WriteDebugText(const char* message) { Send(message, nullptr); }
