// The manager as an MSVC-built host drives it: by slot, with its own buffers, catching the
// library's exception with `catch (CQndException*)`.
#include "host_support.h"
#include "windows_imports.h"

namespace {

const DWORD kFirstPassMs = 15000;
const int kMaxPorts = 64;
PORT_INFO g_ports[kMaxPorts + 1];  // static: too large for the stack; one spare record to see overruns

bool WaitForFirstPass(ILinkSetManager* manager) {
    for (DWORD waited = 0; waited < kFirstPassMs; waited += 50) {
        if (manager->GetChangeCount() != 0) return true;
        Sleep(50);
    }
    return false;
}

unsigned ParseDotted(const char* text) {
    unsigned parts[4] = {0, 0, 0, 0};
    int part = 0;
    for (; *text && part < 4; ++text) {
        if (*text == '.') ++part;
        else parts[part] = parts[part] * 10 + static_cast<unsigned>(*text - '0');
    }
    return part == 3 ? (parts[0] & 0xFF) | (parts[1] & 0xFF) << 8 | (parts[2] & 0xFF) << 16 | (parts[3] & 0xFF) << 24 : 0;
}

// Fault injection from the host's side: one import of LinkSet.dll answers what we choose.
void** ImportSlot(HMODULE module, const char* dll, const char* function) {
    char* base = static_cast<char*>(module);
    const int ntOffset = *reinterpret_cast<int*>(base + 0x3C);
    const unsigned importRva = *reinterpret_cast<unsigned*>(base + ntOffset + 24 + 120);
    for (unsigned* import = reinterpret_cast<unsigned*>(base + importRva); import[3] != 0; import += 5) {
        if (_stricmp(base + import[3], dll) != 0) continue;
        unsigned long long* names = reinterpret_cast<unsigned long long*>(base + import[0]);
        void** slots = reinterpret_cast<void**>(base + import[4]);
        for (int i = 0; names[i] != 0; ++i)
            if (!(names[i] >> 63) && strcmp(base + names[i] + 2, function) == 0) return &slots[i];
    }
    return nullptr;
}

void* SwapSlot(void** slot, void* value) {
    DWORD old = 0;
    VirtualProtect(slot, sizeof value, kPageReadWrite, &old);
    void* previous = *slot;
    *slot = value;
    VirtualProtect(slot, sizeof value, old, &old);
    return previous;
}

void* __stdcall FailingCreateEvent(void*, BOOL, BOOL, const char*) {
    SetLastError(5);
    return nullptr;
}

// Makes LinkSet.dll's CreateEventA fail while `create` runs, so the maintenance thread cannot
// start; answers whether the host's `catch` took the exception that leaves the factory.
template <class Create>
bool RaisedWithoutEvents(Create create) {
    void** slot = ImportSlot(GetModuleHandleA("LinkSet.dll"), "KERNEL32.dll", "CreateEventA");
    if (slot == nullptr) return false;
    void* real = SwapSlot(slot, reinterpret_cast<void*>(&FailingCreateEvent));
    const bool caught = create();
    SwapSlot(slot, real);
    return caught;
}

void CheckStartFailure() {
    static HostLog log;
    LsSetDebugOutput(&log);
    Check(RaisedWithoutEvents([] {
              try {
                  LsDeleteLinkSetManager(LsCreateLinkSetManager());
              } catch (CQndException* e) {
                  Check(strcmp(e->Reason.c_str(), "<LinkSetMgr>:: failed to start maintenance thread.") == 0 &&
                            e->ReasonCode == 0 && strcmp(e->TypeName.c_str(), "QndException") == 0 &&
                            strcmp(e->SourceFile.c_str(), ".\\LinkSetMgr") == 0 && e->SourceLine == 184,
                        "the caught CQndException* carries reason, code, type name and source");
                  e->Delete();  // slot 1
                  return true;
              }
              return false;
          }),
          "catch (CQndException*) takes the start failure of LsCreateLinkSetManager");
    Check(log.Saw("GenericThread:StartThread(ERROR) failed to create running event.\n"), "the cause reached the host's log first");
    LsSetDebugOutput(nullptr);
    Check(RaisedWithoutEvents([] {
              try {
                  LsDeleteLinkSetManager(LsCreateLinkSetManager());
              } catch (void* e) {
                  static_cast<CQndException*>(e)->Delete();
                  return true;
              }
              return false;
          }),
          "catch (void*) takes it too");
}

void CheckSlots(ILinkSetManager* manager, HostLog& log) {
    unsigned copied = 99, total = 99;
    Check(manager->GetPorts(nullptr, 0, nullptr, &total, 0) == LS_ERROR_FAILED, "GetPorts (slot 1) refuses a null count");
    Check(manager->GetPorts(nullptr, 0, &copied, &total, 0) == LS_OK && copied == 0, "GetPorts with no buffer counts the ports");
    const unsigned ports = total < kMaxPorts ? total : kMaxPorts;
    memset(g_ports, 0x5A, sizeof g_ports);
    manager->GetPorts(g_ports, ports * sizeof(PORT_INFO), &copied, &total, PORT_FILTER_ALL);
    Check(copied == ports && g_ports[0].Reserved1214[0] == 0x5A && g_ports[ports].PortType == 0x5A5A5A5Au,
          "GetPorts writes records 6054 bytes apart and leaves the reserved bytes and the rest alone");
    unsigned withAddress = 0, withGateway = 0, any = 0;
    manager->GetPorts(nullptr, 0, &copied, &withAddress, PORT_FILTER_HAS_ADDRESS);
    manager->GetPorts(nullptr, 0, &copied, &withGateway, PORT_FILTER_HAS_GATEWAY);
    manager->GetPorts(nullptr, 0, &copied, &any, 7);
    Check(withGateway <= withAddress && withAddress <= total && any == total, "filters 1, 2 and 7");

    typedef int (ILinkSetManager::*Query)(unsigned*, unsigned, unsigned*);
    const Query queries[] = {&ILinkSetManager::GetGateways, &ILinkSetManager::GetDnsServers, &ILinkSetManager::GetWinsServers};
    bool exact = true;
    for (Query query : queries) {
        static unsigned addresses[32 * 200];
        unsigned count = 99;
        exact = exact && (manager->*query)(nullptr, 0, &count) == LS_ERROR_BUFFER_TOO_SMALL;
        exact = exact && (manager->*query)(addresses, count * 4, &count) == LS_OK;
    }
    Check(exact, "address queries (slots 2 to 4): a null array gives the count, an exact one succeeds");

    unsigned status = 0, count = 0, needed = 0;
    log.Clear();
    Check(manager->GetVPNDetectionResult(nullptr, 0, &count, &needed) == LS_ERROR_FAILED &&
              manager->CheckVPNStatus(PLUGIN_ALL, &status) == LS_ERROR_FAILED,
          "VPN queries (slots 7, 8) refuse while detection is closed");
    Check(log.Saw("<LinkSetMgr>: LINKSET(ERROR): failed to get VPN detection result before opening it.\n") &&
              log.Saw("<LinkSetMgr>: LINKSET(ERROR): failed to check VPN status if it is not initialized.\n"),
          "each refusal writes its line to the host's log");
    Check(manager->OpenVPNDetector(1) == LS_OK && manager->IsVPNDetectorOpen() == 1 &&
              manager->GetVPNDetectionResult(nullptr, 0, &count, &needed) == LS_OK &&
              manager->OpenVPNDetector(0) == LS_OK && manager->IsVPNDetectorOpen() == 0,
          "VPN detection opens and closes (slots 5, 6)");
}

// The records agree with what the system's own IP Helper says of each adapter.
void CheckAgainstIpHelper(unsigned ports) {
    static char buffer[256 * 1024];
    unsigned long size = sizeof buffer;
    if (GetAdaptersInfo(buffer, &size) != kNoError) {
        Check(ports == 0, "no adapters according to IP Helper, and no adapter ports");
        return;
    }
    int compared = 0, agreed = 0;
    for (IP_ADAPTER_INFO* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer); adapter; adapter = adapter->Next) {
        const PORT_INFO* port = nullptr;
        for (unsigned i = 0; i < ports; ++i)
            if (strcmp(g_ports[i].AdapterName, adapter->AdapterName) == 0) port = &g_ports[i];
        ++compared;
        if (port == nullptr) continue;
        bool same = port->IpAddress == ParseDotted(adapter->IpAddressList.IpAddress) &&
                    port->IpMask == ParseDotted(adapter->IpAddressList.IpMask) &&
                    port->Gateway == ParseDotted(adapter->GatewayList.IpAddress) &&
                    memcmp(port->MacAddress, adapter->Address, adapter->AddressLength < 6 ? adapter->AddressLength : 6) == 0;
        static char perAdapter[16 * 1024];
        unsigned long perSize = sizeof perAdapter;
        if (GetPerAdapterInfo(adapter->Index, perAdapter, &perSize) == kNoError) {
            unsigned dns = 0;
            for (IP_ADDR_STRING* s = &reinterpret_cast<IP_PER_ADAPTER_INFO*>(perAdapter)->DnsServerList; s; s = s->Next)
                if (s->IpAddress[0] != '\0') same = same && dns < port->DnsServerCount && port->DnsServers[dns++].Address == ParseDotted(s->IpAddress);
            same = same && dns == port->DnsServerCount;
        }
        agreed += same ? 1 : 0;
    }
    printf("     %d adapters reported by IP Helper, %d agree with their ports\n", compared, agreed);
    Check(compared == agreed, "every port agrees with IP Helper: address, mask, gateway, MAC, DNS servers");
}

}  // namespace

void CheckManager() {
    CheckStartFailure();

    static HostLog log;
    LsSetDebugOutput(&log);
    ILinkSetManager* manager = LsCreateLinkSetManager();
    Check(manager != nullptr && manager->GetChangeCount() == 0, "LsCreateLinkSetManager gives a manager, change count 0");
    if (manager == nullptr) return;
    Check(WaitForFirstPass(manager), "the first adapter pass moves the change count (slot 9)");
    CheckSlots(manager, log);
    unsigned copied = 0, total = 0;
    manager->GetPorts(g_ports, sizeof g_ports, &copied, &total, PORT_FILTER_ALL);
    CheckAgainstIpHelper(copied);
    LsDeleteLinkSetManager(manager);
    LsDeleteLinkSetManager(nullptr);
    LsSetDebugOutput(nullptr);
    Check(true, "the manager and null deleted through LsDeleteLinkSetManager");
}
