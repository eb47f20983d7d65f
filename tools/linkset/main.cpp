// linkset: the command-line host. It uses LinkSet.dll exactly as any host does, through the
// SDK's C++ layer and the import library.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <new>

#include "command_line.h"
#include "commands.h"
#include "format.h"

namespace {

struct CommandEntry {
    const char* name;
    int (*run)(const Options& options);
};

constexpr CommandEntry kCommandTable[] = {
    {"ports", RunPorts}, {"addresses", RunAddresses}, {"watch", RunWatch}, {"vpn", RunVpn}, {"version", RunVersion},
};

}  // namespace

int main(int argc, char** argv) {
    // Plain LF: the text-mode CR LF breaks awk and $(...) on the Linux side of Wine.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    Options options;
    if (const int ended = ParseCommandLine(argc, argv, options); ended >= 0) return ended;
    try {
        for (const CommandEntry& command : kCommandTable)
            if (options.command == command.name) return command.run(options);
    } catch (const linkset::error& failure) {
        std::fprintf(stderr, "linkset: the library failed: %s (%d)\n", failure.what(), failure.code());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "linkset: out of memory\n");
    }
    return kExitFailed;
}
