#include "sources/miniras.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>

#include "boundary/debug_output.h"
#include "boundary/locks.h"
#include "boundary/outputstr.h"
#include "sources/entry_points.h"
#include "system/handles.h"
#include "system/system_facts.h"

namespace {

constexpr char kRasLibrary[] = "rasapi32.dll";
constexpr char kRasService[] = "RasMan";

enum RasFunction {
    kRasEnumConnections,
    kRasGetConnectStatus,
    kRasGetProjectionInfo,
    kRasDial,
    kRasHangUp,
    kRasEnumEntries,
    kRasGetEntryDialParams,
    kRasGetEntryProperties,
    kRasFunctionCount
};
// All eight are required, also those never called: a system lacking any of them has no Remote
// Access worth using.
constexpr const char* kRasFunctionNames[kRasFunctionCount] = {
    "RasEnumConnectionsA", "RasGetConnectStatusA", "RasGetProjectionInfoA",  "RasDialA",
    "RasHangUpA",          "RasEnumEntriesA",      "RasGetEntryDialParamsA", "RasGetEntryPropertiesA"};

using RasEnumConnectionsFunction = DWORD(WINAPI*)(void* connections, DWORD* size, DWORD* count);
using RasGetProjectionInfoFunction = DWORD(WINAPI*)(HANDLE connection, DWORD projection, void* info, DWORD* size);
using RasEnumEntriesFunction = DWORD(WINAPI*)(const char* reserved, const char* phonebook,
                                              RasEntryNameRecord* entries, DWORD* size, DWORD* count);
using RasGetEntryPropertiesFunction = DWORD(WINAPI*)(const char* phonebook, const char* entry, RasEntryRecord* info,
                                                     DWORD* size, BYTE* deviceInfo, DWORD* deviceInfoSize);

constexpr char kWaitingText[] = "Waiting for RAS service  ";
constexpr char kNotStartedLine[] = "ras has not started, exit right away ";
constexpr char kTimeoutLine[] =
    "It is timeout to wait for ras started."
    "NOTE: Under WinNT, Remote access autodial manager service shall"
    " be Automatic in startup option. To do that, reboot and try again.";

// The binding's state for the whole process. Passes of several managers run on threads of
// their own, so each change of the count and of the library is one step under the lock. The
// lock is never held across a call that may wait (the service start, loading the library), so a
// thread ended in the middle of one cannot leave it taken.
struct MiniRas {
    CCoreRtCriticalSectionEx lock;  // a critical section: 64-bit Windows before Vista has no lighter lock
    UniqueModule library;
    void* entryPoints[kRasFunctionCount] = {};
    uint32_t loadCount = 1;
    std::atomic<bool> notInstalledReportPending{true};
};
MiniRas g_miniRas;

class MiniRasLock {
public:
    MiniRasLock() : m_guard(&g_miniRas.lock) {}

private:
    CCoreRtAutoLock m_guard;
};

// Takes a reference when the library is loaded already.
bool AddReferenceIfLoaded() {
    const MiniRasLock guard;
    if (!g_miniRas.library) return false;
    ++g_miniRas.loadCount;
    return true;
}

// Valid while the caller holds a reference.
template <class Function>
Function RasEntryPoint(RasFunction which) {
    return reinterpret_cast<Function>(g_miniRas.entryPoints[which]);
}

// A zeroed block for the entry's properties, stamped with the record size this library knows.
// Never smaller than that record, whatever size the system asked for.
UniqueHeapBlock PreparedEntry(DWORD size) {
    UniqueHeapBlock block = HeapAllocZeroed(std::max<std::size_t>(size, sizeof(RasEntryRecord)));
    if (block) static_cast<RasEntryRecord*>(block.get())->dwSize = sizeof(RasEntryRecord);
    return block;
}

void CopyDeviceType(const UniqueHeapBlock& entry, char* deviceType) {
    const char* field = static_cast<const RasEntryRecord*>(entry.get())->szDeviceType;
    const std::size_t length = strnlen(field, kRasDeviceTypeRoom - 1);
    std::memcpy(deviceType, field, length);
    deviceType[length] = '\0';
}

}  // namespace

int MiniRasLoad() {
    // Once loaded, nothing is resolved again and the system is not asked again.
    if (AddReferenceIfLoaded()) return 0;
    if (!IsWindows2000OrLater() && MiniRasEnsureService() != 0) return -1;
    UniqueModule library(LoadLibraryA(kRasLibrary));
    if (!library) return -1;
    void* entryPoints[kRasFunctionCount] = {};
    if (!ResolveEntryPoints(library.get(), kRasFunctionNames, entryPoints)) return -1;  // the owner frees it

    const MiniRasLock guard;
    if (!g_miniRas.library) {  // else another thread loaded it meanwhile, and this copy goes
        g_miniRas.library = std::move(library);
        std::copy(std::begin(entryPoints), std::end(entryPoints), g_miniRas.entryPoints);
    }
    ++g_miniRas.loadCount;
    return 0;
}

int MiniRasUnload() {
    const MiniRasLock guard;
    if (g_miniRas.loadCount != 0 && --g_miniRas.loadCount != 0) return 0;
    std::fill(std::begin(g_miniRas.entryPoints), std::end(g_miniRas.entryPoints), nullptr);
    g_miniRas.library.reset();
    return 0;
}

int MiniRasEnsureService() {
    if (!IsWindowsNT()) return 0;
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!manager) {
        WriteDebugLine("miniras: fail to open servicemanager.");
        return -1;
    }
    const UniqueServiceHandle service(OpenServiceA(manager.get(), kRasService, GENERIC_READ));
    if (!service) {
        if (g_miniRas.notInstalledReportPending.exchange(false)) WriteDebugLine("miniras: RAS was not installed.");
        return -1;
    }
    WriteDebugText(kWaitingText);
    MiniRasStartService();
    // The state right after the request decides: a service still starting counts as not running.
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING) {
        WriteDebugLine("done");
        return 0;
    }
    WriteDebugLine(kNotStartedLine);
    WriteDebugLine(kTimeoutLine);
    return -1;
}

int MiniRasStartService() {
    if (!IsWindowsNT()) return 0;
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ | GENERIC_EXECUTE));
    if (!manager) return -1;
    const UniqueServiceHandle service(OpenServiceA(manager.get(), kRasService, SERVICE_ALL_ACCESS));
    if (!service) return -1;
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED) {
        WriteDebugLine("Start Ras Service...");
        StartServiceA(service.get(), 0, nullptr);  // whether it starts shows in the status read after
    }
    return 0;
}

int MiniRasEnumEntries(const char*, const char*, RasEntryNameRecord* entries, DWORD* size, DWORD* count) {
    if (count != nullptr) *count = 0;
    const MiniRasReference ras;
    if (!ras) return 0;
    return static_cast<int>(
        RasEntryPoint<RasEnumEntriesFunction>(kRasEnumEntries)(nullptr, nullptr, entries, size, count));
}

int MiniRasEnumConnections(void* connections, DWORD* size, DWORD* count) {
    if (count != nullptr) *count = 0;
    const MiniRasReference ras;
    if (!ras) return 0;
    return static_cast<int>(RasEntryPoint<RasEnumConnectionsFunction>(kRasEnumConnections)(connections, size, count));
}

int MiniRasGetProjectionInfo(HANDLE connection, DWORD, RasPppIpRecord* projection, DWORD* size) {
    const MiniRasReference ras;
    if (!ras) return 0;
    return static_cast<int>(RasEntryPoint<RasGetProjectionInfoFunction>(kRasGetProjectionInfo)(
        connection, kRasProjectionPppIp, projection, size));
}

int MiniRasGetEntryDeviceType(const RasEntryNameRecord* entry, char* deviceType) {
    if (entry == nullptr || deviceType == nullptr) return -1;
    const MiniRasReference ras;
    if (!ras) return -1;
    const auto getProperties = RasEntryPoint<RasGetEntryPropertiesFunction>(kRasGetEntryProperties);
    const auto read = [&](const UniqueHeapBlock& block, DWORD& size) {
        return static_cast<int>(getProperties(entry->szPhonebookPath, entry->szEntryName,
                                              static_cast<RasEntryRecord*>(block.get()), &size, nullptr, nullptr));
    };
    DWORD size = 0;
    const int sizeQuery = read(UniqueHeapBlock(), size);
    if (sizeQuery != kRasErrorBufferTooSmall) return -1;
    if (size == 0) return kRasErrorBufferTooSmall;

    UniqueHeapBlock properties = PreparedEntry(size);
    if (!properties) return -1;
    int result = read(properties, size);
    if (result == kRasErrorBufferTooSmall) {
        // The entry grew between the two calls: one more try at the size now named.
        WriteDebugLine(outputstr("RasGetEntryProperties compain buffer is too small, buffer needed is ") +
                       static_cast<unsigned long>(size));
        properties = PreparedEntry(size);
        if (!properties) return -1;
        result = read(properties, size);
        if (result != 0) {
            WriteDebugLine(outputstr("ERROR: when get device type again error code ") + result);
            return -1;
        }
    } else if (result != 0) {
        WriteDebugLine(outputstr("ERROR: when get device type error code ") + result);
        return -1;
    }
    CopyDeviceType(properties, deviceType);
    return 0;
}
