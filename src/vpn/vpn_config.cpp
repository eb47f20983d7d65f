#include "vpn/vpn_config.h"

#include <algorithm>

#include "vpn/type_list.h"

IVPNConfig* CVPNConfig::CreateConfig() const { return new CVPNConfig; }

void CVPNConfig::CopyFrom(const IVPNConfig* other) {
    m_entries.clear();
    if (other == nullptr) return;
    // Only configurations of this class are ever handed in, so the entries are read directly;
    // duplicates are copied as they stand.
    for (const auto& entry : static_cast<const CVPNConfig*>(other)->m_entries)
        Append(entry->type, entry->enabled != 0);
}

int32_t CVPNConfig::EnablePlugIn(EPLUGINTYPE type, bool enabled) {
    if (type == PLUGIN_ALL) {
        m_entries.clear();
        for (EPLUGINTYPE each : kEveryPlugInType) Append(each, enabled);
        return kConfigDone;
    }
    bool found = false;
    for (auto& entry : m_entries) {
        if (entry->type != static_cast<uint32_t>(type)) continue;
        entry->enabled = enabled;
        found = true;
    }
    if (!found) Append(type, enabled);
    return kConfigDone;
}

int32_t CVPNConfig::GetEnabledPlugIns(uint32_t* types, uint32_t bufferBytes, uint32_t* count,
                                      uint32_t* needed) const {
    std::vector<uint32_t> enabled;
    for (const auto& entry : m_entries)
        if (entry->enabled == 1) enabled.push_back(entry->type);
    AnswerTypeList(enabled, types, bufferBytes, count, needed);
    return kConfigDone;
}

int32_t CVPNConfig::EnablePlugIns(const uint32_t* types, uint32_t bufferBytes, int32_t count,
                                  bool enabled) {
    // A negative count, read as unsigned, asks for more bytes than any buffer has.
    const uint32_t number = static_cast<uint32_t>(count);
    if (bufferBytes < kBytesPerType * number) return kConfigRefused;
    if (number == 0) return kConfigDone;
    const uint32_t* end = types + number;
    // PLUGIN_ALL would wipe the entries before the rest applied: refuse the array as a whole.
    if (std::find(types, end, static_cast<uint32_t>(PLUGIN_ALL)) != end) return kConfigRefused;
    for (const uint32_t* type = types; type != end; ++type)
        EnablePlugIn(static_cast<EPLUGINTYPE>(*type), enabled);
    return kConfigDone;
}

void CVPNConfig::Append(uint32_t type, bool enabled) {
    m_entries.push_back(std::make_unique<VPNConfigEntry>(VPNConfigEntry{type, enabled}));
}
