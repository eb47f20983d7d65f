// What the doubles share, and how tests steer them and read their journals through the environment.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "test_threads.h"

constexpr char kWlanDoubleVariable[] = "LINKSET_WLAN_DOUBLE";  // wlanapi.dll lists these: "{GUID},{GUID}..."
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
inline void NoteCall(const char* journal, const std::string& call) {
    if (GetEnvironmentVariableA(kNoJournals, nullptr, 0) == 0)
        SetEnvironmentVariableA(journal, (EnvironmentText(journal) + call + " ").c_str());
}
inline std::string TakeCalls(const char* journal) {
    const std::string calls = EnvironmentText(journal);
    SetEnvironmentVariableA(journal, nullptr);
    return calls;
}

// For a double's DllMain: frees the C++ runtime's emergency exception pool at unload, so reloading costs nothing.
namespace __gnu_cxx { void __freeres() noexcept; }
inline BOOL ReleaseRuntimeAtUnload(DWORD reason) {
    if (reason == DLL_PROCESS_DETACH) __gnu_cxx::__freeres();
    return TRUE;
}

// Every call takes the made-up machine alone: a test may replace it, reading an entry may change it.
inline SRWLOCK g_machineLock = SRWLOCK_INIT;

// The two-step size protocol: the caller learns the size it needs either way.
template <class Size>
bool Fits(const void* buffer, Size* size, Size needed) {
    const bool fits = buffer != nullptr && *size >= needed;
    *size = needed;
    return fits;
}

// As much of `text` as a fixed field holds with its terminator, the rest zeroed.
template <std::size_t N>
void Put(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}
