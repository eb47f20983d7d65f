// The C++ layer in a MinGW-built host, through the real LinkSet.dll: what the library raises the
// MSVC way arrives as the layer's ordinary exceptions, and a manager then works as documented.
#include <gtest/gtest.h>
#include <linkset/linkset.hpp>

#include "import_patch.h"

namespace {

HANDLE WINAPI FailingCreateEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// std::bad_alloc thrown as Microsoft's runtime throws it, which is how the library reports
// running out of memory: a throw record whose catchable types are bad_alloc and exception, every
// reference an offset from the image base passed along (here, the records' own start).
struct TypeDescriptor {
    const void* vftable;
    void* spare;
    char name[24];
};
struct CatchableType {
    int32_t properties, type, displacement[3], size, copyFunction;
};
struct BadAllocRecords {
    TypeDescriptor badAlloc, exception;
    CatchableType catchable[2];
    int32_t catchableArray[3];
    int32_t throwInfo[4];
};

[[noreturn]] void RaiseBadAllocTheMsvcWay() {
    static BadAllocRecords r = {{nullptr, nullptr, ".?AVbad_alloc@std@@"}, {nullptr, nullptr, ".?AVexception@std@@"}, {}, {}, {}};
    static void* object[3] = {};  // vftable, what, free flag: a bad_alloc needs nothing freed
    auto offset = [](const void* p) { return static_cast<int32_t>(static_cast<const char*>(p) - reinterpret_cast<char*>(&r)); };
    r.catchable[0] = {0, offset(&r.badAlloc), {0, -1, 0}, sizeof object, 0};
    r.catchable[1] = {0, offset(&r.exception), {0, -1, 0}, sizeof object, 0};
    r.catchableArray[0] = 2;
    r.catchableArray[1] = offset(&r.catchable[0]);
    r.catchableArray[2] = offset(&r.catchable[1]);
    r.throwInfo[3] = offset(r.catchableArray);
    const ULONG_PTR arguments[] = {0x19930520, reinterpret_cast<ULONG_PTR>(object), reinterpret_cast<ULONG_PTR>(r.throwInfo),
                                   reinterpret_cast<ULONG_PTR>(&r)};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 4, arguments);
    std::abort();
}

TEST(LayerInAMinGWHost, RaisedFailuresBecomeOrdinaryExceptionsAndAManagerWorksAfter) {
    {
        ImportPatch noEvents(GetModuleHandleA("LinkSet.dll"), "KERNEL32.dll", "CreateEventA",
                             reinterpret_cast<void*>(&FailingCreateEvent));
        try {
            linkset::manager manager;
            ADD_FAILURE() << "the manager started without events";
        } catch (const linkset::start_error& failure) {
            EXPECT_STREQ(failure.what(), "<LinkSetMgr>:: failed to start maintenance thread.");
        }
    }
    EXPECT_THROW(linkset::detail::call([] { RaiseBadAllocTheMsvcWay(); return 0; }), std::bad_alloc);

    linkset::manager manager;
    ASSERT_TRUE(manager.wait_for_change(std::chrono::seconds(15)));  // the first adapter pass
    const std::vector<PORT_INFO> ports = manager.ports();
    uint32_t copied = 0, total = 0;
    manager.get()->GetPorts(nullptr, 0, &copied, &total, PORT_FILTER_ALL);
    EXPECT_EQ(ports.size(), total);
    const linkset::vpn_detection detection = manager.detect_vpn();
    EXPECT_EQ(manager.get()->IsVPNDetectorOpen(), 1);
    for (linkset::vpn_kind kind : linkset::vpn_kinds) EXPECT_NE(detection.status(kind), linkset::vpn_state::connected);
}

}  // namespace
