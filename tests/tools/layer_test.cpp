// The C++ layer in a MinGW-built host, through the real LinkSet.dll: what the library raises the
// MSVC way arrives as the layer's ordinary exceptions (its use otherwise: linkset's own tests).
#include <gmock/gmock.h>
#include <linkset/linkset.hpp>

#include "import_patch.h"

namespace {

HANDLE WINAPI FailingCreateEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) { return nullptr; }

void* __cdecl FailingRealloc(void*, size_t) { return nullptr; }

TEST(LayerInAMinGWHost, TakesWhatTheLibraryRaisesAsOrdinaryExceptions) {
    {
        ImportPatch noEvents(GetModuleHandleA("LinkSet.dll"), "KERNEL32.dll", "CreateEventA",
                             reinterpret_cast<void*>(&FailingCreateEvent));
        EXPECT_THAT([] { linkset::manager manager; }, testing::ThrowsMessage<linkset::start_error>(
                                                          "<LinkSetMgr>:: failed to start maintenance thread."));
    }
    {
        // Out of memory inside the library: its first text cannot grow.
        ImportPatch noMemory(GetModuleHandleA("LinkSet.dll"), "msvcrt.dll", "realloc",
                             reinterpret_cast<void*>(&FailingRealloc));
        EXPECT_THROW(linkset::manager manager, std::bad_alloc);
    }
    linkset::manager manager;  // and the next one starts
    EXPECT_TRUE(manager.wait_for_change(std::chrono::seconds(15)));
}

}  // namespace
