#include "adapter_scenario.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "doubles/scenario_iphlpapi.h"

namespace {

std::vector<FakeAdapter> g_adapters;

// Copies as much of `text` as the field holds with its terminator.
template <size_t N>
void Put(char (&field)[N], const std::string& text) {
    const size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

void SetText(IP_ADDR_STRING& entry, const std::string& address, const std::string& mask = "") {
    Put(entry.IpAddress.String, address);
    Put(entry.IpMask.String, mask);
}

// Lays a list out as IP Helper does: the first entry inside the structure, further entries in
// the buffer's spare room behind the structures.
template <class Item, class Set>
void Chain(IP_ADDR_STRING& first, const std::vector<Item>& items, IP_ADDR_STRING*& spare, Set set) {
    IP_ADDR_STRING* previous = nullptr;
    for (size_t i = 0; i < items.size(); ++i) {
        IP_ADDR_STRING* entry = i == 0 ? &first : spare++;
        set(*entry, items[i]);
        if (previous != nullptr) previous->Next = entry;
        previous = entry;
    }
}

size_t ExtraEntries(const FakeAdapter& a) {
    auto extra = [](size_t n) { return n > 1 ? n - 1 : 0; };
    return extra(a.addresses.size()) + extra(a.gateways.size()) + extra(a.primaryWins.size()) +
           extra(a.secondaryWins.size());
}

DWORD WINAPI ScenarioAdaptersInfo(void* buffer, ULONG* size) {
    if (g_adapters.empty()) return ERROR_NO_DATA;
    size_t extra = 0;
    for (const FakeAdapter& a : g_adapters) extra += ExtraEntries(a);
    const ULONG needed = static_cast<ULONG>(g_adapters.size() * sizeof(IP_ADAPTER_INFO) + extra * sizeof(IP_ADDR_STRING));
    if (buffer == nullptr || *size < needed) {
        *size = needed;
        return ERROR_BUFFER_OVERFLOW;
    }
    std::memset(buffer, 0, needed);
    auto* adapters = static_cast<IP_ADAPTER_INFO*>(buffer);
    auto* spare = reinterpret_cast<IP_ADDR_STRING*>(adapters + g_adapters.size());
    for (size_t i = 0; i < g_adapters.size(); ++i) {
        const FakeAdapter& made = g_adapters[i];
        IP_ADAPTER_INFO& out = adapters[i];
        out.Next = i + 1 < g_adapters.size() ? &adapters[i + 1] : nullptr;
        Put(out.AdapterName, made.name);
        Put(out.Description, made.description);
        out.AddressLength = static_cast<UINT>(made.mac.size());
        std::memcpy(out.Address, made.mac.data(), std::min(made.mac.size(), sizeof out.Address));
        out.Index = made.index;
        out.Type = made.type;
        out.DhcpEnabled = made.dhcpEnabled;
        SetText(out.DhcpServer, made.dhcpServer);
        out.HaveWins = made.haveWins;
        auto setAddress = [](IP_ADDR_STRING& e, const std::pair<std::string, std::string>& a) { SetText(e, a.first, a.second); };
        auto setText = [](IP_ADDR_STRING& e, const std::string& text) { SetText(e, text); };
        Chain(out.IpAddressList, made.addresses, spare, setAddress);
        Chain(out.GatewayList, made.gateways, spare, setText);
        Chain(out.PrimaryWinsServer, made.primaryWins, spare, setText);
        Chain(out.SecondaryWinsServer, made.secondaryWins, spare, setText);
    }
    return NO_ERROR;
}

DWORD WINAPI ScenarioIfTable(void* buffer, ULONG* size, BOOL) {
    const ULONG needed = static_cast<ULONG>(offsetof(MIB_IFTABLE, table) + g_adapters.size() * sizeof(MIB_IFROW));
    if (buffer == nullptr || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memset(buffer, 0, needed);
    auto* table = static_cast<MIB_IFTABLE*>(buffer);
    table->dwNumEntries = static_cast<DWORD>(g_adapters.size());
    for (size_t i = 0; i < g_adapters.size(); ++i) {
        table->table[i].dwIndex = g_adapters[i].index;
        table->table[i].dwSpeed = g_adapters[i].speed;
    }
    return NO_ERROR;
}

DWORD WINAPI ScenarioPerAdapterInfo(ULONG index, void* buffer, ULONG* size) {
    const FakeAdapter* made = nullptr;
    for (const FakeAdapter& a : g_adapters)
        if (a.index == index) made = &a;
    if (made == nullptr) return ERROR_NOT_FOUND;
    const size_t extra = made->dns.size() > 1 ? made->dns.size() - 1 : 0;
    const ULONG needed = static_cast<ULONG>(sizeof(IP_PER_ADAPTER_INFO) + extra * sizeof(IP_ADDR_STRING));
    if (buffer == nullptr || *size < needed) {
        *size = needed;
        return ERROR_BUFFER_OVERFLOW;
    }
    std::memset(buffer, 0, needed);
    auto* info = static_cast<IP_PER_ADAPTER_INFO*>(buffer);
    auto* spare = reinterpret_cast<IP_ADDR_STRING*>(info + 1);
    Chain(info->DnsServerList, made->dns, spare, [](IP_ADDR_STRING& e, const std::string& text) { SetText(e, text); });
    return NO_ERROR;
}

}  // namespace

AdapterScenario::AdapterScenario(std::vector<FakeAdapter> adapters) : m_double(LoadLibraryA("iphlpapi.dll")) {
    g_adapters = std::move(adapters);
    auto set = ResolveEntryPoint<SetIpHelperScenarioFunction>(m_double.get(), "SetIpHelperScenario");
    m_usesDouble = set != nullptr;
    if (!m_usesDouble) return;
    static const IpHelperScenario handlers = {&ScenarioAdaptersInfo, &ScenarioIfTable, &ScenarioPerAdapterInfo};
    set(&handlers);
}

AdapterScenario::~AdapterScenario() {
    if (auto set = ResolveEntryPoint<SetIpHelperScenarioFunction>(m_double.get(), "SetIpHelperScenario")) set(nullptr);
    g_adapters.clear();
}
