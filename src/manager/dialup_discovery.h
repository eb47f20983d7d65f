// Remote Access passes of the discovery: which PPP links run over a VPN device, and the
// phone-book entries that are not connected.
#pragma once

#include "boundary/locks.h"
#include "manager/adapter_discovery.h"
#include "manager/port_list.h"

// Marks the PPP ports of an adapter pass whose Remote Access connection runs over a device that
// is neither a modem nor PPPoE. Works on the pass's own list, which no other thread sees.
void MarkVpnConnections(PortList& ports, RasConnLayout layout);

// Replaces the unconnected phone-book entries of the manager's list, taking `portLock` for each
// change. Called with no lock held.
void RefreshDialUpEntries(PortList& ports, CCoreRtLock& portLock, RasConnLayout layout);
