#include "vpn/trace_plugins.h"

#include <algorithm>
#include <atomic>
#include <iterator>

namespace {

constexpr uint32_t kNever = 0;
constexpr uint32_t kNotConnected = 0;

constexpr TracePlugInKind kTracePlugIns[] = {
    // kind             display name             Update works: one call in, first on, count kept
    {PLUGIN_CISCO3000, "Cisco 3000 VPN Client", {2, 1, CountScope::PerObject}},
    {PLUGIN_CHECKPOINT, "CHECKPOINT VPN Client", {1, 1, CountScope::PerObject}},
    {PLUGIN_AVENTAIL, "AVENTAIL VPN Client", {2, 1, CountScope::PerClass}},
    {PLUGIN_ALCATEL, "ALCATEL VPN Client", {kNever, kNever, CountScope::PerObject}},
    {PLUGIN_JUNIPERSSL, "Juniper VPN Client", {3, 3, CountScope::PerClass}},
};
constexpr std::size_t kKinds = std::size(kTracePlugIns);

constexpr std::array<uint32_t, kKinds> FirstWorkingCalls() {
    std::array<uint32_t, kKinds> calls{};
    for (std::size_t row = 0; row < kKinds; ++row) calls[row] = kTracePlugIns[row].pacing.firstWorkingCall;
    return calls;
}
// The counts of the classes that count across their objects, one per row, for the process.
constinit std::array<uint32_t, kKinds> g_classCallsLeft = FirstWorkingCalls();

std::size_t RowOf(EPLUGINTYPE type) {
    return static_cast<std::size_t>(
        std::find_if(std::begin(kTracePlugIns), std::end(kTracePlugIns),
                     [type](const TracePlugInKind& kind) { return kind.type == type; }) -
        std::begin(kTracePlugIns));
}

}  // namespace

CTracePlugIn::CTracePlugIn(EPLUGINTYPE type)
    : m_kind(kTracePlugIns[RowOf(type)]),
      m_ownCallsLeft(m_kind.pacing.firstWorkingCall),
      m_callsLeft(m_kind.pacing.scope == CountScope::PerClass ? &g_classCallsLeft[RowOf(type)] : &m_ownCallsLeft) {}

int32_t CTracePlugIn::GetName(outputstr* text) {
    if (text == nullptr) return kPlugInNoText;
    *text = outputstr(m_kind.displayName);
    return kPlugInTextDone;
}

int32_t CTracePlugIn::GetDescription(outputstr* text) { return GetName(text); }

uint32_t CTracePlugIn::GetType() { return m_kind.type; }

void CTracePlugIn::Update() {
    if (!UpdateDue()) return;
    if (const std::optional<bool> connected = ReadTraces()) m_connected = *connected;
}

uint32_t CTracePlugIn::IsConnected() { return m_connected ? kTunnelUp : kNotConnected; }

bool CTracePlugIn::UpdateDue() {
    const uint32_t period = m_kind.pacing.period;
    if (period == kNever) return false;
    // A class's count is shared by the detectors of every manager in the process, whose
    // maintenance threads may meet on it. Nothing is lost but, now and then, a step of the
    // count, which moves that class's work by one call.
    std::atomic_ref<uint32_t> callsLeft(*m_callsLeft);
    const uint32_t left = callsLeft.load(std::memory_order_relaxed);
    const bool due = left <= 1;
    callsLeft.store(due ? period : left - 1, std::memory_order_relaxed);
    return due;
}
