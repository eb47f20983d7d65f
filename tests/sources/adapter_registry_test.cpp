#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "import_patch.h"
#include "registry_scenario.h"
#include "resource_counts.h"
#include "sources/adapter_registry.h"

namespace {

constexpr char kCards[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
constexpr char kDevices[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\NET";
constexpr char kNetClassGuid[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
const std::string kNetClass = std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\") + kNetClassGuid;
const std::string kConnections = std::string("SYSTEM\\CurrentControlSet\\Control\\Network\\") + kNetClassGuid;

template <class... Args> std::string Format(const char* format, Args... args) {
    char text[64];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}
std::string Guid(int n) { return Format("{0000AD%02X-0000-4000-8000-0000000000AB}", n); }
std::string Subkey(const std::string& parent, int n) { return parent + Format("\\%04d", n); }

std::string ConnectionKey(int n) { return kConnections + "\\" + Guid(n) + "\\Connection"; }

using Table = std::vector<std::pair<std::string, std::string>>;

std::vector<REGSAM> g_openAccess;
decltype(&RegOpenKeyExA) g_realOpen = nullptr;
LSTATUS WINAPI RecordingRegOpenKeyExA(HKEY parent, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    g_openAccess.push_back(access);
    return g_realOpen(parent, path, options, access, key);
}

// The lookups run under watch: every key they open is opened read-only and closed again.
template <class Lookup>
auto Watched(Lookup lookup) {
    const ImportPatch open(ThisExecutable(), "ADVAPI32.dll", "RegOpenKeyExA", &RecordingRegOpenKeyExA, &g_realOpen);
    g_openAccess.clear();
    const HandleCount handles;
    const auto result = lookup();
    EXPECT_EQ(handles.Added(), 0) << "a key was left open";
    for (REGSAM access : g_openAccess) EXPECT_EQ(access, static_cast<REGSAM>(KEY_READ));
    return result;
}

class AdapterRegistry : public ::testing::Test {
protected:
    RegistryScenario m_scenario{{kCards, kDevices, kNetClass, kConnections}};

    // Null texts are left out.
    void AddCard(int n, const char* guid, const char* description) {
        m_scenario.CreateKey(Subkey(kCards, n));
        if (guid) m_scenario.SetString(Subkey(kCards, n), "ServiceName", guid);
        if (description) m_scenario.SetString(Subkey(kCards, n), "Description", description);
    }
    void AddCard(int n, const std::string& description) { AddCard(n, Guid(n).c_str(), description.c_str()); }

    // A root-enumerated device whose driver is class instance `n`.
    void AddDevice(int n, const std::string& guid, const char* friendlyName, const char* deviceDesc,
                   bool withClassKey = true) {
        m_scenario.SetString(Subkey(kDevices, n), "Driver", Subkey(kNetClassGuid, n));
        if (friendlyName) m_scenario.SetString(Subkey(kDevices, n), "FriendlyName", friendlyName);
        if (deviceDesc) m_scenario.SetString(Subkey(kDevices, n), "DeviceDesc", deviceDesc);
        if (withClassKey) m_scenario.SetString(Subkey(kNetClass, n), "NetCfgInstanceId", guid);
    }

    static Table ReadTable(int expectedResult) {
        ADAPTER_REG_ENTRY entries[kAdapterTableEntries + 1];
        std::memset(entries, 0x5A, sizeof entries);
        const int count = Watched([&] { return ReadAdapterTable(entries, kAdapterTableSize); });
        EXPECT_EQ(count, expectedResult);
        EXPECT_EQ(entries[kAdapterTableEntries].GuidText[0], 0x5A) << "written past the table";
        Table table;
        for (int i = 0; i < count; ++i) table.emplace_back(entries[i].GuidText, entries[i].Description);
        return table;
    }

    // The lookup's answer, and the description it leaves in a port's 132-byte field.
    static std::pair<int, std::string> Describe(const std::string& adapter) {
        struct { char field[132] = "untouched"; char guard = 0x5A; } port;
        const int found = Watched([&] { return LookupAdapterDescription(adapter.c_str(), port.field); });
        EXPECT_EQ(port.guard, 0x5A) << "written past the field";
        return {found, port.field};
    }
};

TEST_F(AdapterRegistry, CardsComeFirstThenRootDevicesSkippingThoseWithoutAName) {
    AddCard(0, "Card zero");
    AddCard(1, nullptr, "Card without ServiceName");  // passed over, the walk goes on
    AddCard(2, "Card two");
    AddDevice(3, Guid(3), "Friendly three", "Desc three");
    m_scenario.SetString(Subkey(kDevices, 4), "DeviceDesc", "Device without Driver");
    const std::string lowerCase = "{0000ad05-0000-4000-8000-0000000000ab}";
    AddDevice(5, lowerCase, nullptr, "Desc five");
    AddDevice(6, Guid(6), nullptr, nullptr);  // no description: counted, and the walk ends
    AddDevice(7, Guid(7), "Device seven, never read", nullptr);
    EXPECT_EQ(ReadTable(5), (Table{{Guid(0), "Card zero"}, {Guid(2), "Card two"}, {Guid(3), "Friendly three"},
                                   {lowerCase, "Desc five"}, {Guid(6), ""}}));

    // GUID texts compare exactly: the lower-case registry text does not name the adapter.
    EXPECT_EQ(Describe(Guid(5)), std::make_pair(0, std::string("untouched")));
    EXPECT_EQ(Describe(lowerCase), std::make_pair(1, std::string("Desc five")));
}

// A card without "Description" is counted and ends the card walk; a device whose class key does
// not open ends the device walk without an entry.
TEST_F(AdapterRegistry, EachWalkEndsWhereItsRulesSay) {
    AddCard(0, "Card zero");
    AddCard(1, Guid(1).c_str(), nullptr);
    AddCard(2, "Card two, never read");
    AddDevice(3, Guid(3), "Device three", nullptr);
    AddDevice(4, Guid(4), "Device four", nullptr, false);
    AddDevice(5, Guid(5), "Device five, never read", nullptr);
    EXPECT_EQ(ReadTable(3), (Table{{Guid(0), "Card zero"}, {Guid(1), ""}, {Guid(3), "Device three"}}));
}

TEST_F(AdapterRegistry, OnlyTheFirstSixteenAdaptersCanBeLookedUp) {
    for (int n = 0; n < 12; ++n) AddCard(n, "Card " + std::to_string(n));
    for (int n = 12; n < 18; ++n) AddDevice(n, Guid(n), ("Device " + std::to_string(n)).c_str(), nullptr);
    EXPECT_EQ(ReadTable(16).back(), (std::pair<std::string, std::string>{Guid(15), "Device 15"}));
    EXPECT_EQ(Describe(Guid(15)).first, 1);
    EXPECT_EQ(Describe(Guid(16)).first, 0);
}

TEST_F(AdapterRegistry, WithoutNetworkCardsTheDevicesAreNotReadEither) {
    AddDevice(0, Guid(0), "Device zero", nullptr);
    ReadTable(-1);
    EXPECT_EQ(Describe(Guid(0)), std::make_pair(0, std::string("untouched")));
    char description[132];
    EXPECT_EQ(LookupAdapterDescription(nullptr, description) + LookupAdapterDescription("x", nullptr, 0), 0);
}

// Found; a key without "Name"; a name too long for the 260-byte field; no key at all.
TEST_F(AdapterRegistry, ConnectionNamesComeFromTheNetworkKey) {
    m_scenario.SetString(ConnectionKey(0), "Name", "Local Area Connection 2");
    m_scenario.CreateKey(ConnectionKey(1));
    m_scenario.SetString(ConnectionKey(2), "Name", std::string(260, 'n'));

    char name[260] = {};
    EXPECT_EQ(Watched([&] { return LookupConnectionName(Guid(0).c_str(), name, sizeof name); }), 0);
    EXPECT_STREQ(name, "Local Area Connection 2");
    for (int n : {1, 2, 3})
        EXPECT_EQ(Watched([&] { return LookupConnectionName(Guid(n).c_str(), name, sizeof name); }), -1) << n;
}

// Before Windows 2000 the registry is not asked, even when it holds a connection name.
TEST_F(AdapterRegistry, ConnectionNameIsTheAdapterNameOnNt4) {
    if (ChildArgument().empty()) return ExpectChildPasses({.windowsVersion = "nt40"});
    m_scenario.SetString(ConnectionKey(0), "Name", "Local Area Connection");
    char name[260];
    EXPECT_EQ(LookupConnectionName(Guid(0).c_str(), name, sizeof name), 0);
    EXPECT_EQ(name, Guid(0));
    const std::string longest(259, 'a');  // fills the field with its terminator
    EXPECT_EQ(LookupConnectionName(longest.c_str(), name, sizeof name), 0);
    EXPECT_EQ(name, longest);
    EXPECT_EQ(LookupConnectionName((longest + "a").c_str(), name, sizeof name), -1);
}

}  // namespace
