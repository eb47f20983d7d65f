#include "windows_version.h"

const char* const kWineWindowsVersions[14] = {"win95", "win98", "winme",  "nt40", "win2k",     "winxp", "winxp64",
                                              "win2003", "vista", "win2008", "win7", "win2008r2", "win8",  "win10"};

ChildRun RunAsWindowsVersion(const std::string& version, const std::string& gtestFilter,
                             const std::string& childArgument) {
    ChildOptions options;
    options.tag = version;
    options.windowsVersion = version;
    options.childArgument = childArgument;
    return RunChild(gtestFilter, options);
}
