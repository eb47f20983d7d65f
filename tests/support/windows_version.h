// Running a test under another Windows version: Wine answers GetVersionEx with the version set
// for the executable's file name under HKCU\Software\Wine\AppDefaults\<name>\Version, so the
// running test executable is copied under a name of its own per version and started again.
#pragma once

#include <string>

#include "child_process.h"

// Wine's version names that tests run under, oldest first.
extern const char* const kWineWindowsVersions[14];

// Runs the tests of this executable that match `gtestFilter` as Windows `version` ("win98",
// "nt40", ...), with ChildArgument() answering `childArgument` in the child.
ChildRun RunAsWindowsVersion(const std::string& version, const std::string& gtestFilter,
                             const std::string& childArgument = "1");
