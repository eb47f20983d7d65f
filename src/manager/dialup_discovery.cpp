#include "manager/dialup_discovery.h"

#include <winsock2.h>

#include <algorithm>
#include <cstring>

#include "boundary/debug_output.h"
#include "sources/logon_user_impersonator.h"
#include "system/handles.h"
#include "system/system_facts.h"

namespace {

constexpr DWORD kFirstEntryCount = 8;  // phone books rarely hold more; a larger one is asked again
constexpr DWORD kFirstConnectionCount = 1;
constexpr int kRasErrorNotEnoughMemory = ERROR_NOT_ENOUGH_MEMORY;
constexpr const char* kPlainDialUpDevices[] = {"modem", "pppoe"};

// A zeroed array of Remote Access records, each stamped with its dwSize as Windows wants them
// handed in, and its byte size as the in/out size of the call. Empty when there is no memory or
// the byte size would not fit the call's size.
template <class Record>
class RasRecordArray {
public:
    explicit RasRecordArray(DWORD count) {
        const unsigned long long bytes = static_cast<unsigned long long>(count) * sizeof(Record);
        if (bytes > MAXDWORD) return;
        m_block = HeapAllocZeroed(static_cast<std::size_t>(bytes));
        if (!m_block) return;
        m_count = count;
        m_bytes = static_cast<DWORD>(bytes);
        for (DWORD i = 0; i < count; ++i) get()[i].dwSize = sizeof(Record);
    }
    explicit operator bool() const { return static_cast<bool>(m_block); }
    Record* get() const { return static_cast<Record*>(m_block.get()); }
    DWORD* bytes() { return &m_bytes; }
    // The records the system reports, never more than the array holds.
    DWORD Usable(DWORD reported) const { return std::min(reported, m_count); }

private:
    UniqueHeapBlock m_block;
    DWORD m_count = 0;
    DWORD m_bytes = 0;
};

// Impersonates the logged-on user for one pass on systems that have per-user phone books;
// false when that fails and the pass must not run. The caller's impersonator reverts.
bool EnterUserContext(LogonUserImpersonator& impersonator) {
    return !IsWindows2000OrLater() || impersonator.Impersonate() == 0;
}

// The active connections; the array is replaced by one of the size the system asks for once.
template <class RasConn>
int EnumConnectionsGrowing(RasRecordArray<RasConn>& connections, DWORD& count) {
    const int first = MiniRasEnumConnections(connections.get(), connections.bytes(), &count);
    if (first == 0 || (first != kRasErrorBufferTooSmall && first != kRasErrorNotEnoughMemory)) return first;
    connections = RasRecordArray<RasConn>(count);
    if (!connections) return first;
    return MiniRasEnumConnections(connections.get(), connections.bytes(), &count);
}

template <std::size_t N>
bool FieldEquals(const char (&left)[N], const char (&right)[N]) {
    return std::strncmp(left, right, N) == 0;
}

// Whether an entry of this exact name (case counts) is connected.
template <class RasConn>
bool IsConnected(const RasEntryNameRecord& entry, const RasConn* connections, DWORD count) {
    return std::any_of(connections, connections + count, [&entry](const RasConn& connection) {
        return FieldEquals(entry.szEntryName, connection.szEntryName);
    });
}

template <std::size_t To, std::size_t From>
void CopyField(char (&to)[To], const char (&from)[From]) {
    static_assert(To > From - 1, "the whole field fits");
    std::memset(to, 0, To);
    std::memcpy(to, from, strnlen(from, From - 1));
}

template <class RasConn>
void RefreshDialUpEntriesAs(PortList& ports, CCoreRtLock& portLock) {
    PORT_INFO record = {};
    record.PortType = PORT_TYPE_DIALUP;
    std::strcpy(record.AdapterName, kPhoneBookAdapterName);
    record.IsDialUp = 1;
    LogonUserImpersonator impersonator;
    if (!EnterUserContext(impersonator)) return;  // the previous entries stay

    RasRecordArray<RasEntryNameRecord> entries(kFirstEntryCount);
    RasRecordArray<RasConn> connections(kFirstConnectionCount);
    {
        CCoreRtAutoLock guard(&portLock);
        PurgePorts(ports, PurgeMode::PhoneBookEntries);
    }
    DWORD entryCount = 0;
    int result = MiniRasEnumEntries(nullptr, nullptr, entries.get(), entries.bytes(), &entryCount);
    if (result == kRasErrorBufferTooSmall || result == kRasErrorNotEnoughMemory) {
        entries = RasRecordArray<RasEntryNameRecord>(entryCount);
        if (!entries) return;
        result = MiniRasEnumEntries(nullptr, nullptr, entries.get(), entries.bytes(), &entryCount);
    }
    DWORD connectionCount = 0;
    if (result != 0 || EnumConnectionsGrowing(connections, connectionCount) != 0) return;

    connectionCount = connections.Usable(connectionCount);
    for (DWORD i = 0; i < entries.Usable(entryCount); ++i) {
        const RasEntryNameRecord& entry = entries.get()[i];
        if (IsConnected(entry, connections.get(), connectionCount)) continue;
        CopyField(record.ConnectionName, entry.szEntryName);
        record.IsVpnDevice = GetRAsDeviceType(&entry);
        CCoreRtAutoLock guard(&portLock);
        AddPort(ports, record);
    }
}

template <class RasConn>
void MarkVpnConnectionsAs(PortList& ports) {
    LogonUserImpersonator impersonator;
    if (!EnterUserContext(impersonator)) return;
    const MiniRasReference ras;  // held for the whole pass
    if (!ras) return;
    RasRecordArray<RasConn> connections(kFirstConnectionCount);
    DWORD count = 0;
    if (EnumConnectionsGrowing(connections, count) != 0) return;
    for (DWORD i = 0; i < connections.Usable(count); ++i) {
        const RasConn& connection = connections.get()[i];
        RasPppIpRecord projection = {};
        projection.dwSize = sizeof projection;
        DWORD size = sizeof projection;
        if (MiniRasGetProjectionInfo(connection.hrasconn, kRasProjectionPppIp, &projection, &size) != 0) continue;
        char address[kRasIpAddressRoom] = {};
        CopyField(address, projection.szIpAddress);
        const uint32_t ip = inet_addr(address);
        if (ip != 0) SetVpnFlagByAddress(ports, ip, IsVpnDeviceType(connection.szDeviceType) ? 1 : 0);
    }
}

}  // namespace

void MarkVpnConnections(PortList& ports, RasConnLayout layout) {
    if (layout == RasConnLayout::Windows2000)
        MarkVpnConnectionsAs<RasConnRecordWindows2000>(ports);
    else
        MarkVpnConnectionsAs<RasConnRecord>(ports);
}

void RefreshDialUpEntries(PortList& ports, CCoreRtLock& portLock, RasConnLayout layout) {
    if (layout == RasConnLayout::Windows2000)
        RefreshDialUpEntriesAs<RasConnRecordWindows2000>(ports, portLock);
    else
        RefreshDialUpEntriesAs<RasConnRecord>(ports, portLock);
}

uint32_t GetRAsDeviceType(const RasEntryNameRecord* entry) {
    if (entry == nullptr) return 0;
    char deviceType[kRasDeviceTypeRoom] = {};
    if (MiniRasGetEntryDeviceType(entry, deviceType) != 0) {
        WriteDebugLine("<LinkSetMgr>: GetRAsDeviceType: failed to ras device type");
        return 0;
    }
    return IsVpnDeviceType(deviceType) ? 1 : 0;
}

bool IsVpnDeviceType(const char* deviceType) {
    const auto isPlain = [deviceType](const char* plain) { return _stricmp(deviceType, plain) == 0; };
    return deviceType != nullptr && std::none_of(std::begin(kPlainDialUpDevices), std::end(kPlainDialUpDevices), isPlain);
}

bool SetVpnFlagByAddress(PortList& ports, uint32_t address, uint32_t flag) {
    for (const std::unique_ptr<PORT_INFO>& port : ports) {
        if (port->PortType == PORT_TYPE_DIALUP && port->IpAddress == address) {
            port->IsVpnDevice = flag;
            return true;
        }
    }
    return false;
}
