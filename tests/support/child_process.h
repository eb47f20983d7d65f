// Running this test executable again as a child process set up the way a test needs: as a
// Windows version Wine emulates, with DLL overrides of its own, from a chosen folder (so that a
// test double beside it is first on the search path) and with extra environment variables.
// The child runs the tests its filter selects; they read ChildArgument() to know they are the
// child, and skip when it is empty.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ChildRun {
    unsigned long exitCode;
    std::string output;
};

struct ChildOptions {
    // The child is a copy named "<this executable's stem>-<tag>.exe". Wine keys a program's
    // settings by file name, so children that run at the same time need tags of their own.
    std::string tag;
    std::string folder;          // where the copy is placed; "" = beside this executable
    std::string windowsVersion;  // Wine's name ("win98", "nt40", ...); "" = the prefix's own
    // Load orders for this child only, e.g. {"iphlpapi", "native,builtin"}. Wine sets a child's
    // WINE* variables from its own environment, not from the parent's, so these go into the
    // child's per-program registry settings instead.
    std::vector<std::pair<std::string, std::string>> dllOverrides;
    std::vector<std::pair<std::string, std::string>> environment;
    std::string workingDirectory;      // "" = this process's
    std::string childArgument = "1";  // what ChildArgument() answers in the child
};

// Runs the tests of this executable that match `gtestFilter` in a child set up by `options`,
// and waits for it. The copy and its Wine settings are removed afterwards.
ChildRun RunChild(const std::string& gtestFilter, const ChildOptions& options);

// True when the child's run failed no test and passed at least one (the others it selected
// skip themselves, being meant for other roles).
bool ChildPassed(const ChildRun& run);

// The argument a child was started with, or "" in a process that is no child.
std::string ChildArgument();

// A path of the Linux side (a build folder, say) as Windows programs under Wine name it.
std::string WinePath(const std::string& unixPath);

// The full path of this executable and of the folder it lies in.
std::string ThisExecutablePath();
std::string ThisExecutableFolder();
