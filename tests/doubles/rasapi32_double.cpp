// Remote Access on a made-up machine (fake_ip_helper.h), checking record sizes, book path and names as Windows does.
#include "fake_ip_helper.h"

#include <ras.h>
#include <raserror.h>

#include <atomic>

#include "double_support.h"

namespace {

constexpr char kPhoneBookPath[] = "C:\\ProgramData\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
constexpr DWORD kGrowth = 64;  // what a growing entry gains between the two calls
constexpr ULONG_PTR kFirstConnection = 0x5A50;

// Windows 2000's connection record: natural alignment, no flags and logon identifier.
struct RasConnWindows2000 {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RAS_MaxEntryName + 1], szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1], szPhonebook[MAX_PATH];
    DWORD dwSubEntry;
    GUID guidEntry;
};

FakeRas g_machine;
std::vector<bool> g_grown;  // per phone-book entry
std::atomic<LONG> g_listings{0};

// The first record's size field must be the system's; the count is told even to a short buffer.
template <class Record, class Item, class Fill>
DWORD List(Record* records, DWORD* size, DWORD* count, const std::vector<Item>& items, Fill fill) {
    if (size == nullptr || count == nullptr) return ERROR_INVALID_PARAMETER;
    if (records != nullptr && records->dwSize != sizeof(Record)) return ERROR_INVALID_SIZE;
    *count = static_cast<DWORD>(items.size());
    if (!Fits(records, size, static_cast<DWORD>(items.size() * sizeof(Record)))) return ERROR_BUFFER_TOO_SMALL;
    for (std::size_t i = 0; i < items.size(); ++i) {
        records[i] = {};
        records[i].dwSize = sizeof(Record);
        fill(records[i], items[i], i);
    }
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

__declspec(dllexport) void SetFakeRas(const FakeRas* machine) {
    const SrwHold hold(g_machineLock);
    g_machine = machine ? *machine : FakeRas{};
    g_grown.assign(g_machine.phoneBook.size(), false);
}
__declspec(dllexport) LONG PhoneBookListings() { return g_listings; }

__declspec(dllexport) DWORD WINAPI RasEnumEntriesA(LPCSTR, LPCSTR book, LPRASENTRYNAMEA entries, LPDWORD size,
                                                   LPDWORD count) {
    ++g_listings;
    const SrwHold hold(g_machineLock);
    if (book != nullptr) return ERROR_CANNOT_OPEN_PHONEBOOK;  // the machine has the default one only
    return List(entries, size, count, g_machine.phoneBook, [](RASENTRYNAMEA& r, const FakeRasEntry& e, std::size_t) {
        Put(r.szEntryName, e.name);
        Put(r.szPhonebookPath, kPhoneBookPath);
    });
}

__declspec(dllexport) DWORD WINAPI RasEnumConnectionsA(LPRASCONNA connections, LPDWORD size, LPDWORD count) {
    const SrwHold hold(g_machineLock);
    const auto list = [&](auto* records) {
        return List(records, size, count, g_machine.connections, [](auto& r, const FakeRasConnection& c, auto i) {
            r.hrasconn = reinterpret_cast<HRASCONN>(kFirstConnection + i);
            Put(r.szEntryName, c.entryName);
            Put(r.szDeviceType, c.deviceType);
        });
    };
    OSVERSIONINFOA version = {sizeof version, 0, 0, 0, 0, {}};
    const bool windows2000 = GetVersionExA(&version) && version.dwMajorVersion == 5 && version.dwMinorVersion == 0;
    return windows2000 ? list(reinterpret_cast<RasConnWindows2000*>(connections)) : list(connections);
}

__declspec(dllexport) DWORD WINAPI RasGetProjectionInfoA(HRASCONN connection, RASPROJECTION projection, LPVOID info,
                                                         LPDWORD size) {
    const SrwHold hold(g_machineLock);
    const ULONG_PTR index = reinterpret_cast<ULONG_PTR>(connection) - kFirstConnection;
    auto* ip = static_cast<RASPPPIPA*>(info);
    if (index >= g_machine.connections.size()) return ERROR_INVALID_HANDLE;
    if (projection != RASP_PppIp || size == nullptr || ip == nullptr) return ERROR_INVALID_PARAMETER;
    if (*size < sizeof(RASPPPIPA) || ip->dwSize != sizeof(RASPPPIPA)) return ERROR_INVALID_SIZE;
    Put(ip->szIpAddress, g_machine.connections[index].ipAddress);
    return ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI RasGetEntryPropertiesA(LPCSTR book, LPCSTR name, LPRASENTRYA entry, LPDWORD size,
                                                          LPBYTE, LPDWORD) {
    const SrwHold hold(g_machineLock);
    if (book == nullptr || std::strcmp(book, kPhoneBookPath) != 0) return ERROR_CANNOT_OPEN_PHONEBOOK;
    const auto& entries = g_machine.phoneBook;
    const auto made = std::find_if(entries.begin(), entries.end(), [name](const auto& e) { return e.name == name; });
    if (made == entries.end() || size == nullptr) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    const std::size_t index = static_cast<std::size_t>(made - entries.begin());
    if (entry != nullptr && made->fault == RasEntryFault::GrowsBeforeRead) g_grown[index] = true;
    if (!Fits(entry, size, static_cast<DWORD>(sizeof(RASENTRYA) + (g_grown[index] ? kGrowth : 0))))
        return ERROR_BUFFER_TOO_SMALL;
    if (entry->dwSize != sizeof(RASENTRYA)) return ERROR_INVALID_SIZE;
    if (made->fault == RasEntryFault::ReadFails) return ERROR_ACCESS_DENIED;
    Put(entry->szDeviceType, made->deviceType);
    return ERROR_SUCCESS;
}

// Present so that the binding finds them; the library never calls them.
__declspec(dllexport) DWORD WINAPI RasGetConnectStatusA(HRASCONN, LPRASCONNSTATUSA) { return ERROR_INVALID_HANDLE; }
__declspec(dllexport) DWORD WINAPI RasDialA(LPRASDIALEXTENSIONS, LPCSTR, LPRASDIALPARAMSA, DWORD, LPVOID, LPHRASCONN) {
    return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
}
__declspec(dllexport) DWORD WINAPI RasGetEntryDialParamsA(LPCSTR, LPRASDIALPARAMSA, LPBOOL) {
    return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
}
__declspec(dllexport) DWORD WINAPI RasHangUpA(HRASCONN) { return ERROR_INVALID_HANDLE; }

}  // extern "C"
