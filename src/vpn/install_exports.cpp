// The exports that run the plug-ins' install and uninstall hooks without a detector.
#include <linkset/linkset.h>

#include "vpn/plugin_catalog.h"

void QsNetInstallVPNDetectorPlugIn(EPLUGINTYPE type) {
    InstallPlugIns(BuiltInPlugInClasses(), type, true);
}

void QsNetUninstallVPNDetectorPlugIn(EPLUGINTYPE type) {
    InstallPlugIns(BuiltInPlugInClasses(), type, false);
}
