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

ADAPTER_REG_ENTRY& NextEntry(AdapterTable& table) { return table.entries[table.count++]; }

void TerminateEntry(ADAPTER_REG_ENTRY& entry) {
    entry.GuidText[sizeof entry.GuidText - 1] = '\0';
    entry.Description[sizeof entry.Description - 1] = '\0';
}

// The network cards, in the registry's order. A subkey without "ServiceName" is no adapter and
// is passed over. A subkey that does not open ends the walk, and so does a card whose
// "Description" cannot be read: that card still counts, with whatever description it got.
void ReadNetworkCards(HKEY cards, AdapterTable& table) {
    char subkey[kSubkeyNameSize];
    for (DWORD index = 0; !table.IsFull() && EnumSubkey(cards, index, subkey); ++index) {
        const UniqueKey card = OpenKey(cards, subkey);
        if (!card) return;
        char scratch[kScratchValueSize];
        if (!ReadValue(card.get(), "ServiceName", scratch)) continue;

        ADAPTER_REG_ENTRY& entry = NextEntry(table);
        ReadValue(card.get(), "ServiceName", entry.GuidText);
        const bool described = ReadValue(card.get(), "Description", entry.Description);
        TerminateEntry(entry);
        if (!described) return;
    }
}

// The class key of a device's driver, which holds the adapter's GUID text.
UniqueKey OpenDriverClassKey(char (&driver)[kScratchValueSize]) {
    driver[kScratchValueSize - 1] = '\0';
    char path[kClassKeyPathSize];
    return FormatKeyPath(path, "%s\\%s", kDeviceClassesKey, driver) ? OpenKey(HKEY_LOCAL_MACHINE, path) : UniqueKey();
}

// The root-enumerated network devices: virtual adapters that have no network-card record. A
// device without "Driver" is passed over; a device key or class key that does not open ends the
// walk, and so does a device with neither a friendly name nor a device description (it still
// counts).
void ReadRootNetDevices(HKEY devices, AdapterTable& table) {
    char subkey[kSubkeyNameSize];
    for (DWORD index = 0; !table.IsFull() && EnumSubkey(devices, index, subkey); ++index) {
        const UniqueKey device = OpenKey(devices, subkey);
        if (!device) return;
        char driver[kScratchValueSize];
        if (!ReadValue(device.get(), "Driver", driver)) continue;
        const UniqueKey driverClass = OpenDriverClassKey(driver);
        if (!driverClass) return;

        ADAPTER_REG_ENTRY& entry = NextEntry(table);
        ReadValue(driverClass.get(), "NetCfgInstanceId", entry.GuidText);
        const bool described = ReadValue(device.get(), "FriendlyName", entry.Description) ||
                               ReadValue(device.get(), "DeviceDesc", entry.Description);
        TerminateEntry(entry);
        if (!described) return;
    }
}

// The connection folder's name of an adapter, from the registry (Windows 2000 and later).
int ReadConnectionName(const char* adapterName, char* name, std::size_t size) {
    char path[kConnectionKeyPathSize];
    if (!FormatKeyPath(path, "%s\\%s\\%s", kNetworkConnectionsKey, adapterName, kConnectionSubkey)) return -1;
    const UniqueKey connection = OpenKey(HKEY_LOCAL_MACHINE, path);
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
        ReadNetworkCards(cards.get(), adapters);
    }
    const UniqueKey devices = OpenKey(HKEY_LOCAL_MACHINE, kRootNetDevicesKey);
    if (devices) ReadRootNetDevices(devices.get(), adapters);
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
