// Out of memory inside LinkSet.dll, as an MSVC-built host meets it: the failure arrives as the
// host's own std::bad_alloc, however the host catches it, and the host unloads the library and
// goes on. The library is loaded at run time so that it can be unloaded.
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

int g_allocations = 0, g_failFrom = 0;
void* g_real = nullptr;  // the allocator the failing one stands in for
bool Fails() { return ++g_allocations >= g_failFrom; }
void* FailingMalloc(size_t size) { return Fails() ? nullptr : reinterpret_cast<void* (*)(size_t)>(g_real)(size); }
void* FailingRealloc(void* block, size_t size) { return Fails() ? nullptr : reinterpret_cast<void* (*)(void*, size_t)>(g_real)(block, size); }
void* FailingCalloc(size_t count, size_t size) { return Fails() ? nullptr : reinterpret_cast<void* (*)(size_t, size_t)>(g_real)(count, size); }
void Unload(void* library) { FreeLibrary(library); }

struct Anything { const char* what() const { return ""; } };  // stands for `catch (...)`: never thrown
template <class Caught> constexpr bool kCatchesAll = false;
template <> constexpr bool kCatchesAll<Anything> = true;

// Loads LinkSet.dll, creates a manager with `function` failing from call `failFrom` on, and
// unloads the library again: 1 for a manager, 0 for null, 2 for the failure caught as `Caught&`
// with the text "bad allocation" (by `catch (...)` for Anything), -1 for anything else.
template <class Caught = std::bad_alloc>
int Attempt(const char* function, void* failing, int failFrom) {
    int outcome = -1;
    {
        const Owned<void, Unload> library{LoadLibraryA("LinkSet.dll")};
        const auto create = reinterpret_cast<ILinkSetManager* (*)()>(GetProcAddress(library.p, "?LsCreateLinkSetManager@@YAPEAVILinkSetManager@@XZ"));
        const auto destroy = reinterpret_cast<void (*)(ILinkSetManager*)>(GetProcAddress(library.p, "?LsDeleteLinkSetManager@@YAXPEAVILinkSetManager@@@Z"));
        g_allocations = 0;
        g_failFrom = failFrom;
        if (!create || !destroy || !(g_real = SwapImport(library.p, "msvcrt.dll", function, failing))) return -1;
        try {
            ILinkSetManager* manager = create();
            SwapImport(library.p, "msvcrt.dll", function, g_real);
            destroy(manager);
            outcome = manager != nullptr ? 1 : 0;
        } catch (Caught& e) {
            outcome = strcmp(e.what(), "bad allocation") == 0 ? 2 : -1;
        } catch (...) {
            outcome = kCatchesAll<Caught> ? 2 : -1;
        }
        SwapImport(library.p, "msvcrt.dll", function, g_real);
    }
    return GetModuleHandleA("LinkSet.dll") == nullptr ? outcome : -1;
}

}  // namespace

extern "C" void HostEntry() {
    void* const realloc = reinterpret_cast<void*>(&FailingRealloc);
    Check(Attempt("realloc", realloc, 1) == 2, "realloc failing: catch (std::bad_alloc&), then the DLL unloads");
    Check(Attempt<std::exception>("realloc", realloc, 1) == 2, "catch (std::exception&) takes it too");
    Check(Attempt<Anything>("realloc", realloc, 1) == 2, "and catch (...)");
    // malloc and calloc failing from each of their first calls on: a null where the allocator's
    // null is the answer (the manager object itself), a manager without what could not be made,
    // or the failure caught by type; never anything else, and never the end of the host.
    const struct { const char* function; void* failing; const char* what; } sweeps[] = {
        {"malloc", reinterpret_cast<void*>(&FailingMalloc), "malloc failing from each of its first eight calls on"},
        {"calloc", reinterpret_cast<void*>(&FailingCalloc), "calloc failing from each of its first eight calls on"}};
    bool caughtByType = false;
    for (const auto& sweep : sweeps) {
        bool sound = true;
        for (int failFrom = 1; failFrom <= 8; ++failFrom) {
            const int outcome = Attempt(sweep.function, sweep.failing, failFrom);
            sound = sound && outcome >= 0;
            caughtByType = caughtByType || outcome == 2;
        }
        Check(sound, sweep.what);
    }
    Check(caughtByType, "among them, catch (std::bad_alloc&) takes a failing malloc");
    printf("%d checks failed\n", g_failedChecks);
    exit(g_failedChecks);
}
