// A Remote Access library that answers from the phone book and connections a test made up
// (fake_ras.h) and checks what the system checks: the size field of every record (the
// connection record as the version the double runs under lays it out), the default phone
// book, and the path and name handed to the properties call. One build lacks RasHangUpA.
#include <ras.h>
#include <raserror.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "fake_ras.h"

namespace {

constexpr char kPhoneBookPath[] = "C:\\ProgramData\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
constexpr DWORD kGrowth = 64;  // what a growing entry gains between the two calls
constexpr ULONG_PTR kFirstConnectionHandle = 0x5A50;

// The connection record of Windows 2000: natural alignment, without flags and logon identifier.
struct RasConnWindows2000 {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RAS_MaxEntryName + 1];
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
    CHAR szPhonebook[MAX_PATH];
    DWORD dwSubEntry;
    GUID guidEntry;
};

FakeRas g_machine;
std::vector<bool> g_grown;  // per phone-book entry
std::atomic<LONG> g_phoneBookListings{0};

template <std::size_t N>
void Put(CHAR (&field)[N], const std::string& text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

bool IsWindows2000() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwMajorVersion == 5 && version.dwMinorVersion == 0;
}

// The list protocol: the size field of the first record must be the system's, the count is
// always told, and a buffer too small gets the size needed.
template <class Record>
DWORD CheckList(const Record* records, DWORD* size, DWORD* count, std::size_t items) {
    if (size == nullptr || count == nullptr) return ERROR_INVALID_PARAMETER;
    if (records != nullptr && records->dwSize != sizeof(Record)) return ERROR_INVALID_SIZE;
    const DWORD needed = static_cast<DWORD>(items * sizeof(Record));
    *count = static_cast<DWORD>(items);
    const bool fits = records != nullptr && *size >= needed;
    *size = needed;
    return fits ? ERROR_SUCCESS : ERROR_BUFFER_TOO_SMALL;
}

template <class Record>
DWORD EnumConnections(Record* records, DWORD* size, DWORD* count) {
    const DWORD checked = CheckList(records, size, count, g_machine.connections.size());
    for (std::size_t i = 0; checked == ERROR_SUCCESS && i < g_machine.connections.size(); ++i) {
        records[i] = Record{};
        records[i].dwSize = sizeof(Record);
        records[i].hrasconn = reinterpret_cast<HRASCONN>(kFirstConnectionHandle + i);
        Put(records[i].szEntryName, g_machine.connections[i].entryName);
        Put(records[i].szDeviceType, g_machine.connections[i].deviceType);
    }
    return checked;
}

}  // namespace

extern "C" {

__declspec(dllexport) void SetFakeRas(const FakeRas* machine) {
    g_machine = machine ? *machine : FakeRas{};
    g_grown.assign(g_machine.phoneBook.size(), false);
}
__declspec(dllexport) LONG PhoneBookListings() { return g_phoneBookListings; }

__declspec(dllexport) DWORD WINAPI RasEnumEntriesA(LPCSTR, LPCSTR phonebook, LPRASENTRYNAMEA entries, LPDWORD size,
                                                   LPDWORD count) {
    ++g_phoneBookListings;
    if (phonebook != nullptr) return ERROR_CANNOT_OPEN_PHONEBOOK;  // the machine has the default one only
    const DWORD checked = CheckList(entries, size, count, g_machine.phoneBook.size());
    for (std::size_t i = 0; checked == ERROR_SUCCESS && i < g_machine.phoneBook.size(); ++i) {
        entries[i] = {};
        entries[i].dwSize = sizeof(RASENTRYNAMEA);
        Put(entries[i].szEntryName, g_machine.phoneBook[i].name);
        Put(entries[i].szPhonebookPath, kPhoneBookPath);
    }
    return checked;
}

__declspec(dllexport) DWORD WINAPI RasEnumConnectionsA(LPRASCONNA connections, LPDWORD size, LPDWORD count) {
    if (IsWindows2000()) return EnumConnections(reinterpret_cast<RasConnWindows2000*>(connections), size, count);
    return EnumConnections(connections, size, count);
}

__declspec(dllexport) DWORD WINAPI RasGetProjectionInfoA(HRASCONN handle, RASPROJECTION projection, LPVOID info,
                                                         LPDWORD size) {
    const ULONG_PTR index = reinterpret_cast<ULONG_PTR>(handle) - kFirstConnectionHandle;
    if (index >= g_machine.connections.size()) return ERROR_INVALID_HANDLE;
    if (projection != RASP_PppIp) return ERROR_PROTOCOL_NOT_CONFIGURED;
    auto* ip = static_cast<RASPPPIPA*>(info);
    if (size == nullptr || ip == nullptr || *size < sizeof(RASPPPIPA)) {
        if (size != nullptr) *size = sizeof(RASPPPIPA);
        return ERROR_BUFFER_TOO_SMALL;
    }
    if (ip->dwSize != sizeof(RASPPPIPA)) return ERROR_INVALID_SIZE;
    Put(ip->szIpAddress, g_machine.connections[index].ipAddress);
    return ERROR_SUCCESS;
}

// The library must hand back the path the listing gave and an entry's exact name.
__declspec(dllexport) DWORD WINAPI RasGetEntryPropertiesA(LPCSTR phonebook, LPCSTR name, LPRASENTRYA entry,
                                                          LPDWORD size, LPBYTE, LPDWORD) {
    if (phonebook == nullptr || std::strcmp(phonebook, kPhoneBookPath) != 0) return ERROR_CANNOT_OPEN_PHONEBOOK;
    const auto& book = g_machine.phoneBook;
    const auto made = std::find_if(book.begin(), book.end(), [name](const FakeRasEntry& e) { return e.name == name; });
    if (made == book.end()) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    const std::size_t index = static_cast<std::size_t>(made - book.begin());
    if (entry != nullptr && made->fault == RasEntryFault::GrowsBeforeRead) g_grown[index] = true;
    const DWORD needed = sizeof(RASENTRYA) + (g_grown[index] ? kGrowth : 0);
    if (size == nullptr || entry == nullptr || *size < needed) {
        if (size != nullptr) *size = needed;
        return ERROR_BUFFER_TOO_SMALL;
    }
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
#ifndef WITHOUT_RAS_HANG_UP
__declspec(dllexport) DWORD WINAPI RasHangUpA(HRASCONN) { return ERROR_INVALID_HANDLE; }
#endif

}  // extern "C"
