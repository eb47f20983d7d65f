// Failures inside LinkSet.dll as an MSVC host meets them: out of memory as its own std::bad_alloc, a
// thread that cannot start as CQndException*. Either way it unloads the library and lives on.
#include "host.h"

// What the host's standard library declares; only the names (classes, not structs) and the table matter.
namespace std {
class exception { public: virtual ~exception(); virtual const char* what() const; };
class bad_alloc : public exception {};
}  // namespace std

namespace {

struct Fault { const char* dll; const char* function; void* fake; };  // an import of LinkSet.dll, and what answers instead
void* g_real[4];  // what the faults stand in for, in their order
template <int I, class R, class... A> R Real(A... a) { return reinterpret_cast<R (*)(A...)>(g_real[I])(a...); }
HostLog g_log;

int g_allocations = 0, g_failFrom = 0;
template <class... A> void* Failing(A... a) { return ++g_allocations >= g_failFrom ? nullptr : Real<0, void*>(a...); }

// Creates and deletes a manager on LinkSet.dll loaded with the host's log and `faults`: 1 for a manager,
// 0 for null, what `judge` makes of `catch (Caught)`, -1 for anything else or a library left loaded.
template <class Caught, int N, class Judge>
int Create(const Fault (&faults)[N], Judge judge) {
    int outcome = -1;
    {
        const Owned<void, FreeLibrary> library{LoadLibraryA("LinkSet.dll")};
        const auto entry = [&](const char* name) { return GetProcAddress(library.p, name); };
        const auto log = reinterpret_cast<void (*)(IDebugLog*)>(entry("?LsSetDebugOutput@@YAXPEAVIDebugLog@@@Z"));
        log(&g_log);
        for (int i = 0; i < N; ++i)
            g_real[i] = SwapImport(library.p, faults[i].dll, faults[i].function, faults[i].fake);
        try {
            const auto create = entry("?LsCreateLinkSetManager@@YAPEAVILinkSetManager@@XZ");
            ILinkSetManager* manager = reinterpret_cast<ILinkSetManager* (*)()>(create)();
            g_failFrom = 1 << 30;
            const auto destroy = entry("?LsDeleteLinkSetManager@@YAXPEAVILinkSetManager@@@Z");
            reinterpret_cast<void (*)(ILinkSetManager*)>(destroy)(manager);
            outcome = manager != nullptr ? 1 : 0;
        } catch (Caught caught) {
            outcome = judge(caught);
        } catch (...) {  // anything else: -1
        }
        for (int i = 0; i < N; ++i) SwapImport(library.p, faults[i].dll, faults[i].function, g_real[i]);
        log(nullptr);
    }
    return GetModuleHandleA("LinkSet.dll") == nullptr ? outcome : -1;
}

// `function` of the C runtime failing from call `failFrom` on: 2 for "bad allocation" caught as `Caught&`.
template <class Caught = std::bad_alloc>
int Attempt(const char* function, void* failing, int failFrom) {
    const Fault faults[] = {{"msvcrt.dll", function, failing}};
    g_allocations = 0;
    g_failFrom = failFrom;
    return Create<Caught&>(faults, [](Caught& e) { return strcmp(e.what(), "bad allocation") == 0 ? 2 : -1; });
}

// The start's 30 s wait shortened; the thread kept between ticks while the start gives up on it.
constexpr unsigned long kLibraryWaitMs = 30000, kShortWaitMs = 100, kTickWaitMs = 500, kSlowTickMs = 3000;
bool g_waitFails = false;
unsigned long Shortened(unsigned long ms) { return ms == kLibraryWaitMs ? kShortWaitMs : ms; }
void* __stdcall FailingCreateEvent(void*, int, int, const char*) { return SetLastError(5), nullptr; }
int __stdcall FakeSetEvent(void* event) { return g_waitFails ? Real<0, int>(event) : (SetLastError(6), 0); }
unsigned long __stdcall FakeWaitMultiple(unsigned long count, void* const* handles, int all, unsigned long ms, int alertable) {
    const unsigned long waited = Real<1, unsigned long>(count, handles, all, g_waitFails ? ms : Shortened(ms), alertable);
    return g_waitFails ? (SetLastError(6), 0xFFFFFFFFul) : waited;  // failing once the thread has reported
}
unsigned long __stdcall FakeWaitSingle(void* handle, unsigned long ms) { return Real<2, unsigned long>(handle, Shortened(ms)); }
unsigned long __stdcall SlowTick(void* handle, unsigned long ms, int alertable) {
    return Real<3, unsigned long>(handle, ms == kTickWaitMs ? kSlowTickMs : ms, alertable);
}

// A manager that cannot start with `faults`: `catch (Caught)` takes all the exception carries, the
// log has `line` alone, the library unloads, and no thread left behind runs unloaded code.
template <class Caught, int N>
bool StartFails(const Fault (&faults)[N], const char* line) {
    g_log.count = 0;
    const int outcome = Create<Caught>(faults, [](Caught caught) {
        CQndException* e = static_cast<CQndException*>(caught);
        const bool whole = strcmp(e->Reason.c_str(), "<LinkSetMgr>:: failed to start maintenance thread.") == 0 &&
                           e->ReasonCode == 0 && strcmp(e->TypeName.c_str(), "QndException") == 0 &&
                           strcmp(e->SourceFile.c_str(), ".\\LinkSetMgr") == 0 && e->SourceLine == 184;
        e->Delete();  // slot 1
        return whole ? 2 : -1;
    });
    Sleep(4000);
    return outcome == 2 && g_log.count == 1 && g_log.Saw(line);
}

}  // namespace

extern "C" void HostEntry() {
    void* const realloc = reinterpret_cast<void*>(&Failing<void*, size_t>);
    Check(Attempt("realloc", realloc, 1) == 2, "realloc failing: catch (std::bad_alloc&), then the DLL unloads");
    Check(Attempt<std::exception>("realloc", realloc, 1) == 2, "catch (std::exception&) takes it too");
    // A null manager (the object itself), one without what could not be made, or the failure caught.
    bool sound = true, caughtByType = false;
    for (int failFrom = 1; failFrom <= 8; ++failFrom) {
        const int outcomes[] = {Attempt("malloc", reinterpret_cast<void*>(&Failing<size_t>), failFrom),
                                Attempt("calloc", reinterpret_cast<void*>(&Failing<size_t, size_t>), failFrom)};
        sound = sound && outcomes[0] >= 0 && outcomes[1] >= 0;
        caughtByType = caughtByType || outcomes[0] == 2 || outcomes[1] == 2;
    }
    Check(sound, "malloc and calloc failing from each of their first eight calls on");
    Check(caughtByType, "among them, catch (std::bad_alloc&) takes a failing allocation");

    const Fault noEvents[] = {{"KERNEL32.dll", "CreateEventA", reinterpret_cast<void*>(&FailingCreateEvent)}};
    Check(StartFails<void*>(noEvents, "GenericThread:StartThread(ERROR) failed to create running event.\n"),
          "CreateEventA failing: catch (void*) takes the start failure with its reason, code, type name and source");
    const Fault waits[] = {{"KERNEL32.dll", "SetEvent", reinterpret_cast<void*>(&FakeSetEvent)},
                           {"KERNEL32.dll", "WaitForMultipleObjectsEx", reinterpret_cast<void*>(&FakeWaitMultiple)},
                           {"KERNEL32.dll", "WaitForSingleObject", reinterpret_cast<void*>(&FakeWaitSingle)},
                           {"KERNEL32.dll", "WaitForSingleObjectEx", reinterpret_cast<void*>(&SlowTick)}};
    Check(StartFails<CQndException*>(waits, "GenericThread:StartThread(ERROR) waiting for thread time out.\n"),
          "SetEvent failing (the thread cannot report, but goes on ticking): catch (CQndException*), then the DLL unloads");
    g_waitFails = true;
    Check(StartFails<CQndException*>(waits, "GenericThread:StartThread(ERROR) waiting for thread returned unknown error.\n"),
          "WaitForMultipleObjectsEx failing (the start cannot wait while its thread runs): likewise");
    Finish();
}
