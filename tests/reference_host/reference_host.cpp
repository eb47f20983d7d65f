// A host as a Windows developer writes one (MSVC ABI, the SDK header, LinkSet.lib, no STL): every
// export by decorated name, every slot by MSVC's layout. The exit code is how many checks failed.
#include "host.h"

namespace {

HostLog g_log;
PORT_INFO g_ports[65];  // static: too large for the stack; a spare record to see overruns
char g_hugeText[1 << 20];

// Slot 1 of a host's own table for its manager: one port, its gateway 192.168.2.1.
int ReplacedGetPorts(ILinkSetManager*, PORT_INFO* buffer, unsigned bytes, unsigned* copied, unsigned* total, int) {
    *total = 1;
    if ((*copied = bytes >= sizeof *buffer ? 1 : 0) == 0) return LS_OK;
    memset(buffer, 0, sizeof *buffer);
    buffer->IpAddress = buffer->Gateway = 0x0102A8C0;
    buffer->HasIpAddress = buffer->HasGateway = 1;
    return LS_OK;
}

void CheckSlots() {
    const Owned<ILinkSetManager, LsDeleteLinkSetManager> manager{LsCreateLinkSetManager()};
    Check(manager.p != nullptr && manager->GetChangeCount() == 0, "LsCreateLinkSetManager gives a manager, change count 0");
    if (manager.p == nullptr) return;
    for (unsigned waited = 0; waited < 15000 && manager->GetChangeCount() == 0; waited += 50) Sleep(50);
    Check(manager->GetChangeCount() != 0, "the first adapter pass moves the change count (slot 9)");

    unsigned copied = 99, total = 99;
    Check(manager->GetPorts(nullptr, 0, nullptr, &total, 0) == LS_ERROR_FAILED &&
              manager->GetPorts(nullptr, 0, &copied, &total, 0) == LS_OK && copied == 0,
          "GetPorts (slot 1) refuses a null count, and with no buffer counts the ports");
    const unsigned ports = total < 64 ? total : 64;
    memset(g_ports, 0x5A, sizeof g_ports);
    manager->GetPorts(g_ports, ports * sizeof(PORT_INFO), &copied, &total, PORT_FILTER_ALL);
    Check(copied == ports && g_ports[0].Reserved1214[0] == 0x5A && g_ports[ports].PortType == 0x5A5A5A5Au,
          "GetPorts writes records 6054 bytes apart and leaves the reserved bytes and the rest alone");
    const auto passing = [&](int filter) { unsigned n = 0; manager->GetPorts(nullptr, 0, &copied, &n, filter); return n; };
    const unsigned withAddress = passing(PORT_FILTER_HAS_ADDRESS);
    Check(passing(PORT_FILTER_HAS_GATEWAY) <= withAddress && withAddress <= total && passing(7) == total, "filters 1, 2 and 7");
    unsigned count = 99;
    Check(manager->GetGateways(nullptr, 0, &count) == LS_ERROR_BUFFER_TOO_SMALL && count != 99,
          "GetGateways (slot 2): a null array is too small and gives the count");
    void** const table = *reinterpret_cast<void***>(manager.p);
    void* replaced[10];
    for (int i = 0; i < 10; ++i) replaced[i] = i == 1 ? reinterpret_cast<void*>(&ReplacedGetPorts) : table[i];
    *reinterpret_cast<void***>(manager.p) = replaced;
    unsigned gateway = 0, gateways = 0;
    Check(manager->GetGateways(&gateway, sizeof gateway, &gateways) == LS_OK && gateways == 1 && gateway == 0x0102A8C0,
          "the address queries read the ports through slot 1, of a host's own table too");
    *reinterpret_cast<void***>(manager.p) = table;

    unsigned status = 0, needed = 0;
    g_log.count = 0;
    Check(manager->GetVPNDetectionResult(nullptr, 0, &count, &needed) == LS_ERROR_FAILED &&
              manager->CheckVPNStatus(PLUGIN_ALL, &status) == LS_ERROR_FAILED &&
              g_log.Saw("<LinkSetMgr>: LINKSET(ERROR): failed to get VPN detection result before opening it.\n") &&
              g_log.Saw("<LinkSetMgr>: LINKSET(ERROR): failed to check VPN status if it is not initialized.\n"),
          "VPN queries (slots 7, 8) refuse while detection is closed, each with its line to the host's log");
    Check(manager->OpenVPNDetector(1) == LS_OK && manager->IsVPNDetectorOpen() == 1 &&
              manager->GetVPNDetectionResult(nullptr, 0, &count, &needed) == LS_OK &&
              manager->OpenVPNDetector(0) == LS_OK && manager->IsVPNDetectorOpen() == 0,
          "VPN detection opens and closes (slots 5, 6)");
}

}  // namespace

extern "C" void HostEntry() {
    LsSetDebugOutput(&g_log);
    Check(LsGetVersion() == 0x01000410ul, "LsGetVersion answers 0x01000410");
    Check(LsIsGoodVersion(0x01000410) == 1 && LsIsGoodVersion(0) == 1, "LsIsGoodVersion accepts this and older hosts");
    Check(LsIsGoodVersion(0x01000411) == 0 && LsIsGoodVersion(0xFFFFFFFF) == 0, "LsIsGoodVersion refuses newer hosts");
    memset(g_hugeText, 'x', sizeof g_hugeText - 1);
    bool installs = true;
    const char* const texts[] = {nullptr, "", g_hugeText};
    for (const char* text : texts) {
        const Owned<ILinkSetManagerInstaller, LsDeleteLinkSetManagerInstaller> installer{LsCreateLinkSetManagerInstaller(text, text)};
        installs = installs && installer.p != nullptr && installer->PerformInstall() == 1;
    }
    Check(installs, "the installer, with null, empty and 1 MB texts: PerformInstall (slot 1) answers 1");
    LsDeleteLinkSetManagerInstaller(nullptr);
    LsSetEventOutput([](__QEL_EVENT_LOG, void*) {});
    LsSetEventOutput(nullptr);
    const EPLUGINTYPE kinds[] = {PLUGIN_ALL, EPLUGINTYPE(0), PLUGIN_JUNIPERSSL, EPLUGINTYPE(10)};  // no hook; no kinds
    for (EPLUGINTYPE kind : kinds) QsNetInstallVPNDetectorPlugIn(kind), QsNetUninstallVPNDetectorPlugIn(kind);
    Check(g_log.count == 0, "outputs and the plug-in install exports return without a line");
    CheckSlots();
    LsSetDebugOutput(nullptr);
    Finish();
}
