// linkset: the command-line host. It uses LinkSet.dll exactly as any host does, through the
// SDK header and the import library.
#include <linkset/linkset.h>

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(int argc, char** argv);
};

int ShowVersion(int, char**) {
    const unsigned long version = LsGetVersion();
    const bool accepted = LsIsGoodVersion(LINKSET_INTERFACE_VERSION) == 1;
    std::printf("LinkSet interface version 0x%08lx (%lu.%lu.%lu.%lu)\n", version, version >> 24,
                (version >> 16) & 0xFF, (version >> 8) & 0xFF, version & 0xFF);
    std::printf("this host was built for 0x%08lx: %s\n", static_cast<unsigned long>(LINKSET_INTERFACE_VERSION),
                accepted ? "accepted" : "refused");
    return accepted ? 0 : 1;
}

int ShowHelp(int, char**);

const Command kCommands[] = {
    {"version", "print the library's interface version and whether it accepts this host", ShowVersion},
    {"help", "list the commands", ShowHelp},
};

int ShowHelp(int, char**) {
    std::printf("usage: linkset <command> [options]\n\ncommands:\n");
    for (const Command& command : kCommands) std::printf("  %-10s %s\n", command.name, command.summary);
    return 0;
}

const Command* FindCommand(std::string_view name) {
    if (name == "--help" || name == "-h") name = "help";
    for (const Command& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        ShowHelp(argc, argv);
        return 2;
    }
    const Command* command = FindCommand(argv[1]);
    if (command == nullptr) {
        std::fprintf(stderr, "linkset: unknown command '%s' (try 'linkset --help')\n", argv[1]);
        return 2;
    }
    return command->run(argc - 1, argv + 1);
}
