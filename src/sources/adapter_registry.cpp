#include "sources/adapter_registry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "system/handles.h"
#include "system/system_facts.h"

namespace {

constexpr char kNetworkCardsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
constexpr char kRootNetDevicesKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\NET";
constexpr char kDeviceClassesKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
constexpr char kNetworkConnectionsKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char kConnectionSubkey[] = "Connection";

constexpr std::size_t kSubkeyNameSize = 256;
constexpr std::size_t kScratchValueSize = 128;
constexpr std::size_t kClassKeyPathSize = 256;
constexpr std::size_t kConnectionKeyPathSize = 512;

// The part of the caller's table the walks fill.
struct AdapterTable {
    ADAPTER_REG_ENTRY* entries;
    std::size_t capacity;
    std::size_t count;

    bool IsFull() const { return count >= capacity; }
};

UniqueKey OpenKey(HKEY parent, const char* path) {
    HKEY key = nullptr;
    return UniqueKey(RegOpenKeyExA(parent, path, 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr);
}

// Reads a text value into `buffer` of `room` bytes. A stored text that fills the room exactly
// comes back without its terminator: the callers terminate it.
bool ReadValue(HKEY key, const char* name, char* buffer, std::size_t room) {
    DWORD size = static_cast<DWORD>(room);
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
}

template <std::size_t N>
bool ReadValue(HKEY key, const char* name, char (&buffer)[N]) {
    return ReadValue(key, name, buffer, N);
}

bool EnumSubkey(HKEY key, DWORD index, char (&name)[kSubkeyNameSize]) {
    DWORD length = kSubkeyNameSize;
    return RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Formats a key path; false when it would not fit, since a cut path could name another key.
template <std::size_t N, class... Parts>
bool FormatKeyPath(char (&path)[N], const char* format, Parts... parts) {
    const int written = std::snprintf(path, N, format, parts...);
    return written >= 0 && static_cast<std::size_t>(written) < N;
}

// Whether a walk goes on with the next subkey.
enum class WalkStep { kNext, kStop };

// Both walks take the subkeys of one key in the registry's order until the table is full; a
// subkey that does not open ends the walk, and what a subkey gives is `readOne`'s to say.
// Subkeys are opened through their parent's handle, so no path is composed that could be cut.
template <class ReadOne>
void WalkSubkeys(HKEY parent, AdapterTable& table, ReadOne readOne) {
    char subkey[kSubkeyNameSize];
    for (DWORD index = 0; !table.IsFull() && EnumSubkey(parent, index, subkey); ++index) {
        const UniqueKey key = OpenKey(parent, subkey);
        if (!key || readOne(key.get(), table) == WalkStep::kStop) return;
    }
}

ADAPTER_REG_ENTRY& NextEntry(AdapterTable& table) { return table.entries[table.count++]; }

// An entry is counted whether or not its description could be read, but without one the walk
// ends. Either way its texts are terminated within their fields.
WalkStep FinishEntry(ADAPTER_REG_ENTRY& entry, bool described) {
    entry.GuidText[sizeof entry.GuidText - 1] = '\0';
    entry.Description[sizeof entry.Description - 1] = '\0';
    return described ? WalkStep::kNext : WalkStep::kStop;
}

// A network card; a subkey without "ServiceName" is no adapter and is passed over.
WalkStep ReadNetworkCard(HKEY card, AdapterTable& table) {
    char scratch[kScratchValueSize];
    if (!ReadValue(card, "ServiceName", scratch)) return WalkStep::kNext;
    ADAPTER_REG_ENTRY& entry = NextEntry(table);
    ReadValue(card, "ServiceName", entry.GuidText);
    return FinishEntry(entry, ReadValue(card, "Description", entry.Description));
}

// The class key of a device's driver, which holds the adapter's GUID text.
UniqueKey OpenDriverClassKey(char (&driver)[kScratchValueSize]) {
    driver[kScratchValueSize - 1] = '\0';
    char path[kClassKeyPathSize];
    return FormatKeyPath(path, "%s\\%s", kDeviceClassesKey, driver) ? OpenKey(HKEY_LOCAL_MACHINE, path) : UniqueKey();
}

// A root-enumerated network device: a virtual adapter that has no network-card record. A device
// without "Driver" is passed over; one whose class key does not open ends the walk uncounted.
// Its description is its friendly name, or else its device description.
WalkStep ReadRootNetDevice(HKEY device, AdapterTable& table) {
    char driver[kScratchValueSize];
    if (!ReadValue(device, "Driver", driver)) return WalkStep::kNext;
    const UniqueKey driverClass = OpenDriverClassKey(driver);
    if (!driverClass) return WalkStep::kStop;
    ADAPTER_REG_ENTRY& entry = NextEntry(table);
    ReadValue(driverClass.get(), "NetCfgInstanceId", entry.GuidText);
    return FinishEntry(entry, ReadValue(device, "FriendlyName", entry.Description) ||
                                  ReadValue(device, "DeviceDesc", entry.Description));
}

// The connection folder's name of an adapter, from the registry (Windows 2000 and later).
int ReadConnectionName(const char* adapterName, char* name, std::size_t size) {
    char path[kConnectionKeyPathSize];
    if (!FormatKeyPath(path, "%s\\%s\\%s", kNetworkConnectionsKey, adapterName, kConnectionSubkey)) return -1;
    const UniqueKey connection = OpenKey(HKEY_LOCAL_MACHINE, path);
    // The caller's size is the room: a longer name fails to read rather than overrun, and one
    // that fills the room exactly is terminated in its last byte.
    if (!connection || !ReadValue(connection.get(), "Name", name, size)) return -1;
    name[size - 1] = '\0';
    return 0;
}

// Older systems have no connection names: the adapter is its own connection, if it fits.
int CopyAdapterName(const char* adapterName, char* name, std::size_t size) {
    const std::size_t needed = std::strlen(adapterName) + 1;
    if (needed > size) return -1;
    std::memcpy(name, adapterName, needed);
    return 0;
}

}  // namespace

int ReadAdapterTable(ADAPTER_REG_ENTRY* table, std::size_t size) {
    AdapterTable adapters{table, std::min(kAdapterTableEntries, size / sizeof(ADAPTER_REG_ENTRY)), 0};
    std::memset(table, 0, adapters.capacity * sizeof(ADAPTER_REG_ENTRY));
    {
        const UniqueKey cards = OpenKey(HKEY_LOCAL_MACHINE, kNetworkCardsKey);
        if (!cards) return -1;
        WalkSubkeys(cards.get(), adapters, ReadNetworkCard);
    }
    const UniqueKey devices = OpenKey(HKEY_LOCAL_MACHINE, kRootNetDevicesKey);
    if (devices) WalkSubkeys(devices.get(), adapters, ReadRootNetDevice);
    return static_cast<int>(adapters.count);
}

int LookupAdapterDescription(const char* adapterName, char* description, std::size_t size) {
    if (!adapterName || !description) return 0;
    ADAPTER_REG_ENTRY table[kAdapterTableEntries];
    const int count = ReadAdapterTable(table, sizeof table);
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(table[i].GuidText, adapterName) != 0) continue;
        // A registry description may run to 255 characters, longer than a port's description
        // field: it is cut to the room given, never inside a double-byte character, and always
        // terminated.
        CopyStringBounded(description, table[i].Description, size);
        return 1;
    }
    return 0;
}

int LookupConnectionName(const char* adapterName, char* name, std::size_t size) {
    if (!adapterName || !name || size == 0) return -1;
    return IsWindows2000OrLater() ? ReadConnectionName(adapterName, name, size)
                                  : CopyAdapterName(adapterName, name, size);
}
