#include "library_exception.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr DWORD kMsvcExceptionCode = 0xE06D7363;
constexpr ULONG_PTR kMsvcMagic = 0x19930520;
constexpr DWORD kMsvcParameterCount = 4;
constexpr const char* kExceptionPointerType = ".PEAVCQndException@@";

// One catching call at a time: the host creates its manager on one thread.
void* g_resume[5];  // __builtin_setjmp's buffer
DWORD g_catchingThread = 0;
CQndException* g_caught = nullptr;

// The type name of the first catchable type of an MSVC throw record: "which pointer is this?"
bool ThrowsExceptionPointer(const EXCEPTION_RECORD& record) {
    const char* base = reinterpret_cast<const char*>(record.ExceptionInformation[3]);
    const auto* throwInfo = reinterpret_cast<const int32_t*>(record.ExceptionInformation[2]);
    if (base == nullptr || throwInfo == nullptr) return false;
    const auto* types = reinterpret_cast<const int32_t*>(base + throwInfo[3]);
    if (types[0] < 1) return false;
    const auto* first = reinterpret_cast<const int32_t*>(base + types[1]);
    const char* name = base + first[1] + 2 * sizeof(void*);
    return std::strcmp(name, kExceptionPointerType) == 0;
}

[[noreturn]] void ResumeCaller() { __builtin_longjmp(g_resume, 1); }

LONG CALLBACK TakeLibraryException(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (GetCurrentThreadId() != g_catchingThread || record.ExceptionCode != kMsvcExceptionCode ||
        record.NumberParameters != kMsvcParameterCount || record.ExceptionInformation[0] != kMsvcMagic ||
        !ThrowsExceptionPointer(record))
        return EXCEPTION_CONTINUE_SEARCH;
    g_caught = *reinterpret_cast<CQndException**>(record.ExceptionInformation[1]);
    // Back into the catching call, as its catch block would be entered: the frames between hold
    // nothing to release, since the library raises only after leaving its own scopes.
    CONTEXT& context = *pointers->ContextRecord;
    context.Rsp = (context.Rsp & ~DWORD64{0xF}) - 8;
    context.Rip = reinterpret_cast<DWORD64>(&ResumeCaller);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

ILinkSetManager* CreateManagerCatchingFailure(CQndException** failure) {
    *failure = nullptr;
    g_caught = nullptr;
    g_catchingThread = GetCurrentThreadId();
    PVOID handler = AddVectoredExceptionHandler(1, &TakeLibraryException);
    ILinkSetManager* volatile manager = nullptr;
    if (__builtin_setjmp(g_resume) == 0) manager = LsCreateLinkSetManager();
    else *failure = g_caught;
    RemoveVectoredExceptionHandler(handler);
    g_catchingThread = 0;
    return manager;
}
