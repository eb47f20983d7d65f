// Tunnel recognition on made-up records, and the C++ layer turning what the DLL raises into exceptions.
#include <gmock/gmock.h>

#include <cstring>

#include "format.h"
#include "import_patch.h"

namespace {

constexpr uint32_t kMask24 = 0x00FFFFFF;  // 255.255.255.0 in network order

PORT_INFO Port(const char* name, uint32_t type, std::vector<PORT_ADDRESS> addresses, const char* adapter = nullptr,
               const char* description = "") {
    PORT_INFO port = {};
    port.PortType = type;
    port.IsDialUp = type == PORT_TYPE_DIALUP;
    std::strcpy(port.ConnectionName, name);
    std::strcpy(port.AdapterName, adapter ? adapter : name);
    std::strcpy(port.Description, description);
    port.IpAddressCount = static_cast<uint32_t>(addresses.size());
    std::copy(addresses.begin(), addresses.end(), port.IpAddresses);
    port.HasIpAddress = (port.IpAddress = addresses.empty() ? 0 : addresses[0].Address) != 0;
    return port;
}

// Descriptions and names as Windows shows them, one for each of the README's patterns, and near misses.
TEST(TunnelRecognition, NamesTheClientFamilyFromWhatTheRecordCarries) {
    const auto adapter = [](const char* description, const char* name = "Ethernet 2") {
        return Port(name, PORT_TYPE_ETHERNET, {{0x0200000A, kMask24}}, "{GUID}", description);
    };
    const auto dialled = [](bool vpnDevice, bool connected) {
        PORT_INFO port = Port("Office", PORT_TYPE_DIALUP, connected ? std::vector<PORT_ADDRESS>{{0x0300000A, 0}} : std::vector<PORT_ADDRESS>{}, "NdisWanIp");
        port.IsVpnDevice = vpnDevice;
        return port;
    };
    const struct { const char* name; PORT_INFO port; const char* family; /* "": no tunnel */ } kCases[] = {
        {"WireGuardNT", adapter("WireGuard Tunnel #2"), "WireGuard"},
        {"OpenVPN's TAP-Windows6", adapter("TAP-Windows Adapter V9"), "OpenVPN"},
        {"OpenVPN 2.2's TAP-Win32", adapter("TAP-Win32 Adapter V9"), "OpenVPN"},
        {"OpenVPN's data channel offload", adapter("OpenVPN Data Channel Offload"), "OpenVPN"},
        {"AnyConnect", adapter("Cisco AnyConnect Secure Mobility Client Virtual Miniport Adapter for Windows x64"), "Cisco Secure Client"},
        {"GlobalProtect", adapter("PANGP Virtual Ethernet Adapter Secure"), "GlobalProtect"},
        {"FortiClient SSL VPN", adapter("Fortinet SSL VPN Virtual Ethernet Adapter"), "FortiClient"},
        {"Pulse Secure", adapter("Juniper Networks Virtual Adapter"), "Pulse Secure / Ivanti"},
        {"Check Point SSL Network Extender", adapter("Check Point Virtual Network Adapter For SSL Network Extender"), "Check Point Endpoint"},
        {"SonicWall Global VPN Client", adapter("SonicWALL Virtual NIC"), "SonicWall"},
        {"Zscaler", adapter("Zscaler Network Adapter 1.0.2.0"), "Zscaler"},
        {"Tailscale", adapter("Tailscale Tunnel", "Tailscale"), "Tailscale"},
        {"ZeroTier", adapter("ZeroTier Virtual Port", "ZeroTier One [60ee7c034a983def]"), "ZeroTier"},
        {"ZeroTier by its name alone", adapter("", "ZeroTier One [60ee7c034a983def]"), "ZeroTier"},
        {"a VPN connection Windows dialled", dialled(true, true), "Windows VPN connection"},
        {"a physical Cisco adapter", adapter("Cisco Systems VIC Ethernet Interface"), ""},
        {"a LAN someone named WireGuard", adapter("Realtek PCIe GbE Family Controller", "WireGuard"), ""},
        {"Teredo tunnelling is no VPN", adapter("Microsoft Teredo Tunneling Adapter"), ""},
        {"a VPN entry nobody dialled", dialled(true, false), ""},
        {"a PPPoE link", dialled(false, true), ""},
        {"Wintun of no known client", adapter("Wintun Userspace Tunnel"), "unknown client"},
        {"a made-up client's SSL-VPN adapter", adapter("Contoso SSL-VPN Adapter"), "unknown client"},
    };
    for (const auto& c : kCases) EXPECT_STREQ(linkset::classify_tunnel(c.port).family_name(), c.family) << c.name;
}

TEST(LayerInAMinGWHost, TakesWhatTheLibraryRaisesAsOrdinaryExceptions) {
    const HMODULE dll = GetModuleHandleA("LinkSet.dll");
    {
        const ImportPatch noEvents(dll, "KERNEL32.dll", "CreateEventA", reinterpret_cast<void*>(+[](void*, BOOL, BOOL, LPCSTR) -> HANDLE { return nullptr; }));
        EXPECT_THAT([] { linkset::manager manager; },
                    testing::ThrowsMessage<linkset::start_error>("<LinkSetMgr>:: failed to start maintenance thread."));
    }
    {
        // The first text cannot grow.
        const ImportPatch noMemory(dll, "msvcrt.dll", "realloc", reinterpret_cast<void*>(+[](void*, size_t) -> void* { return nullptr; }));
        EXPECT_THROW(linkset::manager manager, std::bad_alloc);
    }
    linkset::manager manager;  // and the next one starts
    EXPECT_TRUE(manager.wait_for_change(std::chrono::seconds(15)));
}

}  // namespace
