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
// Each call is noted followed by a space.
inline void NoteCall(const char* journal, const std::string& call) {
    SetEnvironmentVariableA(journal, (EnvironmentText(journal) + call + " ").c_str());
}
inline std::string TakeCalls(const char* journal) {
    const std::string calls = EnvironmentText(journal);
    SetEnvironmentVariableA(journal, nullptr);
    return calls;
}
