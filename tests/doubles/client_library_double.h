// Steering and journal of the VPN clients' library doubles, in the environment: they come and go.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// cmondll.dll: "version 0" makes the version call answer 0, "refuse" refuses registration.
constexpr char kCmonSteering[] = "LINKSET_CMONDLL", kCmonCalls[] = "LINKSET_CMONDLL_CALLS";
// Its export for tests: calls the registered callback with a code on a thread of its own.
using RaiseIkeEventFunction = uint32_t (*)(uint32_t code);
// ConAPI.dll: one digit per rule, its active byte ("01": two rules, the second active), then
// after "/" the call that fails: "I" initialising, "S" the first stat-server call.
constexpr char kConApiSteering[] = "LINKSET_CONAPI", kConApiCalls[] = "LINKSET_CONAPI_CALLS";
// Set, no journal is kept: a run that counts its heap would see the environment grow.
constexpr char kNoJournals[] = "LINKSET_NO_JOURNALS";

inline std::string EnvironmentText(const char* name) {
    char value[4096] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length < sizeof value ? std::string(value, length) : std::string();
}
// Notes a call, followed by a space.
inline void NoteCall(const char* journal, const std::string& call) {
    if (GetEnvironmentVariableA(kNoJournals, nullptr, 0) == 0)
        SetEnvironmentVariableA(journal, (EnvironmentText(journal) + call + " ").c_str());
}
inline std::string TakeCalls(const char* journal) {
    const std::string calls = EnvironmentText(journal);
    SetEnvironmentVariableA(journal, nullptr);
    return calls;
}

// For a double's DllMain: gives back the C++ runtime's emergency exception pool at unload, so that
// reloading costs nothing.
namespace __gnu_cxx { void __freeres() noexcept; }
inline BOOL ReleaseRuntimeAtUnload(DWORD reason) {
    if (reason == DLL_PROCESS_DETACH) __gnu_cxx::__freeres();
    return TRUE;
}
