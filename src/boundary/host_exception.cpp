#include "boundary/host_exception.h"

#include <windows.h>

#include <cstdint>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// The exception code and parameters Microsoft's runtime uses for C++ throws.
constexpr DWORD kMsvcExceptionCode = 0xE06D7363;  // 'msc' | 0xE0000000
constexpr ULONG_PTR kMsvcMagic = 0x19930520;
constexpr DWORD kMsvcParameterCount = 4;
constexpr uint32_t kSimpleType = 1;  // CatchableType properties: pointers are simple types

// x64 records: every reference is a 32-bit offset from the image base.
struct TypeDescriptor {
    const void* vftable;
    void* spare;
    char name[24];
};

struct CatchableType {
    uint32_t properties;
    int32_t typeDescriptor;
    int32_t memberDisplacement;
    int32_t vbaseOffset;
    int32_t vbaseDisplacement;
    uint32_t size;
    int32_t copyFunction;
};

struct CatchableTypeArray {
    int32_t count;
    int32_t types[2];
};

struct ThrowInfo {
    uint32_t attributes;
    int32_t unwind;
    int32_t forwardCompat;
    int32_t catchableTypes;
};

// A CQndException* can be caught as itself or as void*.
TypeDescriptor g_exceptionPointerType = {nullptr, nullptr, ".PEAVCQndException@@"};
TypeDescriptor g_voidPointerType = {nullptr, nullptr, ".PEAX"};

int32_t ImageOffset(const void* p) {
    return static_cast<int32_t>(reinterpret_cast<const char*>(p) -
                                reinterpret_cast<const char*>(&__ImageBase));
}

CatchableType MakePointerCatchable(const TypeDescriptor& type) {
    return {kSimpleType, ImageOffset(&type), 0, -1, 0, sizeof(void*), 0};
}

struct ThrowRecords {
    CatchableType exceptionPointer = MakePointerCatchable(g_exceptionPointerType);
    CatchableType voidPointer = MakePointerCatchable(g_voidPointerType);
    CatchableTypeArray array = {2, {ImageOffset(&exceptionPointer), ImageOffset(&voidPointer)}};
    ThrowInfo info = {0, 0, 0, ImageOffset(&array)};
};

// Offsets can only be computed at run time, once; the records live in the image for good.
const ThrowInfo& ExceptionPointerThrowInfo() {
    static const ThrowRecords records;
    return records.info;
}

}  // namespace

void RaiseToHost(CQndException* exception) {
    // The runtime passes the address of the thrown object: here, of the pointer.
    static thread_local CQndException* thrown;
    thrown = exception;
    const ULONG_PTR arguments[kMsvcParameterCount] = {
        kMsvcMagic, reinterpret_cast<ULONG_PTR>(&thrown),
        reinterpret_cast<ULONG_PTR>(&ExceptionPointerThrowInfo()),
        reinterpret_cast<ULONG_PTR>(&__ImageBase)};
    RaiseException(kMsvcExceptionCode, EXCEPTION_NONCONTINUABLE, kMsvcParameterCount, arguments);
    __builtin_unreachable();
}
