#include "vpn/plugin_catalog.h"

#include <algorithm>

#include "vpn/trace_plugins.h"
#include "vpn/vpn_config.h"

namespace {

// A kind's line gets its factory, MakePlugIn<class>, when the class is written; until then the
// kind is skipped like a kind the library does not know.
constexpr PlugInClass kBuiltInPlugIns[] = {
    {PLUGIN_CISCO3000, &MakePlugIn<CCisco3000VPNPlugIn>},
    {PLUGIN_NETSCREEN, nullptr},   // CNetScreenVPNPlugIn
    {PLUGIN_CHECKPOINT, &MakePlugIn<CCheckpointVPNPlugIn>},
    {PLUGIN_SAFENET, nullptr},     // CSafeNetVPNPlugIn
    {PLUGIN_RAS, nullptr},         // CRasVpnPlugIn, given the manager
    {PLUGIN_AVENTAIL, &MakePlugIn<CAventailVPNPlugIn>},
    {PLUGIN_ALCATEL, &MakePlugIn<CAlcatelVPNPlugIn>},
    {PLUGIN_JUNIPERSSL, &MakePlugIn<CJuniperSslVPNPlugIn>},  // given the manager
};

// The Juniper SSL kind has no install hook, so the install exports stop before it.
constexpr uint32_t kFirstInstallableType = PLUGIN_CISCO3000;
constexpr uint32_t kLastInstallableType = PLUGIN_ALCATEL;

bool HasInstallHook(uint32_t type) {
    return type >= kFirstInstallableType && type <= kLastInstallableType;
}

}  // namespace

PlugInCatalog BuiltInPlugInClasses() { return kBuiltInPlugIns; }

std::unique_ptr<IVPNPlugIn> CreatePlugIn(PlugInCatalog catalog, uint32_t type,
                                         ILinkSetManager* manager) {
    const auto line = std::find_if(catalog.begin(), catalog.end(),
                                   [type](const PlugInClass& each) { return each.type == type; });
    if (line == catalog.end() || line->create == nullptr) return nullptr;
    return line->create(manager);
}

void InstallPlugIn(PlugInCatalog catalog, uint32_t type, bool install) {
    if (!HasInstallHook(type)) return;
    const std::unique_ptr<IVPNPlugIn> plugIn = CreatePlugIn(catalog, type, nullptr);
    if (!plugIn) return;
    // The hooks' answers mean nothing to anyone; what an install does is what the plug-in's
    // construction and destruction do.
    if (install)
        plugIn->Install();
    else
        plugIn->Uninstall();
}

void InstallPlugIns(PlugInCatalog catalog, EPLUGINTYPE type, bool install) {
    if (type != PLUGIN_ALL) {
        InstallPlugIn(catalog, type, install);
        return;
    }
    // One kind after another: each plug-in is deleted before the next is built.
    for (EPLUGINTYPE each : kEveryPlugInType) InstallPlugIn(catalog, each, install);
}
