// The library's exception; how it is raised to hosts is checked through the DLL by the
// contract tests (a GCC-built host) and the reference host (catch (CQndException*)).
#include <gtest/gtest.h>

#include <atomic>

#include "boundary/exception.h"
#include "boundary/outputstr.h"
#include "import_patch.h"

namespace {

TEST(QndException, ReportTextOfTheMaintenanceThreadFailure) {
    CQndException* e = CreateQndException(outputstr("<LinkSetMgr>:: failed to start maintenance thread."),
                                           ".\\LinkSetMgr", 184);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->GetErrorText().text,
                 "=======EXCEPTION: QndException ==== \nReason Code: 0, Reason:"
                 "<LinkSetMgr>:: failed to start maintenance thread.");
    EXPECT_STREQ(e->SourceFile.text, ".\\LinkSetMgr");
    EXPECT_EQ(e->SourceLine, 184);
    EXPECT_EQ(e->ReasonCode, 0);
    e->Delete();
}

TEST(QndException, EmptyFieldsAddNothingToTheReport) {
    const CQndException e(outputstr(), -7, "", 0, "");
    EXPECT_STREQ(e.GetErrorText().text, "=======EXCEPTION:  ==== \nReason Code: -7, Reason:");
}

std::atomic<int> g_frees{0};
void(__cdecl* g_realFree)(void*) = nullptr;
void __cdecl CountingFree(void* block) {
    if (block != nullptr) ++g_frees;
    g_realFree(block);
}

TEST(QndException, DeleteFreesItsThreeTextsAndItself) {
    CQndException* e = CreateQndException(outputstr("reason"), "file", 1);
    ASSERT_NE(e, nullptr);
    g_frees = 0;
    {
        ImportPatch countFrees(ThisExecutable(), "msvcrt.dll", "free", &CountingFree, &g_realFree);
        e->Delete();
    }
    EXPECT_EQ(g_frees, 4);
    DeleteQndException(nullptr);  // accepted
}

}  // namespace
