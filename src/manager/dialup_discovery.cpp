#include "manager/dialup_discovery.h"

// Remote Access is not consulted yet: PPP ports keep IsVpnDevice 0 and the list holds no
// phone-book entries. The two calls stay where the cycle needs them.

void MarkVpnConnections(PortList&, RasConnLayout) {}

void RefreshDialUpEntries(PortList&, CCoreRtLock&, RasConnLayout) {}
