// Out of memory inside LinkSet.dll, as an MSVC-built host meets it: the allocation failure
// arrives as the host's own std::bad_alloc, whichever way the host catches it, and the host
// unloads the library and goes on. The library is loaded at run time so that it can be unloaded.
#include "host.h"

// What the host's standard library declares; only the names and the table matter here.
namespace std {
class exception {
public:
    virtual ~exception();
    virtual const char* what() const;
};
class bad_alloc : public exception {};
}  // namespace std

namespace {

using Create = ILinkSetManager* (*)();
using Delete = void (*)(ILinkSetManager*);
int g_allocations = 0, g_failFrom = 0;
void* (*g_realMalloc)(size_t) = nullptr;
void* (*g_realRealloc)(void*, size_t) = nullptr;
void* (*g_realCalloc)(size_t, size_t) = nullptr;
bool Fails() { return ++g_allocations >= g_failFrom; }
void* FailingMalloc(size_t size) { return Fails() ? nullptr : g_realMalloc(size); }
void* FailingRealloc(void* block, size_t size) { return Fails() ? nullptr : g_realRealloc(block, size); }
void* FailingCalloc(size_t count, size_t size) { return Fails() ? nullptr : g_realCalloc(count, size); }
struct Allocator { const char* name; void* failing; void** real; };
const Allocator kAllocators[] = {{"malloc", reinterpret_cast<void*>(&FailingMalloc), reinterpret_cast<void**>(&g_realMalloc)},
                                 {"realloc", reinterpret_cast<void*>(&FailingRealloc), reinterpret_cast<void**>(&g_realRealloc)},
                                 {"calloc", reinterpret_cast<void*>(&FailingCalloc), reinterpret_cast<void**>(&g_realCalloc)}};

// Stands for `catch (...)`: nothing is ever thrown as this.
struct Anything { const char* what() const { return ""; } };
template <class Caught> struct CatchesAll { static const bool value = false; };
template <> struct CatchesAll<Anything> { static const bool value = true; };

// Creates a manager with `function` failing from call `failFrom` on; answers 1 for a manager,
// 0 for null, 2 for the failure caught as `Caught&` (by `catch (...)` for Anything) with the text
// "bad allocation", -1 for anything else.
template <class Caught>
int CreateWith(void* library, const char* function, int failFrom) {
    const auto create = reinterpret_cast<Create>(GetProcAddress(library, "?LsCreateLinkSetManager@@YAPEAVILinkSetManager@@XZ"));
    const auto destroy = reinterpret_cast<Delete>(GetProcAddress(library, "?LsDeleteLinkSetManager@@YAXPEAVILinkSetManager@@@Z"));
    void** slot = ImportSlot(library, "msvcrt.dll", function);
    const Allocator* allocator = nullptr;
    for (const Allocator& each : kAllocators)
        if (strcmp(each.name, function) == 0) allocator = &each;
    if (!create || !destroy || !slot || !allocator) return -1;
    void* real = SwapSlot(slot, allocator->failing);
    *allocator->real = real;
    g_allocations = 0;
    g_failFrom = failFrom;
    int outcome = -1;
    try {
        ILinkSetManager* manager = create();
        SwapSlot(slot, real);
        destroy(manager);
        outcome = manager != nullptr ? 1 : 0;
    } catch (Caught& e) {
        outcome = strcmp(e.what(), "bad allocation") == 0 ? 2 : -1;
    } catch (...) {
        outcome = CatchesAll<Caught>::value ? 2 : -1;
    }
    SwapSlot(slot, real);
    return outcome;
}

// Loads LinkSet.dll, creates a manager under the failure, unloads the library again.
template <class Caught = std::bad_alloc>
int Attempt(const char* function, int failFrom) {
    void* library = LoadLibraryA("LinkSet.dll");
    const int outcome = CreateWith<Caught>(library, function, failFrom);
    FreeLibrary(library);
    return GetModuleHandleA("LinkSet.dll") == nullptr ? outcome : -1;
}

}  // namespace

extern "C" void HostEntry() {
    Check(Attempt("realloc", 1) == 2, "realloc failing: catch (std::bad_alloc&), then the DLL unloads");
    Check(Attempt<std::exception>("realloc", 1) == 2, "catch (std::exception&) takes it too");
    Check(Attempt<Anything>("realloc", 1) == 2, "and catch (...)");
    // malloc and calloc failing from each of their first calls on: a null where the allocator's
    // null is the answer (the manager object itself), a manager without what could not be made,
    // or the failure caught by type; never anything else, and never the end of the host.
    const char* const sweep[][2] = {{"malloc", "malloc failing from each of its first eight calls on"},
                                     {"calloc", "calloc failing from each of its first eight calls on"}};
    bool caughtByType = false;
    for (const auto& [function, what] : sweep) {
        bool sound = true;
        for (int failFrom = 1; failFrom <= 8; ++failFrom) {
            const int outcome = Attempt(function, failFrom);
            sound = sound && outcome >= 0;
            caughtByType = caughtByType || outcome == 2;
        }
        Check(sound, what);
    }
    Check(caughtByType, "among them, catch (std::bad_alloc&) takes a failing malloc");
    printf("%d checks failed\n", g_failedChecks);
    exit(g_failedChecks);
}
