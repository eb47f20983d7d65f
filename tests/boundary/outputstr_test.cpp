#include <gtest/gtest.h>

#include <string>

#include "boundary/outputstr.h"
#include "import_patch.h"

namespace {

TEST(OutputStr, ConcatenatesTextNumbersAndCharacters) {
    const outputstr empty;
    const outputstr s = outputstr("n=") + 4294967295ul + ' ' + -5 + '\0' + empty + "/" + outputstr("x");
    EXPECT_STREQ(s.text, "n=4294967295 -5/x");
    EXPECT_EQ(s.length, 17u);
    EXPECT_EQ((outputstr() + '\0').text, nullptr);
}

// Refuses to grow one block only: the C++ runtime itself grows its own blocks while it throws.
void* g_blockToRefuse = nullptr;
void*(__cdecl* g_realRealloc)(void*, size_t) = nullptr;
void* __cdecl RefusingRealloc(void* block, size_t size) {
    return block == g_blockToRefuse ? nullptr : g_realRealloc(block, size);
}

TEST(OutputStr, FailedGrowthThrowsAndKeepsTheText) {
    outputstr s("0123456789abcde");  // 15 characters: the block is full
    char* const block = s.text;
    g_blockToRefuse = block;
    std::string message;
    {
        ImportPatch failRealloc(ThisExecutable(), "msvcrt.dll", "realloc", &RefusingRealloc, &g_realRealloc);
        try {
            s.Append("f");
        } catch (const std::bad_alloc& error) {
            message = error.what();
        }
    }
    EXPECT_EQ(message, "outputstr failed to allocate memory");
    EXPECT_EQ(s.text, block);
    EXPECT_EQ(s.length, 15u);
    EXPECT_STREQ(s.text, "0123456789abcde");
}

}  // namespace
