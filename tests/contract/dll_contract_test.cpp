// Loads LinkSet.dll as a host does and checks that every line of the export table is there by
// name and ordinal; what the exports do is the reference host's to check, through the MSVC ABI.
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

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

}  // namespace
