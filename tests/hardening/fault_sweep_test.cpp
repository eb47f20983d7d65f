// Every system call LinkSet.dll makes, failed the way it really fails: each function it imports
// (read from the DLL itself) and each entry point it resolves at run time (seen through its
// GetProcAddress), on every call and from the middle of a run on, in a child process of its own
// while a host takes the library through its whole life. No crash, no hang, no handle or heap
// left behind, and where the behaviour names the outcome, that outcome. The VPN clients' own
// libraries are there to be failed too: NetScreen's event library in the system directory, with
// the logoff event that makes the first update bind it, and SafeNet's rule library beside the
// program of a running service.
#include <gtest/gtest.h>
#include <linkset/linkset.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
#include "client_library_double.h"
#include "import_patch.h"
#include "resource_counts.h"
#include "system/handles.h"
#include "test_service.h"

// The one failing function of a child: calls before `g_faultFrom` go to the original, the
// others answer `g_faultValue` and leave `g_faultError`. Written in assembly so that it passes
// any call on untouched, whatever the function's arguments.
extern "C" {
void* g_faultOriginal = nullptr;
uintptr_t g_faultValue = 0;
DWORD g_faultError = 0;
long long g_faultCalls = 0, g_faultFrom = 1;
void FaultStub();
}
asm(R"(
    .text
    .globl FaultStub
FaultStub:
    movq $1, %rax
    lock xaddq %rax, g_faultCalls(%rip)
    incq %rax
    cmpq g_faultFrom(%rip), %rax
    jl 1f
    subq $40, %rsp
    movl g_faultError(%rip), %ecx
    call *__imp_SetLastError(%rip)
    addq $40, %rsp
    movq g_faultValue(%rip), %rax
    ret
1:  jmp *g_faultOriginal(%rip)
)");

namespace {

constexpr char kLibrary[] = "LinkSet.dll";
const std::string kDoubles = WinePath(DOUBLES_DIR);
constexpr DWORD kChildTimeoutMs = 30000;
constexpr uintptr_t kAllOnes = ~uintptr_t{0};
constexpr long long kTerminatedThreadBytes = 2048;

// How a function fails: its failure answer and last error; `never` for those that cannot fail
// (or fail only when handed what is not theirs: releasing, bookkeeping, the runtime's own).
struct Failure { bool never; uintptr_t value; DWORD error; };

const std::set<std::string> kNeverFail = {
    "CloseHandle", "FreeLibrary", "HeapFree", "RegCloseKey", "CloseServiceHandle", "CoTaskMemFree", "TlsFree",
    "TlsGetValue", "DeleteCriticalSection", "EnterCriticalSection", "LeaveCriticalSection",
    "InitializeCriticalSection", "GetCurrentProcessId", "GetCurrentThreadId", "GetLastError", "SetLastError",
    "GetTickCount", "GetSystemInfo", "Sleep", "DebugBreak", "RaiseException", "RtlCaptureContext",
    "RtlLookupFunctionEntry", "RtlUnwindEx", "RtlVirtualUnwind", "GetProcessHeap", "IsDBCSLeadByteEx", "CharNextA",
    "WlanFreeMemory", "VirtualQuery", "VirtualProtect"};
// What the C runtime offers that can fail at all; its string and number functions cannot.
const std::set<std::string> kRuntimeFallible = {"malloc", "calloc", "realloc", "_beginthreadex", "mbstowcs_s"};

Failure FailureOf(const std::string& dll, const std::string& name) {
    const auto startsWith = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    if (kNeverFail.count(name) || (_stricmp(dll.c_str(), "msvcrt.dll") == 0 && !kRuntimeFallible.count(name)))
        return {true, 0, 0};
    if (name == "mbstowcs_s") return {false, EINVAL, 0};
    if (startsWith("Reg")) return {false, ERROR_ACCESS_DENIED, 0};
    if (startsWith("Ras")) return {false, ERROR_INVALID_HANDLE, 0};
    if (startsWith("Wlan")) return {false, ERROR_SERVICE_NOT_ACTIVE, 0};
    if (startsWith("ConAPI_")) return {false, 1, 0};
    if (name == "GetAdaptersInfo" || name == "GetIfTable" || name == "GetPerAdapterInfo") return {false, ERROR_NOT_SUPPORTED, 0};
    if (startsWith("Wait") || name == "TlsAlloc" || name == "CreateToolhelp32Snapshot" || name == "inet_addr")
        return {false, kAllOnes, ERROR_INVALID_HANDLE};
    if (name == "StringFromCLSID") return {false, static_cast<uintptr_t>(E_OUTOFMEMORY), 0};
    return {false, 0, ERROR_NOT_ENOUGH_MEMORY};  // FALSE, a null handle or pointer, 0 characters
}

// The functions LinkSet.dll imports, by DLL, read from its import table.
std::vector<std::pair<std::string, std::string>> ImportsOf(HMODULE module) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::pair<std::string, std::string>> imports;
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); dll->Name; ++dll)
        for (auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk); name->u1.AddressOfData; ++name)
            if (!IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
                imports.emplace_back(reinterpret_cast<char*>(base + dll->Name),
                                     reinterpret_cast<char*>(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name));
    return imports;
}

// The library's waits cut short: the maintenance thread's 500 ms tick, so that a child sees many
// ticks and a few adapter passes in a moment, and the 30 s a start or a stop waits at most. Before
// the host deletes its manager the ticks go back to their length: as on a real machine, the
// thread is then waiting between ticks when a delete that cannot stop it has to terminate it.
std::atomic<bool> g_quickTicks{true};
DWORD Quick(DWORD milliseconds) {
    if (milliseconds == 500) return g_quickTicks ? 2 : 500;
    return milliseconds >= 1000 && milliseconds != INFINITE ? 300 : milliseconds;
}
DWORD(WINAPI* g_realTickWait)(HANDLE, DWORD, BOOL) = nullptr;
DWORD WINAPI QuickTickWait(HANDLE handle, DWORD ms, BOOL alertable) { return g_realTickWait(handle, Quick(ms), alertable); }
DWORD(WINAPI* g_realStopWait)(HANDLE, DWORD) = nullptr;
DWORD WINAPI QuickStopWait(HANDLE handle, DWORD ms) { return g_realStopWait(handle, Quick(ms)); }
DWORD(WINAPI* g_realStartWait)(DWORD, const HANDLE*, BOOL, DWORD, BOOL) = nullptr;
DWORD WINAPI QuickStartWait(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, BOOL alertable) {
    return g_realStartWait(count, handles, all, Quick(ms), alertable);
}

// Entry points the library resolves at run time: recorded, or failed when it is the one.
const char* g_failingEntryPoint = "";  // the child's role keeps the text
std::map<std::string, int> g_resolved;
decltype(&GetProcAddress) g_realGetProcAddress = nullptr;
FARPROC WINAPI WatchedGetProcAddress(HMODULE module, LPCSTR name) {
    FARPROC found = g_realGetProcAddress(module, name);
    if (reinterpret_cast<uintptr_t>(name) <= 0xFFFF) return found;  // by ordinal
    ++g_resolved[name];
    if (found == nullptr || std::strcmp(g_failingEntryPoint, name) != 0) return found;
    g_faultOriginal = reinterpret_cast<void*>(found);
    return reinterpret_cast<FARPROC>(&FaultStub);
}

// Notices, without allocating, when the library gave up on its thread: a stop that could not end
// it terminates it, a start that heard nothing from it waits out its time (and terminates it if it
// never began). A terminated thread takes the C runtime's block for it along.
class TerminationLog final : public IDebugLog {
public:
    bool IsEnabled() override { return true; }
    void Write(const outputstr* line) override {
        if (std::strcmp(line->c_str(), "This thread is active! It will be terminated!\n") == 0) terminated = true;
        if (std::strcmp(line->c_str(), "GenericThread:StartThread(ERROR) waiting for thread time out.\n") == 0)
            timedOut = true;
    }
    std::atomic<bool> terminated{false}, timedOut{false};
};
TerminationLog g_terminationLog;

// NetScreen's logoff event. Set halfway through a host's life: until then SafeNet's later client
// is asked, through its rule library, and from then on NetScreen's event library is bound.
UniqueHandle g_logoff;

// One host's whole life with the library: create, detection open, cycles, every slot, delete.
std::string RunHost(HMODULE dll) {
    ResetEvent(g_logoff.get());
    const auto create = ResolveEntryPoint<ILinkSetManager* (*)()>(dll, "?LsCreateLinkSetManager@@YAPEAVILinkSetManager@@XZ");
    const auto destroy = ResolveEntryPoint<void (*)(ILinkSetManager*)>(dll, "?LsDeleteLinkSetManager@@YAXPEAVILinkSetManager@@@Z");
    linkset::detail::raised raised;
    ILinkSetManager* manager = linkset::detail::guarded(create, raised);
    if (raised.failure != nullptr) raised.failure->Delete();
    if (raised.failure != nullptr || raised.out_of_memory || manager == nullptr)
        return raised.failure ? "start failure" : raised.out_of_memory ? "out of memory" : "no manager";

    std::string unexpected;
    bool outOfMemory = false;
    const auto answer = [&](const char* slot, std::initializer_list<int32_t> allowed, auto call) {
        linkset::detail::raised slotRaised;
        const int32_t result = linkset::detail::guarded(call, slotRaised);
        outOfMemory = outOfMemory || slotRaised.out_of_memory;
        if (!slotRaised.out_of_memory && std::find(allowed.begin(), allowed.end(), result) == allowed.end())
            unexpected += std::string(" ") + slot + "=" + std::to_string(result);
    };
    answer("OpenVPNDetector", {LS_OK, LS_ERROR_FAILED}, [&] { return manager->OpenVPNDetector(1); });
    // A hundred quick ticks, a few adapter passes and detector updates.
    Sleep(125);
    SetEvent(g_logoff.get());
    Sleep(125);
    static PORT_INFO ports[8];
    static uint32_t addresses[32 * PORT_INFO_MAX_ADDRESSES];
    uint32_t copied = 0, total = 0, count = 0, needed = 0, status = 0;
    for (int32_t filter : {0, 1, 2, 7})
        answer("GetPorts", {LS_OK}, [&] { return manager->GetPorts(ports, sizeof ports, &copied, &total, filter); });
    for (auto query : {&ILinkSetManager::GetGateways, &ILinkSetManager::GetDnsServers, &ILinkSetManager::GetWinsServers})
        answer("address query", {LS_OK, LS_ERROR_BUFFER_TOO_SMALL},
               [&] { return (manager->*query)(addresses, sizeof addresses, &count); });
    answer("GetVPNDetectionResult", {LS_OK, LS_ERROR_FAILED},
           [&] { return manager->GetVPNDetectionResult(nullptr, 0, &count, &needed); });
    for (int type = PLUGIN_CISCO3000; type <= PLUGIN_ALL; ++type)
        answer("CheckVPNStatus", {LS_OK, LS_ERROR_NO_PLUGIN, LS_ERROR_FAILED},
               [&] { return manager->CheckVPNStatus(static_cast<EPLUGINTYPE>(type), &status); });
    answer("IsVPNDetectorOpen", {0, 1}, [&] { return manager->IsVPNDetectorOpen(); });
    answer("OpenVPNDetector(0)", {LS_OK}, [&] { return manager->OpenVPNDetector(0); });
    g_quickTicks = false;
    Sleep(50);  // the tick in progress ends; the next waits its 500 ms
    destroy(manager);
    g_quickTicks = true;
    return !unexpected.empty() ? "unexpected answers:" + unexpected : outOfMemory ? "ran, out of memory in a slot" : "ran";
}

// The function a child fails, from its role "<dll>!<name>@<n>".
struct Fault { std::string dll, name; long long from = 0; };

Fault FaultOf(const std::string& role) {
    const size_t bang = role.find('!'), at = role.find('@');
    if (bang == std::string::npos || at == std::string::npos) return {};
    return {role.substr(0, bang), role.substr(bang + 1, at - bang - 1), std::stoll(role.substr(at + 1))};
}

// One load of the library with a host's life in it, `fault` failing (none when its name is
// empty); unloads the library again. The outcome goes to a buffer of the caller's, so that the
// run allocates nothing the caller keeps.
void RunLoaded(const Fault& fault, std::string& outcome) {
    const UniqueModule dll(LoadLibraryA(kLibrary));
    if (!dll) return void(outcome = "not loaded");
    const ImportPatch quickTicks(dll.get(), "KERNEL32.dll", "WaitForSingleObjectEx", &QuickTickWait, &g_realTickWait);
    const ImportPatch quickStop(dll.get(), "KERNEL32.dll", "WaitForSingleObject", &QuickStopWait, &g_realStopWait);
    const ImportPatch quickStart(dll.get(), "KERNEL32.dll", "WaitForMultipleObjectsEx", &QuickStartWait, &g_realStartWait);
    const ImportPatch watch(dll.get(), "KERNEL32.dll", "GetProcAddress", &WatchedGetProcAddress, &g_realGetProcAddress);
    std::unique_ptr<ImportPatch> patch;
    if (!fault.name.empty()) {
        const Failure failure = FailureOf(fault.dll, fault.name);
        g_faultValue = failure.value;
        g_faultError = failure.error;
        g_faultFrom = fault.from;
        if (fault.dll == "runtime") g_failingEntryPoint = fault.name.c_str();
        else patch = std::make_unique<ImportPatch>(dll.get(), fault.dll.c_str(), fault.name.c_str(), &FaultStub,
                                                   reinterpret_cast<void (**)()>(&g_faultOriginal));
    }
    const auto setDebugOutput = ResolveEntryPoint<void (*)(IDebugLog*)>(dll.get(), "?LsSetDebugOutput@@YAXPEAVIDebugLog@@@Z");
    g_terminationLog.terminated = g_terminationLog.timedOut = false;
    setDebugOutput(&g_terminationLog);
    outcome.assign(RunHost(dll.get()));  // into the buffer reserved before
    setDebugOutput(nullptr);
    if (g_terminationLog.terminated) outcome.append(", thread terminated");
    if (g_terminationLog.timedOut) outcome.append(", start timed out");
}

// The child: "record" runs the host clean and lists the entry points resolved at run time;
// "<dll>!<name>@<n>" runs it with that function failing from its n-th call on. After a clean
// run that brings in what the process keeps for good, it reports what the run leaves behind.
TEST(FaultSweepChild, RunsAHostWithOneFunctionFailing) {
    const std::string role = ChildArgument();
    if (role.empty()) GTEST_SKIP() << "runs only as a child";
    const Fault fault = FaultOf(role);
    SetEnvironmentVariableA(kNoJournals, "1");
    g_logoff.reset(CreateEventA(nullptr, TRUE, FALSE, "crypt32LogoffEvent"));
    // What the system keeps for good once a process first uses it (its connection to the service
    // manager, what a library's first load leaves) is not the library's. The clean runs may not
    // reach all of it on a busy machine, so the child uses each once itself.
    UniqueServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    for (const std::string& library : {std::string(system) + "\\cmondll.dll", kDoubles + "\\conapi_double\\GUI\\ConAPI.dll"})
        UniqueModule(LoadLibraryA(library.c_str()));
    std::string outcome;
    outcome.reserve(1024);
    RunLoaded({}, outcome);
    RunLoaded({}, outcome);
    const long handlesBefore = ProcessHandleCount();
    const unsigned long long heapBefore = HeapBytesInUse();
    RunLoaded(fault, outcome);
    const long handles = ProcessHandleCount() - handlesBefore;
    const long long heap = static_cast<long long>(HeapBytesInUse() - heapBefore);
    if (role == "record") for (const auto& [name, calls] : g_resolved) std::printf("resolved %s\n", name.c_str());
    std::printf("outcome %s\nleft %ld handles %lld heap bytes unloaded %d\n", outcome.c_str(), handles, heap,
                GetModuleHandleA(kLibrary) == nullptr);
}

std::string Field(const std::string& output, const std::string& key) {
    const size_t at = output.find("\n" + key + " ");
    if (at == std::string::npos) return "";
    const size_t start = at + key.size() + 2;
    return output.substr(start, output.find_first_of("\r\n", start) - start);
}

ChildRun RunSweepChild(const std::string& role) {
    return RunChild("FaultSweepChild.*", {.systemDouble = kDoubles + "\\cmondll_double\\cmondll.dll",
                                          .childArgument = role, .timeoutMs = kChildTimeoutMs});
}

TEST(FaultSweep, EverySystemCallFailedLeavesTheHostRunning) {
    TestService softRemote("SOFTREMOTEPM", TestService::Behaviour::Runs);
    softRemote.Start();
    softRemote.SetProgramPath(kDoubles + "\\conapi_double\\softremote.exe");
    const ChildRun record = RunSweepChild("record");
    ASSERT_TRUE(ChildPassed(record)) << record.output;
    ASSERT_EQ(Field(record.output, "outcome"), "ran") << record.output;
    auto functions = ImportsOf(UniqueModule(LoadLibraryA(kLibrary)).get());  // unloaded again at once
    for (size_t at = record.output.find("\nresolved "); at != std::string::npos; at = record.output.find("\nresolved ", at + 1))
        functions.emplace_back("runtime", record.output.substr(at + 10, record.output.find_first_of("\r\n", at + 1) - at - 10));
    int failed = 0;
    std::printf("| function | from call | outcome |\n|---|---:|---|\n");
    for (const auto& [dll, name] : functions) {
        if (FailureOf(dll, name).never) continue;
        for (int from : {1, 2}) {
            const std::string role = dll + "!" + name + "@" + std::to_string(from);
            ChildRun run;
            std::string outcome, left;
            bool sound = false;
            // Something left behind counts when a second run leaves it too: on a busy machine a
            // clean run may not have brought in all that the process keeps for good, a leak
            // of the library's own is there every time.
            for (int attempt = 0; attempt < 2 && !sound; ++attempt) {
                run = RunSweepChild(role);
                outcome = Field(run.output, "outcome"), left = Field(run.output, "left");
                long handles = 1, unloaded = 0;
                long long heap = 1;
                std::sscanf(left.c_str(), "%ld handles %lld heap bytes unloaded %ld", &handles, &heap, &unloaded);
                // A terminated thread takes the C runtime's block for it along; nothing else may go.
                const bool gaveUp = outcome.find("terminated") != std::string::npos || outcome.find("timed out") != std::string::npos;
                const bool ranWell = !run.hung && ChildPassed(run) && unloaded == 1 && outcome.rfind("unexpected", 0) != 0;
                sound = ranWell && handles <= 0 && heap <= (gaveUp ? kTerminatedThreadBytes : 0);
                if (!ranWell) break;
            }
            std::printf("| %s!%s | %d | %s%s |\n", dll.c_str(), name.c_str(), from,
                        run.hung ? "hang" : outcome.empty() ? "crash" : outcome.c_str(), sound ? "" : (" / " + left).c_str());
            failed += sound ? 0 : 1;
            EXPECT_TRUE(sound) << role << ":\n" << run.output;
        }
    }
    std::printf("%zu functions, %d runs unsound\n", functions.size(), failed);
}

}  // namespace
