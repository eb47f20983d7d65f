// Loads LinkSet.dll as a host does and checks its exports by decorated name.
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "recording_log.h"
#include "system/handles.h"

namespace {

struct ExportLine {
    std::string decoratedName;
    WORD ordinal;
};

std::vector<ExportLine> ReadExportTable() {
    std::ifstream def(std::string("Z:") + LINKSET_EXPORT_TABLE);
    const std::regex line(R"re(^\s*"([^"]+)"\s*=\s*\w+\s*@(\d+))re");
    std::vector<ExportLine> lines;
    for (std::string text; std::getline(def, text);) {
        std::smatch match;
        if (std::regex_search(text, match, line))
            lines.push_back({match[1], static_cast<WORD>(std::stoi(match[2]))});
    }
    return lines;
}

class LinkSetDll : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dll) << "LinkSet.dll did not load: " << GetLastError(); }

    template <class F>
    F Export(const char* decoratedName) {
        return ResolveEntryPoint<F>(dll.get(), decoratedName);
    }

    UniqueModule dll{LoadLibraryA("LinkSet.dll")};
};

TEST_F(LinkSetDll, EveryTableLineIsExportedByNameAtItsOrdinal) {
    const std::vector<ExportLine> table = ReadExportTable();
    ASSERT_GE(table.size(), 7u);
    for (const ExportLine& line : table) {
        FARPROC byName = GetProcAddress(dll.get(), line.decoratedName.c_str());
        FARPROC byOrdinal = GetProcAddress(dll.get(), MAKEINTRESOURCEA(line.ordinal));
        EXPECT_NE(byName, nullptr) << line.decoratedName;
        EXPECT_EQ(byName, byOrdinal) << line.decoratedName << " @" << line.ordinal;
    }
}

TEST_F(LinkSetDll, VersionInstallerAndOutputsWorkThroughTheDecoratedNames) {
    auto getVersion = Export<unsigned long (*)()>("?LsGetVersion@@YAKXZ");
    auto isGoodVersion = Export<long (*)(unsigned long)>("?LsIsGoodVersion@@YAJK@Z");
    auto createInstaller = Export<ILinkSetManagerInstaller* (*)(const char*, const char*)>(
        "?LsCreateLinkSetManagerInstaller@@YAPEAVILinkSetManagerInstaller@@PEBD0@Z");
    auto deleteInstaller = Export<void (*)(ILinkSetManagerInstaller*)>(
        "?LsDeleteLinkSetManagerInstaller@@YAXPEAVILinkSetManagerInstaller@@@Z");
    auto setDebugOutput = Export<void (*)(IDebugLog*)>("?LsSetDebugOutput@@YAXPEAVIDebugLog@@@Z");
    auto setEventOutput =
        Export<void (*)(EventOutputCallback)>("?LsSetEventOutput@@YAXP6AXU__QEL_EVENT_LOG@@PEAX@Z@Z");

    EXPECT_EQ(getVersion(), LINKSET_INTERFACE_VERSION);
    EXPECT_EQ(isGoodVersion(LINKSET_INTERFACE_VERSION), 1);
    EXPECT_EQ(isGoodVersion(LINKSET_INTERFACE_VERSION + 1), 0);

    ILinkSetManagerInstaller* installer = createInstaller("a", "b");
    ASSERT_NE(installer, nullptr);
    EXPECT_EQ(installer->PerformInstall(), 1);
    deleteInstaller(installer);
    deleteInstaller(nullptr);

    RecordingDebugLog log;
    { ScopedDebugLog installed(log, setDebugOutput); }
    setEventOutput([](__QEL_EVENT_LOG, void*) {});
    setEventOutput(nullptr);
    EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
