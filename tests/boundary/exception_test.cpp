#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "boundary/exception.h"
#include "boundary/host_exception.h"
#include "boundary/outputstr.h"
#include "import_patch.h"
#include "system/handles.h"

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

// What a host's runtime sees of the raise: the record of an MSVC C++ throw of CQndException*.
struct SeenRaise {
    DWORD code = 0, flags = 0, parameters = 0;
    ULONG_PTR magic = 0;
    CQndException* thrown = nullptr;
    std::string catchableTypes;
    bool imageBaseIsThisModule = false;
};
SeenRaise g_seen;
DWORD g_raisingThread = 0;

std::string CatchableTypeNames(const ULONG_PTR* info) {
    const char* base = reinterpret_cast<const char*>(info[3]);
    const auto* throwInfo = reinterpret_cast<const int32_t*>(info[2]);
    const auto* array = reinterpret_cast<const int32_t*>(base + throwInfo[3]);
    std::string names;
    for (int i = 0; i < array[0]; ++i) {
        const auto* type = reinterpret_cast<const int32_t*>(base + array[1 + i]);
        const char* descriptor = base + type[1];
        names += std::string(descriptor + 2 * sizeof(void*)) + (type[0] == 1 ? "" : "!") + ";";
    }
    return names;
}

// Observes the raise on the raising thread and ends that thread, as a host's catch would end
// the exception's life: a non-continuable exception is never resumed.
LONG CALLBACK ObserveRaise(EXCEPTION_POINTERS* pointers) {
    if (GetCurrentThreadId() != g_raisingThread) return EXCEPTION_CONTINUE_SEARCH;
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    g_seen.code = record.ExceptionCode;
    g_seen.flags = record.ExceptionFlags;
    g_seen.parameters = record.NumberParameters;
    if (record.NumberParameters == 4) {
        g_seen.magic = record.ExceptionInformation[0];
        g_seen.thrown = *reinterpret_cast<CQndException**>(record.ExceptionInformation[1]);
        g_seen.catchableTypes = CatchableTypeNames(record.ExceptionInformation);
        g_seen.imageBaseIsThisModule = record.ExceptionInformation[3] == reinterpret_cast<ULONG_PTR>(ThisExecutable());
    }
    // Enter ExitThread as if called: below the raise's frames, aligned as after a call.
    CONTEXT& context = *pointers->ContextRecord;
    context.Rsp = ((context.Rsp - 0x1000) & ~DWORD64{0xF}) - 8;
    context.Rip = reinterpret_cast<DWORD64>(&ExitThread);
    context.Rcx = 0;
    return EXCEPTION_CONTINUE_EXECUTION;
}

DWORD WINAPI RaiseOnThisThread(void* exception) { RaiseToHost(static_cast<CQndException*>(exception)); }

TEST(QndException, RaisedToTheHostAsAnMsvcThrowOfThePointer) {
    CQndException* e = CreateQndException(outputstr("why"), "file", 1);
    PVOID handler = AddVectoredExceptionHandler(1, &ObserveRaise);
    UniqueHandle thread(CreateThread(nullptr, 0, &RaiseOnThisThread, e, CREATE_SUSPENDED, &g_raisingThread));
    ResumeThread(thread.get());
    ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
    RemoveVectoredExceptionHandler(handler);

    EXPECT_EQ(g_seen.code, 0xE06D7363u);
    EXPECT_EQ(g_seen.flags & EXCEPTION_NONCONTINUABLE, static_cast<DWORD>(EXCEPTION_NONCONTINUABLE));
    EXPECT_EQ(g_seen.parameters, 4u);
    EXPECT_EQ(g_seen.magic, 0x19930520u);
    EXPECT_EQ(g_seen.thrown, e);
    EXPECT_EQ(g_seen.catchableTypes, ".PEAVCQndException@@;.PEAX;");
    EXPECT_TRUE(g_seen.imageBaseIsThisModule);
    e->Delete();
}

}  // namespace
