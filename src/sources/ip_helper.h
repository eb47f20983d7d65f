// Run-time binding to the IP Helper library. The library never links to it: a copy is found
// and loaded when a manager starts, and the adapter discovery reads the adapter list, the
// interface table and per-adapter DNS data through three wrappers that answer
// ERROR_NOT_SUPPORTED instead of calling when the library or the entry point is missing.
#pragma once

#include <windows.h>
#include <iprtrmib.h>
#include <iptypes.h>

#include <linkset/outputstr.h>

#include <string>

#include "system/handles.h"

// What a file's version resource says about it. Every text is empty until read.
struct FileVersionRecord {
    outputstr fileName;         // the path that was read, as given
    outputstr fileDescription;  // "FileDescription", in UTF-8; empty when the resource has none
    outputstr fileVersion;      // composed from the fixed block, "5.1.2600.5512"; empty without one
};

class CIpHelperAPI {
public:
    CIpHelperAPI();  // loads at once; a failed load leaves every wrapper answering 50
    ~CIpHelperAPI();
    CIpHelperAPI(const CIpHelperAPI&) = delete;
    CIpHelperAPI& operator=(const CIpHelperAPI&) = delete;

    // 0 when a copy was accepted (even with entry points missing), -1 when none was. Does
    // nothing and answers 0 while loaded.
    int Load();
    // Frees the library; always 0.
    int Unload();

    // The IP Helper calls of the same names. ERROR_NOT_SUPPORTED when unbound; otherwise IP
    // Helper's own answer. The interface table is always asked for sorted.
    int GetAdaptersInfo(IP_ADAPTER_INFO* buffer, ULONG* size) const;
    int GetIfTable(MIB_IFTABLE* table, ULONG* size) const;
    int GetPerAdapterInfo(ULONG index, IP_PER_ADAPTER_INFO* buffer, ULONG* size) const;

private:
    UniqueModule m_module;
};

// The path of an acceptable iphlpapi.dll: the bare name if the search order finds an accepted
// copy, else the system directory's copy. 0, or -1 when both are refused.
int FindIpHelperPath(std::string& path);
// 0 when the file at `path` loads and is not the refused build, -1 otherwise.
int CheckIpHelperVersion(const std::string& path);
// Fills `record` from the version resource of the file at `path` (UTF-8). 0, or -1 when the
// file has no version resource, no translation table or no "FileVersion" string; in the last
// case the description has been read all the same.
int ReadFileVersion(const char* path, FileVersionRecord& record);
// `text` followed by the low 16 bits of `value` in decimal, without leading zeros.
outputstr AppendDecimal(outputstr text, unsigned long value);
