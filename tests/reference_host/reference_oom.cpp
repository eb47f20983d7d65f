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
struct Allocator {
    const char* name;
    void* failing;
    void** real;
};
const Allocator kAllocators[] = {{"malloc", reinterpret_cast<void*>(&FailingMalloc), reinterpret_cast<void**>(&g_realMalloc)},
                                 {"realloc", reinterpret_cast<void*>(&FailingRealloc), reinterpret_cast<void**>(&g_realRealloc)},
                                 {"calloc", reinterpret_cast<void*>(&FailingCalloc), reinterpret_cast<void**>(&g_realCalloc)}};

enum class Catch { ByType, AsStdException, Anything };

// Creates a manager with `function` failing from call `failFrom` on; answers 1 for a manager,
// 0 for null, 2 for the failure caught as `how` with the text "bad allocation".
int CreateWith(void* library, const char* function, int failFrom, Catch how) {
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
    const auto attempt = [&] {
        ILinkSetManager* manager = create();
        SwapSlot(slot, real);
        destroy(manager);
        return manager != nullptr ? 1 : 0;
    };
    const auto bad = [](const char* what) { return strcmp(what, "bad allocation") == 0 ? 2 : -1; };
    int outcome = -1;
    switch (how) {
        case Catch::ByType:
            try {
                outcome = attempt();
            } catch (std::bad_alloc& e) {
                outcome = bad(e.what());
            }
            break;
        case Catch::AsStdException:
            try {
                outcome = attempt();
            } catch (std::exception& e) {
                outcome = bad(e.what());
            }
            break;
        case Catch::Anything:
            try {
                outcome = attempt();
            } catch (...) {
                outcome = 2;
            }
            break;
    }
    SwapSlot(slot, real);
    return outcome;
}

// Loads LinkSet.dll, creates a manager under the failure, unloads the library again.
int Attempt(const char* function, int failFrom, Catch how) {
    void* library = LoadLibraryA("LinkSet.dll");
    const int outcome = CreateWith(library, function, failFrom, how);
    FreeLibrary(library);
    return GetModuleHandleA("LinkSet.dll") == nullptr ? outcome : -1;
}

}  // namespace

extern "C" void HostEntry() {
    Check(Attempt("realloc", 1, Catch::ByType) == 2, "realloc failing: catch (std::bad_alloc&), then the DLL unloads");
    Check(Attempt("realloc", 1, Catch::AsStdException) == 2, "catch (std::exception&) takes it too");
    Check(Attempt("realloc", 1, Catch::Anything) == 2, "and catch (...)");
    // malloc and calloc failing from each of their first calls on: a null where the allocator's
    // null is the answer (the manager object itself), a manager without what could not be made,
    // or the failure caught by type; never anything else, and never the end of the host.
    const char* const sweep[][2] = {{"malloc", "malloc failing from each of its first eight calls on"},
                                     {"calloc", "calloc failing from each of its first eight calls on"}};
    bool caughtByType = false;
    for (const auto& [function, what] : sweep) {
        bool sound = true;
        for (int failFrom = 1; failFrom <= 8; ++failFrom) {
            const int outcome = Attempt(function, failFrom, Catch::ByType);
            sound = sound && outcome >= 0;
            caughtByType = caughtByType || outcome == 2;
        }
        Check(sound, what);
    }
    Check(caughtByType, "among them, catch (std::bad_alloc&) takes a failing malloc");
    printf("%d checks failed\n", g_failedChecks);
    exit(g_failedChecks);
}
