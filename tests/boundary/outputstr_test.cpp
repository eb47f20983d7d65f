#include <gtest/gtest.h>
#include <malloc.h>

#include <string>

#include "boundary/outputstr.h"
#include "import_patch.h"

namespace {

size_t BlockSize(const outputstr& s) { return s.text ? _msize(s.text) : 0; }

TEST(OutputStr, GrowsInSixteenByteStepsAndAllocatesNothingWhileEmpty) {
    outputstr s;
    s.Append(nullptr);
    s.Append("");
    EXPECT_EQ(s.text, nullptr);
    EXPECT_EQ(s.length, 0u);

    s.Append("abc");
    EXPECT_EQ(BlockSize(s), 16u);
    s.Append("defghijklmn");  // 14 characters still fit with their terminator
    EXPECT_EQ(BlockSize(s), 16u);
    s.Append("op");  // 16 characters need a second step
    EXPECT_EQ(BlockSize(s), 32u);
    EXPECT_STREQ(s.text, "abcdefghijklmnop");
    EXPECT_EQ(s.length, 16u);
}

TEST(OutputStr, ConcatenatesTextNumbersAndCharacters) {
    const outputstr empty;
    const outputstr s = outputstr("n=") + 4294967295ul + ' ' + -5 + '\0' + empty + "/" + outputstr("x");
    EXPECT_STREQ(s.text, "n=4294967295 -5/x");
    EXPECT_EQ(s.length, 17u);
    EXPECT_EQ((outputstr() + '\0').text, nullptr);
}

TEST(OutputStr, CopiesOwnTheirBlocks) {
    outputstr original("shared?");
    outputstr copy(original);
    outputstr assigned;
    assigned = original;
    original.Append(" no");
    EXPECT_STREQ(copy.text, "shared?");
    EXPECT_STREQ(assigned.text, "shared?");
    EXPECT_NE(copy.text, original.text);
    assigned = assigned;
    EXPECT_STREQ(assigned.text, "shared?");
    assigned = outputstr();
    EXPECT_EQ(assigned.text, nullptr);
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
