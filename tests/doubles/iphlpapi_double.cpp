// An IP Helper library that answers from the machine a test made up (fake_ip_helper.h), laying
// its records out as IP Helper does. Built several times with different version resources; one
// build lacks GetIpNetTable.
#include "fake_ip_helper.h"
#include "machine_lock.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// For a program that cannot call SetFakeIpHelper: the machine of the file the environment names.
FakeIpHelper MachineOfFile() {
    FakeIpHelper machine;
    char path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(kFakeIpHelperFileVariable, path, sizeof path);
    if (length == 0 || length >= sizeof path) return machine;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        std::string field[6];
        for (std::string& text : field) std::getline(fields, text, '\t');
        FakeAdapter& adapter = machine.adapters.emplace_back();
        adapter.name = field[0];
        adapter.type = std::strtoul(field[1].c_str(), nullptr, 10);
        adapter.index = std::strtoul(field[2].c_str(), nullptr, 10);
        adapter.description = field[3];
        adapter.addresses = {{field[4], field[5]}};
    }
    return machine;
}

FakeIpHelper g_machine = MachineOfFile();
std::atomic<LONG> g_lastIfTableOrder{-1};
std::atomic<LONG> g_adapterListCalls{0};

// The two-step size protocol of IP Helper: the caller learns the size it needs either way.
bool Fits(const void* buffer, ULONG* size, ULONG needed) {
    const bool fits = buffer != nullptr && *size >= needed;
    *size = needed;
    return fits;
}

// As much of `text` as the field holds with its terminator.
template <std::size_t N>
void Put(char (&field)[N], const std::string& text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// A list as IP Helper lays it out: the first entry inside the structure, further entries in the
// buffer's spare room behind the structures.
template <class Item, class Set>
void Chain(IP_ADDR_STRING& first, const std::vector<Item>& items, IP_ADDR_STRING*& spare, Set set) {
    IP_ADDR_STRING* previous = nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        IP_ADDR_STRING* entry = i == 0 ? &first : spare++;
        set(*entry, items[i]);
        if (previous != nullptr) previous->Next = entry;
        previous = entry;
    }
}

void SetText(IP_ADDR_STRING& entry, const std::string& text) { Put(entry.IpAddress.String, text); }
void SetAddress(IP_ADDR_STRING& entry, const std::pair<std::string, std::string>& address) {
    Put(entry.IpAddress.String, address.first);
    Put(entry.IpMask.String, address.second);
}

std::size_t SpareEntries(const FakeAdapter& a) {
    const auto spare = [](std::size_t n) { return n > 1 ? n - 1 : 0; };
    return spare(a.addresses.size()) + spare(a.gateways.size()) + spare(a.primaryWins.size()) +
           spare(a.secondaryWins.size());
}

void Fill(IP_ADAPTER_INFO& out, const FakeAdapter& made, IP_ADDR_STRING*& spare) {
    Put(out.AdapterName, made.name);
    Put(out.Description, made.description);
    out.AddressLength = static_cast<UINT>(made.mac.size());
    std::memcpy(out.Address, made.mac.data(), std::min(made.mac.size(), sizeof out.Address));
    out.Index = made.index;
    out.Type = made.type;
    out.DhcpEnabled = made.dhcpEnabled;
    SetText(out.DhcpServer, made.dhcpServer);
    out.HaveWins = made.haveWins;
    Chain(out.IpAddressList, made.addresses, spare, SetAddress);
    Chain(out.GatewayList, made.gateways, spare, SetText);
    Chain(out.PrimaryWinsServer, made.primaryWins, spare, SetText);
    Chain(out.SecondaryWinsServer, made.secondaryWins, spare, SetText);
}

const FakeAdapter* AdapterOfIndex(ULONG index) {
    const auto found = std::find_if(g_machine.adapters.begin(), g_machine.adapters.end(),
                                    [index](const FakeAdapter& a) { return a.index == index; });
    return found == g_machine.adapters.end() ? nullptr : &*found;
}

}  // namespace

extern "C" {

__declspec(dllexport) void SetFakeIpHelper(const FakeIpHelper* machine) {
    const MachineWriting writing;
    g_machine = machine ? *machine : FakeIpHelper{};
}
__declspec(dllexport) LONG LastIfTableOrder() { return g_lastIfTableOrder; }
__declspec(dllexport) LONG AdapterListCalls() { return g_adapterListCalls; }

__declspec(dllexport) DWORD WINAPI GetAdaptersInfo(IP_ADAPTER_INFO* buffer, ULONG* size) {
    const MachineReading reading;
    const std::vector<FakeAdapter>& adapters = g_machine.adapters;
    const bool sizeQuery = buffer == nullptr;
    ++g_adapterListCalls;
    if (adapters.empty()) return ERROR_NO_DATA;
    std::size_t spareEntries = 0;
    for (const FakeAdapter& a : adapters) spareEntries += SpareEntries(a);
    ULONG needed = static_cast<ULONG>(adapters.size() * sizeof(IP_ADAPTER_INFO) + spareEntries * sizeof(IP_ADDR_STRING));
    if (!sizeQuery && g_machine.fault == IpHelperFault::AdapterListRead) needed += sizeof(IP_ADAPTER_INFO);
    if (!Fits(buffer, size, needed)) return ERROR_BUFFER_OVERFLOW;
    std::memset(buffer, 0, needed);
    auto* spare = reinterpret_cast<IP_ADDR_STRING*>(buffer + adapters.size());
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        buffer[i].Next = i + 1 < adapters.size() ? &buffer[i + 1] : nullptr;
        Fill(buffer[i], adapters[i], spare);
    }
    return NO_ERROR;
}

__declspec(dllexport) DWORD WINAPI GetIfTable(MIB_IFTABLE* table, ULONG* size, BOOL order) {
    const MachineReading reading;
    g_lastIfTableOrder = order;
    if (g_machine.fault == IpHelperFault::InterfaceTable) return ERROR_NOT_SUPPORTED;
    const std::vector<FakeAdapter>& adapters = g_machine.adapters;
    if (!Fits(table, size, static_cast<ULONG>(offsetof(MIB_IFTABLE, table) + adapters.size() * sizeof(MIB_IFROW))))
        return ERROR_INSUFFICIENT_BUFFER;
    table->dwNumEntries = static_cast<DWORD>(adapters.size());
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        table->table[i] = MIB_IFROW{};
        table->table[i].dwIndex = adapters[i].index;
        table->table[i].dwSpeed = adapters[i].speed;
    }
    return NO_ERROR;
}

__declspec(dllexport) DWORD WINAPI GetPerAdapterInfo(ULONG index, IP_PER_ADAPTER_INFO* buffer, ULONG* size) {
    const MachineReading reading;
    const FakeAdapter* made = AdapterOfIndex(index);
    if (made == nullptr) return ERROR_INVALID_PARAMETER;
    if (g_machine.fault == IpHelperFault::PerAdapterInfo) return ERROR_NO_DATA;
    const std::size_t spare = made->dns.size() > 1 ? made->dns.size() - 1 : 0;
    if (!Fits(buffer, size, static_cast<ULONG>(sizeof(IP_PER_ADAPTER_INFO) + spare * sizeof(IP_ADDR_STRING))))
        return ERROR_BUFFER_OVERFLOW;
    std::memset(buffer, 0, *size);
    auto* spareEntries = reinterpret_cast<IP_ADDR_STRING*>(buffer + 1);
    Chain(buffer->DnsServerList, made->dns, spareEntries, SetText);
    return NO_ERROR;
}

// Present so that the binding finds them; the library never calls them.
__declspec(dllexport) DWORD WINAPI GetNetworkParams(FIXED_INFO*, ULONG*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetNumberOfInterfaces(DWORD*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIfEntry(MIB_IFROW*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIpForwardTable(MIB_IPFORWARDTABLE*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIpAddrTable(MIB_IPADDRTABLE*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
#ifndef WITHOUT_GET_IP_NET_TABLE
__declspec(dllexport) DWORD WINAPI GetIpNetTable(MIB_IPNETTABLE*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
#endif

}  // extern "C"
