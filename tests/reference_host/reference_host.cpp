// A host as a Windows developer writes one: MSVC ABI, the SDK header, LinkSet.lib, no STL.
// Each check prints one line; the exit code is the number of failed checks.
#include "host_support.h"

namespace {

void HostEvent(__QEL_EVENT_LOG, void*) {}

void CheckVersion() {
    Check(LsGetVersion() == 0x01000410ul, "LsGetVersion answers 0x01000410");
    Check(LsIsGoodVersion(0x01000410) == 1 && LsIsGoodVersion(0) == 1, "LsIsGoodVersion accepts this and older hosts");
    Check(LsIsGoodVersion(0x01000411) == 0 && LsIsGoodVersion(0xFFFFFFFF) == 0, "LsIsGoodVersion refuses newer hosts");
}

void CheckInstaller() {
    ILinkSetManagerInstaller* installer = LsCreateLinkSetManagerInstaller(nullptr, nullptr);
    Check(installer != nullptr, "LsCreateLinkSetManagerInstaller gives an installer");
    if (installer == nullptr) return;
    Check(installer->PerformInstall() == 1, "PerformInstall (slot 1) answers 1");
    LsDeleteLinkSetManagerInstaller(installer);
    LsDeleteLinkSetManagerInstaller(nullptr);
    Check(true, "installer and null deleted through slot 0");
}

void CheckOutputs() {
    static HostLog log;
    LsSetDebugOutput(&log);
    LsSetEventOutput(&HostEvent);
    LsSetDebugOutput(nullptr);
    LsSetEventOutput(nullptr);
    Check(log.count == 0, "debug and event outputs set and cleared");
}

// The install exports build and delete plug-ins whose hooks do nothing: every kind, a kind
// without a hook and two values that are no kind must all return quietly.
void CheckPlugInInstallExports() {
    static HostLog log;
    LsSetDebugOutput(&log);
    const EPLUGINTYPE kinds[] = {PLUGIN_ALL, static_cast<EPLUGINTYPE>(0), PLUGIN_JUNIPERSSL,
                                 static_cast<EPLUGINTYPE>(10)};
    for (EPLUGINTYPE kind : kinds) {
        QsNetInstallVPNDetectorPlugIn(kind);
        QsNetUninstallVPNDetectorPlugIn(kind);
    }
    LsSetDebugOutput(nullptr);
    Check(log.count == 0, "plug-in install and uninstall exports (all kinds, 0, 8, 10) return without effect");
}

}  // namespace

extern "C" void HostEntry() {
    CheckVersion();
    CheckInstaller();
    CheckOutputs();
    CheckPlugInInstallExports();
    CheckManager();
    exit(FailedChecks());
}
