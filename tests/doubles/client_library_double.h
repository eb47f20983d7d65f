// Steering and journal of the doubles of VPN clients' own libraries. The library under test
// loads and frees them again and again, so both live in the process's environment.
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

inline std::string EnvironmentText(const char* name) {
    char value[4096] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length < sizeof value ? std::string(value, length) : std::string();
}
// Each call is noted followed by a space, unless the process keeps no journals (a run that
// counts its heap, which a growing environment would swell).
constexpr char kNoJournals[] = "LINKSET_NO_JOURNALS";
inline void NoteCall(const char* journal, const std::string& call) {
    if (GetEnvironmentVariableA(kNoJournals, nullptr, 0) != 0) return;
    SetEnvironmentVariableA(journal, (EnvironmentText(journal) + call + " ").c_str());
}
// The C++ runtime built into a double keeps its emergency exception pool until told otherwise;
// a double that goes at every unload gives it back, so that loading it again costs nothing.
namespace __gnu_cxx {
void __freeres() noexcept;
}
inline void ReleaseRuntimeAtUnload(DWORD reason) {
    if (reason == DLL_PROCESS_DETACH) __gnu_cxx::__freeres();
}
inline std::string TakeCalls(const char* journal) {
    const std::string calls = EnvironmentText(journal);
    SetEnvironmentVariableA(journal, nullptr);
    return calls;
}
