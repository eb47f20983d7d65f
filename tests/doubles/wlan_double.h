// How a test steers the wireless LAN double, and how it asks what is still handed out.
#pragma once

#include <windows.h>

constexpr char kWlanDoubleVariable[] = "LINKSET_WLAN_DOUBLE", kWlanFailOpen[] = "fail-open", kWlanFailEnum[] = "fail-enum";

// Export: client handles and interface lists handed out and not yet given back.
using DoubleOutstandingFunction = LONG (*)();
