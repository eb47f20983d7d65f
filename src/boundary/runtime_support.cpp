// What the C++ runtime built into the library needs so that it lives well inside a host's
// process, which may run out of memory, and may load and unload the library again and again.
//
// Thread-local variables, the runtime's exception bookkeeping among them. The compiler reaches
// each thread's copy of one through __emutls_get_address. The runtime's own version takes a
// thread's copy from malloc the first time the thread needs it, and aborts the process when
// malloc has nothing: under an allocation failure, the first exception a host's thread raised
// inside the library would end the host. This version takes copies from the process heap and,
// when even that has nothing, from a reserve kept for the purpose, so that an allocation failure
// can always be thrown and caught.
//
// The runtime's emergency pool for exceptions, which it allocates when the library is loaded and
// never frees on its own, is given back when the library is unloaded.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// How the mingw-w64 runtime runs destructors of thread-local slots when a thread ends.
extern "C" int ___w64_mingwthr_add_key_dtor(DWORD key, void (*destructor)(void*));
extern "C" int ___w64_mingwthr_remove_key_dtor(DWORD key);
// Frees the runtime's emergency exception pool.
namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace {

// The compiler's record of one thread-local variable; `slot` is the TLS index plus one, 0 until
// the variable is first used.
struct ThreadLocalVariable {
    std::size_t size;
    std::size_t align;
    uintptr_t slot;
    const void* initial;  // null: each copy starts zeroed
};

constexpr std::size_t kBlockAlignment = 16;  // what the process heap gives on x64
constexpr std::size_t kReserveBytes = 4096;
alignas(kBlockAlignment) unsigned char g_reserve[kReserveBytes];
std::atomic<std::size_t> g_reserveUsed{0};

bool InReserve(const void* block) {
    const auto* byte = static_cast<const unsigned char*>(block);
    return byte >= g_reserve && byte < g_reserve + kReserveBytes;
}

void* TakeBlock(std::size_t size) {
    if (void* block = HeapAlloc(GetProcessHeap(), 0, size)) return block;
    const std::size_t rounded = (size + kBlockAlignment - 1) & ~(kBlockAlignment - 1);
    const std::size_t at = g_reserveUsed.fetch_add(rounded);
    return at + rounded <= kReserveBytes ? g_reserve + at : nullptr;
}

// Run for a thread's copy when the thread ends; copies from the reserve stay where they are.
void GiveBack(void* block) {
    if (block != nullptr && !InReserve(block)) HeapFree(GetProcessHeap(), 0, block);
}

// The slots this library took, given back when it is unloaded.
constexpr int kMaxVariables = 16;
std::atomic<DWORD> g_slots[kMaxVariables];
std::atomic<int> g_slotCount{0};

struct ReleaseAtUnload {
    ~ReleaseAtUnload() {
        for (int i = 0; i < g_slotCount && i < kMaxVariables; ++i) {
            ___w64_mingwthr_remove_key_dtor(g_slots[i]);
            TlsFree(g_slots[i]);
        }
        __gnu_cxx::__freeres();
    }
} g_releaseAtUnload;

DWORD SlotOf(ThreadLocalVariable& variable) {
    const std::atomic_ref<uintptr_t> slot(variable.slot);
    if (const uintptr_t known = slot.load()) return static_cast<DWORD>(known - 1);
    const DWORD fresh = TlsAlloc();
    if (fresh == TLS_OUT_OF_INDEXES) return fresh;
    uintptr_t expected = 0;
    if (!slot.compare_exchange_strong(expected, uintptr_t{fresh} + 1)) {
        TlsFree(fresh);  // another thread was first
        return static_cast<DWORD>(expected - 1);
    }
    ___w64_mingwthr_add_key_dtor(fresh, &GiveBack);
    const int index = g_slotCount++;
    if (index < kMaxVariables) g_slots[index] = fresh;
    return fresh;
}

}  // namespace

extern "C" void* __emutls_get_address(ThreadLocalVariable* variable) {
    const DWORD slot = SlotOf(*variable);
    if (slot == TLS_OUT_OF_INDEXES) std::abort();  // no thread-local storage left in the process at all
    if (void* copy = TlsGetValue(slot)) return copy;
    void* copy = TakeBlock(variable->size);
    if (copy == nullptr) std::abort();  // neither heap nor reserve: nothing left to run on
    if (variable->initial != nullptr)
        std::memcpy(copy, variable->initial, variable->size);
    else
        std::memset(copy, 0, variable->size);
    TlsSetValue(slot, copy);
    return copy;
}
