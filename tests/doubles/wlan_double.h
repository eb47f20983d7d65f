// How a test steers the wireless LAN double, and how it asks what is still handed out.
#pragma once

#include <windows.h>

constexpr char kWlanDoubleVariable[] = "LINKSET_WLAN_DOUBLE";
constexpr char kWlanFailOpen[] = "fail-open";
constexpr char kWlanFailEnum[] = "fail-enum";

// Client handles and interface lists handed out and not yet given back.
using DoubleOutstandingFunction = LONG (*)();
