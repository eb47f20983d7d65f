// Run-time binding to the wireless LAN client API, which exists from Windows XP Service Pack 3
// on. One instance serves the process; the adapter discovery asks it whether an adapter is one
// of the machine's wireless LAN interfaces, and uses its link-speed rule when there is none.
#pragma once

#include <windows.h>
#include <wlanapi.h>

#include "system/handles.h"

class CWlanAPI {
public:
    // Loads the system directory's wlanapi.dll on a system that has it; all four entry points
    // or none.
    CWlanAPI();
    virtual ~CWlanAPI();
    CWlanAPI(const CWlanAPI&) = delete;
    CWlanAPI& operator=(const CWlanAPI&) = delete;

    // 1 when `adapterName` (a GUID in braces, as IP Helper names adapters) is the GUID of one
    // of the wireless LAN interfaces; 0 otherwise and on every failure.
    int IsWirelessAdapter(const char* adapterName) const;

    bool IsBound() const { return m_entryPoints[kOpenHandle] != nullptr; }

private:
    enum EntryPoint { kOpenHandle, kCloseHandle, kFreeMemory, kEnumInterfaces, kEntryPointCount };
    static const char* const kEntryPointNames[kEntryPointCount];

    // Only the types of the system's declarations are used: the library never links to
    // wlanapi.dll.
    template <class Function>
    Function EntryPointAs(EntryPoint which) const {
        return reinterpret_cast<Function>(m_entryPoints[which]);
    }
    void Reset();

    UniqueModule m_module;
    void* m_entryPoints[kEntryPointCount] = {};
};

// The process-wide binding, built on the first call and destroyed when the library unloads;
// null when it is not usable (older system, library or entry point missing).
CWlanAPI* GetWlanAPI();

// Whether this system has the wireless LAN API: version 6 or later, or 5.1 and later with
// exactly "Service Pack 3".
bool IsWlanSupportedOS();
// The same decision on a version record given rather than asked.
bool IsWlanSupportedVersion(const OSVERSIONINFOA& version);
