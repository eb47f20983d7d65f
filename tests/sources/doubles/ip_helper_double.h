// What the IP Helper double answers, shared with the tests that check the answers arrive.
#pragma once

#include <windows.h>

constexpr char kDoubleAdapterName[] = "{D0B1E000-0000-4000-8000-00000000D0B1}";
constexpr DWORD kDoubleAdapterIndex = 7;
constexpr char kDoubleDnsServer[] = "192.0.2.53";

// DoubleLastIfTableOrder() before GetIfTable was ever called.
constexpr LONG kNoIfTableOrderYet = -1;
using DoubleLastIfTableOrderFunction = LONG (*)();
