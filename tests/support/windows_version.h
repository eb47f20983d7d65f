// Running a test under another Windows version: Wine answers GetVersionEx with the version set
// for the executable's file name under HKCU\Software\Wine\AppDefaults\<name>\Version, so the
// running test executable is copied under a name of its own per version and started again.
#pragma once

#include <string>

struct ChildRun {
    unsigned long exitCode;
    std::string output;
};

// Wine's version names that tests run under, oldest first.
extern const char* const kWineWindowsVersions[14];

// Runs the tests of this executable that match `gtestFilter` as Windows `version` ("win98",
// "nt40", ...), with the environment variable LINKSET_TEST_CHILD set to `childArgument`.
ChildRun RunAsWindowsVersion(const std::string& version, const std::string& gtestFilter,
                             const std::string& childArgument = "1");

// The LINKSET_TEST_CHILD value of a child started by RunAsWindowsVersion, or "" in a parent.
std::string ChildArgument();
