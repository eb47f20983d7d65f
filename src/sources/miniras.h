// Run-time binding to Remote Access (rasapi32.dll). The library never links to it: the first
// user loads it, and a process-wide reference count keeps it loaded. The count starts at 1, a
// standing reference that balanced load/unload pairs never drop, so passes do not load and free
// the library each time; the manager's shutdown drops it with the one unbalanced unload.
//
// On NT releases before Windows 2000, Remote Access works only while its connection manager
// service runs, so a load there first makes sure it does (and asks for it to start).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Remote Access records as the 64-bit system lays them out (the ANSI forms). Windows recognises
// a record's layout by its dwSize, which callers set to exactly sizeof the record.
inline constexpr std::size_t kRasEntryNameRoom = 256 + 1;   // RAS_MaxEntryName + 1
inline constexpr std::size_t kRasDeviceTypeRoom = 16 + 1;   // RAS_MaxDeviceType + 1
inline constexpr std::size_t kRasDeviceNameRoom = 128 + 1;  // RAS_MaxDeviceName + 1
inline constexpr std::size_t kRasIpAddressRoom = 15 + 1;    // RAS_MaxIpAddress + 1

// RASENTRYNAMEA: one phone-book entry as RasEnumEntriesA lists it.
struct RasEntryNameRecord {
    DWORD dwSize;
    char szEntryName[kRasEntryNameRoom];
    DWORD dwFlags;
    char szPhonebookPath[MAX_PATH + 1];
};
static_assert(sizeof(RasEntryNameRecord) == 532);
static_assert(offsetof(RasEntryNameRecord, szEntryName) == 4);
static_assert(offsetof(RasEntryNameRecord, szPhonebookPath) == 268);

// RASENTRYA, of which only the device type is read; the system may answer a larger block.
struct RasEntryRecord {
    DWORD dwSize;
    unsigned char fieldsBeforeDeviceType[968];
    char szDeviceType[kRasDeviceTypeRoom];
    unsigned char fieldsAfterDeviceType[1895];
};
static_assert(sizeof(RasEntryRecord) == 2884);
static_assert(offsetof(RasEntryRecord, szDeviceType) == 972);

// RASPPPIPA: the IP projection of a connection.
struct RasPppIpRecord {
    DWORD dwSize;
    DWORD dwError;
    char szIpAddress[kRasIpAddressRoom];
    char szServerIpAddress[kRasIpAddressRoom];
    DWORD dwOptions;
    DWORD dwServerOptions;
};
static_assert(sizeof(RasPppIpRecord) == 48);
static_assert(offsetof(RasPppIpRecord, szIpAddress) == 8);

// RASCONNA as Windows 2000 lays it out: natural alignment, no flags or logon identifier.
struct RasConnRecordWindows2000 {
    DWORD dwSize;
    HANDLE hrasconn;
    char szEntryName[kRasEntryNameRoom];
    char szDeviceType[kRasDeviceTypeRoom];
    char szDeviceName[kRasDeviceNameRoom];
    char szPhonebook[MAX_PATH];
    DWORD dwSubEntry;
    GUID guidEntry;
};
static_assert(sizeof(RasConnRecordWindows2000) == 704);
static_assert(offsetof(RasConnRecordWindows2000, hrasconn) == 8);
static_assert(offsetof(RasConnRecordWindows2000, szEntryName) == 16);
static_assert(offsetof(RasConnRecordWindows2000, szDeviceType) == 273);

// RASCONNA as every other system lays it out: packed to 4 bytes, with flags and logon identifier.
#pragma pack(push, 4)
struct RasConnRecord {
    DWORD dwSize;
    HANDLE hrasconn;
    char szEntryName[kRasEntryNameRoom];
    char szDeviceType[kRasDeviceTypeRoom];
    char szDeviceName[kRasDeviceNameRoom];
    char szPhonebook[MAX_PATH];
    DWORD dwSubEntry;
    GUID guidEntry;
    DWORD dwFlags;
    LUID luid;
};
#pragma pack(pop)
static_assert(sizeof(RasConnRecord) == 708);
static_assert(offsetof(RasConnRecord, hrasconn) == 4);
static_assert(offsetof(RasConnRecord, szEntryName) == 12);
static_assert(offsetof(RasConnRecord, szDeviceType) == 269);

inline constexpr int kRasErrorBufferTooSmall = 603;  // ERROR_BUFFER_TOO_SMALL of Remote Access
inline constexpr DWORD kRasProjectionPppIp = 0x8021;  // RASP_PppIp

// 0 when the entry points are usable and a reference was taken; -1 otherwise (none taken).
int MiniRasLoad();
// Drops one reference, freeing the library when none is left; always 0.
int MiniRasUnload();
// 0 when Remote Access may be used: not an NT system, or its "RasMan" service runs. -1 otherwise.
int MiniRasEnsureService();
// Asks the service manager to start "RasMan" if it is stopped. 0 when the service could be
// opened (or the system is not NT), -1 otherwise.
int MiniRasStartService();

// The four calls the discovery makes. Each takes a reference of its own for the call, so it
// works whether or not its caller holds one; without the library each answers as if the system
// had nothing: 0 with a count of 0 (the device type alone answers -1).
//
// Always the default phone book: the first two arguments are not passed on.
int MiniRasEnumEntries(const char* reserved, const char* phonebook, RasEntryNameRecord* entries, DWORD* size,
                       DWORD* count);
// `connections` is an array of RasConnRecord or RasConnRecordWindows2000, as the system expects.
int MiniRasEnumConnections(void* connections, DWORD* size, DWORD* count);
// Copies the entry's device type into `deviceType` (kRasDeviceTypeRoom bytes). 0, -1 on failure,
// or 603 when the system asks for more room but names no size.
int MiniRasGetEntryDeviceType(const RasEntryNameRecord* entry, char* deviceType);
// The connection's IP projection; the projection code is always RASP_PppIp.
int MiniRasGetProjectionInfo(HANDLE connection, DWORD ignored, RasPppIpRecord* projection, DWORD* size);

// One reference for a scope: taken when the library can be loaded, dropped on every exit.
class MiniRasReference {
public:
    MiniRasReference() : m_held(MiniRasLoad() == 0) {}
    ~MiniRasReference() {
        if (m_held) MiniRasUnload();
    }
    MiniRasReference(const MiniRasReference&) = delete;
    MiniRasReference& operator=(const MiniRasReference&) = delete;
    explicit operator bool() const { return m_held; }

private:
    bool m_held;
};
