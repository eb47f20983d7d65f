// The exports that run the plug-ins' install and uninstall hooks without a detector.
#include <linkset/linkset.h>

#include "boundary/host_exception.h"
#include "vpn/plugin_catalog.h"

void QsNetInstallVPNDetectorPlugIn(EPLUGINTYPE type) {
    HostCall([type] { InstallPlugIns(BuiltInPlugInClasses(), type, true); });
}

void QsNetUninstallVPNDetectorPlugIn(EPLUGINTYPE type) {
    HostCall([type] { InstallPlugIns(BuiltInPlugInClasses(), type, false); });
}
