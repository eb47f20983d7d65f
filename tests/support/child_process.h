// Running this test executable again as a child process set up the way a test needs: as a
// Windows version Wine emulates, with load orders of its own, from a chosen folder (so that a
// test double beside it comes first on the search path), with a double in the system directory.
// The child runs the tests its filter selects; they read ChildArgument() to know they are the
// child, and skip when it is empty.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ChildRun {
    unsigned long exitCode;
    std::string output;
    bool hung = false;  // killed after the time-out
};

// The child is a copy of this executable named "<stem>-child.exe", since Wine keys a program's
// settings by file name.
// Every member has an initializer, so that designated initializers may leave any out.
struct ChildOptions {
    std::string folder = "";          // where the copy is placed; "" = beside this executable
    std::string windowsVersion = "";  // Wine's name ("win98", "nt40", ...); "" = the prefix's own
    // Load orders, e.g. {"iphlpapi", "native,builtin"}: Wine gives a child the WINE* variables
    // of its own start-up, not the parent's, so these go into the child's program settings.
    std::vector<std::pair<std::string, std::string>> dllOverrides = {};
    // A double put into the prefix's system directory under its own file name for the child's
    // run, for libraries loaded by their full system path. Only a load order that prefers the
    // native file makes even this child see it; every other program keeps Wine's own.
    std::string systemDouble = "";
    std::string childArgument = "1";  // what ChildArgument() answers in the child
    unsigned long timeoutMs = 0xFFFFFFFF;  // then the child is killed as hung
};

// Runs the tests of this executable that match `gtestFilter` in a child set up by `options`,
// and waits for it. The copy and its Wine settings are removed afterwards.
ChildRun RunChild(const std::string& gtestFilter, const ChildOptions& options);
// The same, with nothing but the Windows version ("win98", "nt40", ...) set.
ChildRun RunAsWindowsVersion(const std::string& version, const std::string& gtestFilter,
                             const std::string& childArgument = "1");

// True when the child's run failed no test and passed at least one (the others it selected
// skip themselves, being meant for other roles).
bool ChildPassed(const ChildRun& run);
// Runs the calling test in a child set up by `options` and fails it, with the child's output,
// unless the child passed. A test of both roles starts with
//     if (ChildArgument().empty()) return ExpectChildPasses({...});
void ExpectChildPasses(const ChildOptions& options);

// The argument a child was started with, or "" in a process that is no child.
std::string ChildArgument();

// A path of the Linux side (a build folder, say) as Windows programs under Wine name it.
std::string WinePath(const std::string& unixPath);

// The folder this executable lies in.
std::string ThisExecutableFolder();
