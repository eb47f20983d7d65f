#include "boundary/host_exception.h"

#include <windows.h>

#include <cstdint>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// The exception code and parameters Microsoft's runtime uses for C++ throws.
constexpr DWORD kMsvcExceptionCode = 0xE06D7363;  // 'msc' | 0xE0000000
constexpr ULONG_PTR kMsvcMagic = 0x19930520;
constexpr DWORD kMsvcParameterCount = 4;
constexpr uint32_t kSimpleType = 1;  // CatchableType properties: copied byte for byte

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

int32_t ImageOffset(const void* p) {
    return static_cast<int32_t>(reinterpret_cast<const char*>(p) - reinterpret_cast<const char*>(&__ImageBase));
}

// The records for a thrown object that can be caught as either of two types. Both objects the
// library throws are copied byte for byte and need no destruction.
struct ThrowRecords {
    ThrowRecords(const TypeDescriptor& first, const TypeDescriptor& second, uint32_t size)
        : firstType{kSimpleType, ImageOffset(&first), 0, -1, 0, size, 0},
          secondType{kSimpleType, ImageOffset(&second), 0, -1, 0, size, 0},
          array{2, {ImageOffset(&firstType), ImageOffset(&secondType)}},
          info{0, 0, 0, ImageOffset(&array)} {}
    CatchableType firstType;
    CatchableType secondType;
    CatchableTypeArray array;
    ThrowInfo info;
};

[[noreturn]] void Raise(const void* object, const ThrowInfo& info) {
    const ULONG_PTR arguments[kMsvcParameterCount] = {kMsvcMagic, reinterpret_cast<ULONG_PTR>(object),
                                                      reinterpret_cast<ULONG_PTR>(&info),
                                                      reinterpret_cast<ULONG_PTR>(&__ImageBase)};
    RaiseException(kMsvcExceptionCode, EXCEPTION_NONCONTINUABLE, kMsvcParameterCount, arguments);
    __builtin_unreachable();
}

// A CQndException* can be caught as itself or as void*.
TypeDescriptor g_exceptionPointerType = {nullptr, nullptr, ".PEAVCQndException@@"};
TypeDescriptor g_voidPointerType = {nullptr, nullptr, ".PEAX"};

// std::bad_alloc as Microsoft's runtime lays it out: its table (the deleting destructor, then
// what) and the exception's data (the text, and whether to free it). The library throws one
// constant object: under an allocation failure there is nothing to allocate a copy with, and
// every copy says the same.
struct MsvcBadAlloc {
    const void* const* vftable;
    const char* what;
    bool doFree;
};
constexpr char kBadAllocation[] = "bad allocation";

MsvcBadAlloc* DestroyBadAlloc(MsvcBadAlloc* self, unsigned int) { return self; }
const char* BadAllocWhat(const MsvcBadAlloc* self) { return self->what; }

const void* const g_badAllocTable[] = {reinterpret_cast<const void*>(&DestroyBadAlloc),
                                       reinterpret_cast<const void*>(&BadAllocWhat)};
const MsvcBadAlloc g_badAlloc = {g_badAllocTable, kBadAllocation, false};
TypeDescriptor g_badAllocType = {nullptr, nullptr, ".?AVbad_alloc@std@@"};
TypeDescriptor g_stdExceptionType = {nullptr, nullptr, ".?AVexception@std@@"};

// The records' offsets are computed when the library is loaded, with its other static objects:
// no lock is needed to set them up on first use, and none is left behind when it is unloaded.
const ThrowRecords g_exceptionPointerRecords(g_exceptionPointerType, g_voidPointerType, sizeof(CQndException*));
const ThrowRecords g_badAllocRecords(g_badAllocType, g_stdExceptionType, sizeof(MsvcBadAlloc));

}  // namespace

void RaiseToHost(CQndException* exception) {
    // The runtime is given the address of the thrown object, here the pointer itself.
    CQndException* const thrown = exception;
    Raise(&thrown, g_exceptionPointerRecords.info);
}

void RaiseAllocationFailureToHost() { Raise(&g_badAlloc, g_badAllocRecords.info); }
