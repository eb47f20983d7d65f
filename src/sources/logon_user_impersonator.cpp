#include "sources/logon_user_impersonator.h"

#include <windows.h>

#include <algorithm>

#include "boundary/debug_output.h"
#include "boundary/outputstr.h"
#include "sources/entry_points.h"
#include "system/handles.h"
#include "system/system_facts.h"

namespace {

constexpr char kPsApiLibrary[] = "PsApi.dll";
constexpr DWORD kProcessIdRoom = 256;  // only the identifiers that fit are looked at
constexpr DWORD kPathRoom = MAX_PATH;
constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kTokenAccess = TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY;

enum PsApiFunction { kEnumProcesses, kEnumProcessModules, kGetModuleFileNameEx, kPsApiFunctionCount };
constexpr const char* kPsApiNames[kPsApiFunctionCount] = {"EnumProcesses", "EnumProcessModules",
                                                          "GetModuleFileNameExA"};
constexpr const char* kMissingEntryPointLines[kPsApiFunctionCount] = {
    "LogonUserImpersonator: Get EnumProcesses function failed",
    "LogonUserImpersonator: Get EnumProcessModules function failed",
    "LogonUserImpersonator: Get GetModuleFileNameEx function failed"};

using EnumProcessesFunction = BOOL(WINAPI*)(DWORD* ids, DWORD bytes, DWORD* returned);
using EnumProcessModulesFunction = BOOL(WINAPI*)(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* needed);
using GetModuleFileNameExFunction = DWORD(WINAPI*)(HANDLE process, HMODULE module, char* name, DWORD size);
using DirectoryFunction = UINT(WINAPI*)(char* buffer, UINT size);

// "<directory>\<program>" when the system names the directory; empty (matching nothing) otherwise.
outputstr CandidatePath(DirectoryFunction directoryOf, const char* program) {
    char directory[kPathRoom] = {};
    const UINT length = directoryOf(directory, kPathRoom);
    if (length == 0 || length > kPathRoom) return outputstr();
    return outputstr(directory) + "\\" + program;
}

void WriteErrorLine(const char* text, DWORD error) {
    WriteDebugLine(outputstr(text) + static_cast<unsigned long>(error));
}

// The first process, in the order of the list, whose executable is one of the candidates; opened
// for its token. None when no process matches.
UniqueHandle FindShellProcess(void* const (&psapi)[kPsApiFunctionCount], const DWORD* ids, DWORD count,
                              const outputstr (&candidates)[2]) {
    const auto enumModules = reinterpret_cast<EnumProcessModulesFunction>(psapi[kEnumProcessModules]);
    const auto fileNameOf = reinterpret_cast<GetModuleFileNameExFunction>(psapi[kGetModuleFileNameEx]);
    for (DWORD i = 0; i < count; ++i) {
        UniqueHandle process(OpenProcess(kProcessAccess, FALSE, ids[i]));
        if (!process) continue;
        // The first module is the process's executable.
        HMODULE executable = nullptr;
        DWORD needed = 0;
        if (!enumModules(process.get(), &executable, sizeof executable, &needed)) continue;
        char file[kPathRoom] = {};
        if (fileNameOf(process.get(), executable, file, kPathRoom) == 0) {
            WriteErrorLine("LogonUserImpersonator: GetModuleFileNameEx failed, err = ", GetLastError());
            continue;
        }
        for (const outputstr& candidate : candidates)
            if (candidate.length != 0 && _stricmp(file, candidate.c_str()) == 0) return process;
    }
    return UniqueHandle();
}

}  // namespace

LogonUserImpersonator::~LogonUserImpersonator() {
    if (m_impersonating != 0) RevertToSelf();
    m_impersonating = 0;
}

int LogonUserImpersonator::Impersonate() {
    if (!IsWindowsNT()) {
        WriteDebugLine("LogonUserImpersonator: wrong OS type.");
        return -1;
    }
    const UniqueModule psapi(LoadLibraryA(kPsApiLibrary));
    if (!psapi) {
        WriteDebugLine("LogonUserImpersonator: load PsAPI.dll failed");
        return -1;
    }
    void* entryPoints[kPsApiFunctionCount] = {};
    if (!ResolveEntryPoints(psapi.get(), kPsApiNames, entryPoints)) {
        for (int i = 0; i < kPsApiFunctionCount; ++i)
            if (entryPoints[i] == nullptr) WriteDebugLine(kMissingEntryPointLines[i]);
        return -1;
    }
    DWORD ids[kProcessIdRoom] = {};
    DWORD bytes = 0;
    if (!reinterpret_cast<EnumProcessesFunction>(entryPoints[kEnumProcesses])(ids, sizeof ids, &bytes)) {
        WriteDebugLine("LogonUserImpersonator: EnumProcesses failed");
        return -1;
    }
    // The backslash is always added: neither directory ends in one.
    const outputstr candidates[] = {CandidatePath(&GetWindowsDirectoryA, "EXPLORER.EXE"),
                                    CandidatePath(&GetSystemDirectoryA, "CMD.EXE")};
    const DWORD count = std::min<DWORD>(bytes / sizeof(DWORD), kProcessIdRoom);
    const UniqueHandle process = FindShellProcess(entryPoints, ids, count, candidates);
    if (!process) return 0;

    UniqueHandle token;
    if (!OpenProcessToken(process.get(), kTokenAccess, token.put())) {
        WriteErrorLine("LogonUserImpersonator: OpenProcessToken Failed, err: ", GetLastError());
        return -1;
    }
    if (!ImpersonateLoggedOnUser(token.get())) {
        WriteErrorLine("LogonUserImpersonator: ImpersonateLoggedOnUser Failed, err: ", GetLastError());
        return -1;
    }
    m_impersonating = 1;
    return 0;
}
