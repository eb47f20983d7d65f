// linkset: the command-line host. It uses LinkSet.dll exactly as any host does, through the
// SDK header and the import library.
#include <cstdio>
#include <string>
#include <string_view>

#include "commands.h"
#include "options.h"

namespace {

constexpr int kExitUsage = 2;

struct CommandEntry {
    const char* name;
    int (*run)(const Options& options);
};

int RunHelp(const Options&) {
    PrintUsage();
    return 0;
}

constexpr CommandEntry kCommandTable[] = {
    {"ports", RunPorts}, {"addresses", RunAddresses}, {"watch", RunWatch},
    {"vpn", RunVpn},     {"version", RunVersion},     {"help", RunHelp},
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const std::string error = ParseOptions(argc, argv, options);
    if (!error.empty()) {
        std::fprintf(stderr, "linkset: %s (try 'linkset --help')\n", error.c_str());
        return kExitUsage;
    }
    for (const CommandEntry& command : kCommandTable)
        if (options.command == command.name) return command.run(options);
    return kExitUsage;
}
