// An IP Helper answering from a made-up machine (fake_ip_helper.h) in IP Helper's own layout.
#include "fake_ip_helper.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "double_support.h"

namespace {

// For a program that cannot call SetFakeIpHelper (kFakeIpHelperFileVariable).
FakeIpHelper MachineOfFile() {
    FakeIpHelper machine;
    std::ifstream file(EnvironmentText(kFakeIpHelperFileVariable));
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        std::string field[6];
        for (std::string& text : field) std::getline(fields, text, '\t');
        machine.adapters.push_back({.name = field[0], .description = field[3],
                                    .type = static_cast<UINT>(std::strtoul(field[1].c_str(), nullptr, 10)),
                                    .index = std::strtoul(field[2].c_str(), nullptr, 10),
                                    .addresses = {{field[4], field[5]}}});
    }
    return machine;
}

FakeIpHelper g_machine = MachineOfFile();
std::atomic<LONG> g_lastIfTableOrder{-1}, g_adapterListCalls{0};

template <class Item>  // the entries of a list that go into the spare room
std::size_t Spare(const std::vector<Item>& list) { return list.size() > 1 ? list.size() - 1 : 0; }

void Fill(IP_ADDR_STRING& entry, const std::string& address) { Put(entry.IpAddress.String, address); }
void Fill(IP_ADDR_STRING& entry, const std::pair<std::string, std::string>& addressAndMask) {
    Fill(entry, addressAndMask.first);
    Put(entry.IpMask.String, addressAndMask.second);
}

// The first entry of a list inside the structure, further ones in the spare room behind all.
template <class Item>
void Chain(IP_ADDR_STRING& first, const std::vector<Item>& items, IP_ADDR_STRING*& spare) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        IP_ADDR_STRING* entry = i == 0 ? &first : spare++;
        Fill(*entry, items[i]);
        if (i > 0) (i == 1 ? &first : entry - 1)->Next = entry;  // spare entries follow each other
    }
}

}  // namespace

extern "C" {

__declspec(dllexport) void SetFakeIpHelper(const FakeIpHelper* machine) {
    const SrwHold hold(g_machineLock);
    g_machine = machine ? *machine : FakeIpHelper{};
}
__declspec(dllexport) LONG LastIfTableOrder() { return g_lastIfTableOrder; }
__declspec(dllexport) LONG AdapterListCalls() { return g_adapterListCalls; }

__declspec(dllexport) DWORD WINAPI GetAdaptersInfo(IP_ADAPTER_INFO* buffer, ULONG* size) {
    const SrwHold hold(g_machineLock);
    const std::vector<FakeAdapter>& adapters = g_machine.adapters;
    ++g_adapterListCalls;
    if (adapters.empty()) return ERROR_NO_DATA;
    std::size_t spareEntries = 0;
    for (const FakeAdapter& a : adapters)
        spareEntries += Spare(a.addresses) + Spare(a.gateways) + Spare(a.primaryWins) + Spare(a.secondaryWins);
    ULONG needed =
        static_cast<ULONG>(adapters.size() * sizeof(IP_ADAPTER_INFO) + spareEntries * sizeof(IP_ADDR_STRING));
    if (buffer != nullptr && g_machine.fault == IpHelperFault::AdapterListRead) needed += sizeof(IP_ADAPTER_INFO);
    if (!Fits(buffer, size, needed)) return ERROR_BUFFER_OVERFLOW;
    std::memset(buffer, 0, needed);
    auto* spare = reinterpret_cast<IP_ADDR_STRING*>(buffer + adapters.size());
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        IP_ADAPTER_INFO& out = buffer[i];
        const FakeAdapter& made = adapters[i];
        out.Next = i + 1 < adapters.size() ? &buffer[i + 1] : nullptr;
        Put(out.AdapterName, made.name);
        Put(out.Description, made.description);
        out.AddressLength = static_cast<UINT>(made.mac.size());
        std::memcpy(out.Address, made.mac.data(), std::min(made.mac.size(), sizeof out.Address));
        out.Index = made.index;
        out.Type = made.type;
        out.DhcpEnabled = made.dhcpEnabled;
        Put(out.DhcpServer.IpAddress.String, made.dhcpServer);
        out.HaveWins = made.haveWins;
        Chain(out.IpAddressList, made.addresses, spare);
        Chain(out.GatewayList, made.gateways, spare);
        Chain(out.PrimaryWinsServer, made.primaryWins, spare);
        Chain(out.SecondaryWinsServer, made.secondaryWins, spare);
    }
    return NO_ERROR;
}

__declspec(dllexport) DWORD WINAPI GetIfTable(MIB_IFTABLE* table, ULONG* size, BOOL order) {
    const SrwHold hold(g_machineLock);
    g_lastIfTableOrder = order;
    if (g_machine.fault == IpHelperFault::InterfaceTable) return ERROR_NOT_SUPPORTED;
    const std::vector<FakeAdapter>& adapters = g_machine.adapters;
    if (!Fits(table, size, static_cast<ULONG>(offsetof(MIB_IFTABLE, table) + adapters.size() * sizeof(MIB_IFROW))))
        return ERROR_INSUFFICIENT_BUFFER;
    std::memset(table, 0, *size);
    table->dwNumEntries = static_cast<DWORD>(adapters.size());
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        table->table[i].dwIndex = adapters[i].index;
        table->table[i].dwSpeed = adapters[i].speed;
    }
    return NO_ERROR;
}

__declspec(dllexport) DWORD WINAPI GetPerAdapterInfo(ULONG index, IP_PER_ADAPTER_INFO* buffer, ULONG* size) {
    const SrwHold hold(g_machineLock);
    const auto& adapters = g_machine.adapters;
    const auto made =
        std::find_if(adapters.begin(), adapters.end(), [index](const auto& a) { return a.index == index; });
    if (made == adapters.end()) return ERROR_INVALID_PARAMETER;
    if (g_machine.fault == IpHelperFault::PerAdapterInfo) return ERROR_NO_DATA;
    const std::size_t needed = sizeof(IP_PER_ADAPTER_INFO) + Spare(made->dns) * sizeof(IP_ADDR_STRING);
    if (!Fits(buffer, size, static_cast<ULONG>(needed)))
        return ERROR_BUFFER_OVERFLOW;
    std::memset(buffer, 0, *size);
    auto* spare = reinterpret_cast<IP_ADDR_STRING*>(buffer + 1);
    Chain(buffer->DnsServerList, made->dns, spare);
    return NO_ERROR;
}

// Present so that the binding finds them; the library never calls them. One build lacks one.
__declspec(dllexport) DWORD WINAPI GetNetworkParams(FIXED_INFO*, ULONG*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetNumberOfInterfaces(DWORD*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIfEntry(MIB_IFROW*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIpForwardTable(MIB_IPFORWARDTABLE*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIpAddrTable(MIB_IPADDRTABLE*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
#ifndef WITHOUT_GET_IP_NET_TABLE
__declspec(dllexport) DWORD WINAPI GetIpNetTable(MIB_IPNETTABLE*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
#endif

}  // extern "C"
