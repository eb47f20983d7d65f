// The Alcatel client keeps its kind, name and answers, but we know of no trace it leaves, so
// its Update never works and it always answers not connected.
#include "vpn/trace_plugins.h"

CAlcatelVPNPlugIn::CAlcatelVPNPlugIn() : CTracePlugIn(PLUGIN_ALCATEL) {}

std::optional<bool> CAlcatelVPNPlugIn::ReadTraces() { return std::nullopt; }
