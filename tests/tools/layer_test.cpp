// The C++ layer in a MinGW-built host, through the real LinkSet.dll: what the library raises the
// MSVC way arrives as the layer's ordinary exceptions (its use otherwise: linkset's own tests).
#include <gmock/gmock.h>
#include <linkset/linkset.hpp>

#include "import_patch.h"

namespace {

HANDLE WINAPI FailingCreateEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) { return nullptr; }

// std::bad_alloc thrown the way the library reports running out of memory, as Microsoft's runtime
// throws it: catchable types bad_alloc and exception, offsets from the records' own start.
[[noreturn]] void RaiseBadAllocTheMsvcWay() {
    struct Type { const void* vftable; void* spare; char name[24]; };
    struct Catchable { int32_t properties, type, displacement[3], size, copyFunction; };
    static struct { Type badAlloc, exception; Catchable catchable[2]; int32_t array[3], info[4]; } r = {
        {nullptr, nullptr, ".?AVbad_alloc@std@@"}, {nullptr, nullptr, ".?AVexception@std@@"}, {}, {}, {}};
    static void* object[3] = {};  // table, text, "free the text": nothing to free
    auto offset = [](const void* p) { return static_cast<int32_t>(static_cast<const char*>(p) - reinterpret_cast<char*>(&r)); };
    r.catchable[0] = {0, offset(&r.badAlloc), {0, -1, 0}, sizeof object, 0};
    r.catchable[1] = {0, offset(&r.exception), {0, -1, 0}, sizeof object, 0};
    r.array[0] = 2, r.array[1] = offset(&r.catchable[0]), r.array[2] = offset(&r.catchable[1]);
    r.info[3] = offset(r.array);
    const ULONG_PTR arguments[] = {0x19930520, reinterpret_cast<ULONG_PTR>(object), reinterpret_cast<ULONG_PTR>(r.info),
                                   reinterpret_cast<ULONG_PTR>(&r)};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 4, arguments);
    std::abort();
}

TEST(LayerInAMinGWHost, TakesWhatTheLibraryRaisesAsOrdinaryExceptions) {
    {
        ImportPatch noEvents(GetModuleHandleA("LinkSet.dll"), "KERNEL32.dll", "CreateEventA",
                             reinterpret_cast<void*>(&FailingCreateEvent));
        EXPECT_THAT([] { linkset::manager manager; }, testing::ThrowsMessage<linkset::start_error>(
                                                          "<LinkSetMgr>:: failed to start maintenance thread."));
    }
    EXPECT_THROW(linkset::detail::call([] { RaiseBadAllocTheMsvcWay(); return 0; }), std::bad_alloc);
    linkset::manager manager;  // and the next one starts
    EXPECT_TRUE(manager.wait_for_change(std::chrono::seconds(15)));
}

}  // namespace
