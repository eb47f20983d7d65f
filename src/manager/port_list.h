// The manager's port list and the operations both discovery passes use on it.
#pragma once

#include <linkset/port_info.h>

#include <list>
#include <memory>

// Each element owns one heap record. Dial-up ports stand at the front, all others behind them
// in discovery order; records move between lists without being copied.
using PortList = std::list<std::unique_ptr<PORT_INFO>>;

enum class PurgeMode {
    All = 0,                    // every port
    KeepPhoneBookEntries = 1,   // everything but the unconnected phone-book entries
    PhoneBookEntries = 2,       // exactly the unconnected phone-book entries
};

// Adds a copy of `port`. A dial-up port that names an existing dial-up port (connection names,
// or adapter names when the existing one has none, compared without case) overwrites it
// instead. A port that cannot be allocated is dropped.
void AddPort(PortList& list, const PORT_INFO& port);

// Removes and frees the ports that `mode` selects; the caller holds the list's lock.
void PurgePorts(PortList& list, PurgeMode mode);

// The adapter name every port of a phone-book entry carries.
inline constexpr char kPhoneBookAdapterName[] = "NdisWanIp";

// A port of the phone book that is not connected: dial-up without an address, named as a
// phone-book entry. A PPP adapter whose link has no address yet carries its own adapter name, so
// the adapter pass replaces it like any other adapter port rather than keeping a copy per pass.
bool IsUnconnectedPhoneBookEntry(const PORT_INFO& port);
