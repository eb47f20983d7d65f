// Remote Access passes of the discovery: which PPP links run over a VPN device, and the
// phone-book entries that are not connected. Both exist for the two layouts of the connection
// record, Windows 2000's and every other system's, which the caller chooses.
#pragma once

#include <cstdint>

#include "boundary/locks.h"
#include "manager/adapter_discovery.h"
#include "manager/port_list.h"
#include "sources/miniras.h"

// Marks the PPP ports of an adapter pass whose Remote Access connection runs over a device that
// is neither a modem nor PPPoE. Works on the pass's own list, which no other thread sees.
void MarkVpnConnections(PortList& ports, RasConnLayout layout);

// Replaces the unconnected phone-book entries of the manager's list, taking `portLock` for each
// change. Called with no lock held.
void RefreshDialUpEntries(PortList& ports, CCoreRtLock& portLock, RasConnLayout layout);

// 1 when the phone-book entry's device is neither a modem nor PPPoE; 0 otherwise and when the
// device type cannot be read.
uint32_t GetRAsDeviceType(const RasEntryNameRecord* entry);

// True when `deviceType` is given and is neither "modem" nor "pppoe", in any case.
bool IsVpnDeviceType(const char* deviceType);

// Sets IsVpnDevice of the first PPP port holding `address` (network order); false when none does.
bool SetVpnFlagByAddress(PortList& ports, uint32_t address, uint32_t flag);
