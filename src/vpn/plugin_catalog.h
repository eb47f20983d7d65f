// Which class stands behind each plug-in kind. The detector and the install exports create
// plug-ins only through a catalog, so the built-in one below is the single place where a
// plug-in class is tied to its kind.
#pragma once

#include <linkset/manager.h>

#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>

#include "vpn/vpn_plugin.h"

// Builds one plug-in; the manager (which may be null) goes to the classes that read its ports.
using PlugInFactory = std::unique_ptr<IVPNPlugIn> (*)(ILinkSetManager* manager);

struct PlugInClass {
    uint32_t type;
    PlugInFactory create;  // null while the kind has no class: it then creates nothing
};

using PlugInCatalog = std::span<const PlugInClass>;

// The factory of a catalog line: plug-ins that read the port list take the manager,
// the others are built without arguments.
template <class PlugIn>
std::unique_ptr<IVPNPlugIn> MakePlugIn(ILinkSetManager* manager) {
    if constexpr (std::is_constructible_v<PlugIn, ILinkSetManager*>)
        return std::make_unique<PlugIn>(manager);
    else
        return std::make_unique<PlugIn>();
}

// The classes the library ships, one line per kind.
PlugInCatalog BuiltInPlugInClasses();

// A new plug-in of `type`, or null when the catalog has no class for it.
std::unique_ptr<IVPNPlugIn> CreatePlugIn(PlugInCatalog catalog, uint32_t type,
                                         ILinkSetManager* manager);

// Builds a plug-in of `type` with no manager, runs its Install or Uninstall hook and deletes it
// again. Only the kinds from PLUGIN_CISCO3000 to PLUGIN_ALCATEL have install hooks.
void InstallPlugIn(PlugInCatalog catalog, uint32_t type, bool install);
// InstallPlugIn for one kind, or for each kind in turn when type is PLUGIN_ALL.
void InstallPlugIns(PlugInCatalog catalog, EPLUGINTYPE type, bool install);
