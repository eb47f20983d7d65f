#include "options.h"

#include <linkset/port_info.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

struct CommandInfo {
    const char* name;
    const char* summary;
};

const CommandInfo kCommands[] = {
    {"ports", "show every network port with its addresses, gateway, DNS and WINS servers"},
    {"addresses", "show the gateways, DNS servers and WINS servers of the addressed ports"},
    {"watch", "print what changes in the port list until interrupted"},
    {"vpn", "run VPN detection and show which VPN clients have a tunnel up"},
    {"version", "print the library's interface version and whether it accepts this host"},
    {"help", "show this text"},
};

// An option, the commands that take it ("" for all), and how its value is read.
struct OptionInfo {
    const char* name;
    const char* commands;
    const char* valueName;  // null for a flag
    const char* summary;
    std::string (*apply)(Options& options, std::string_view value);
};

std::string ParseNumber(std::string_view value, long minimum, long& out) {
    const std::string text(value);
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number < minimum)
        return "expects a whole number of at least " + std::to_string(minimum) + ", not '" + text + "'";
    out = number;
    return {};
}

const OptionInfo kOptions[] = {
    {"--verbose", "", nullptr, "print the library's own report lines to stderr",
     [](Options& o, std::string_view) { o.verbose = true; return std::string(); }},
    {"--json", "ports addresses", nullptr, "print JSON (schema in the README)",
     [](Options& o, std::string_view) { o.json = true; return std::string(); }},
    {"--filter", "ports", "address|gateway", "only ports with an address, or with a gateway",
     [](Options& o, std::string_view v) {
         if (v == "address") o.filter = PORT_FILTER_HAS_ADDRESS;
         else if (v == "gateway") o.filter = PORT_FILTER_HAS_GATEWAY;
         else return "expects 'address' or 'gateway', not '" + std::string(v) + "'";
         return std::string();
     }},
    {"--count", "watch", "N", "stop after N changes",
     [](Options& o, std::string_view v) { return ParseNumber(v, 1, o.count); }},
    {"--wait", "vpn", "SECONDS", "let detection run this long first (default 6)",
     [](Options& o, std::string_view v) {
         long seconds = 0;
         std::string error = ParseNumber(v, 0, seconds);
         o.waitSeconds = static_cast<unsigned>(seconds);
         return error;
     }},
};

bool TakesOption(const OptionInfo& option, const std::string& command) {
    const std::string_view list = option.commands;
    if (list.empty()) return true;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(' ', start), list.size());
        if (list.substr(start, end - start) == command) return true;
        start = end + 1;
    }
    return false;
}

const OptionInfo* FindOption(std::string_view name) {
    for (const OptionInfo& option : kOptions)
        if (name == option.name) return &option;
    return nullptr;
}

bool IsCommand(std::string_view name) {
    for (const CommandInfo& command : kCommands)
        if (name == command.name) return true;
    return false;
}

}  // namespace

std::string ParseOptions(int argc, char** argv, Options& options) {
    std::vector<const OptionInfo*> given;  // checked against the command once it is known
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") argument = "help";
        if (argument.rfind("--", 0) != 0) {
            if (!options.command.empty()) return "unexpected argument '" + std::string(argument) + "'";
            if (!IsCommand(argument)) return "unknown command '" + std::string(argument) + "'";
            options.command = argument;
            continue;
        }
        const size_t equals = argument.find('=');
        const OptionInfo* option = FindOption(argument.substr(0, equals));
        if (option == nullptr) return "unknown option '" + std::string(argument) + "'";
        std::string_view value;
        if (option->valueName != nullptr) {
            if (equals != std::string_view::npos) value = argument.substr(equals + 1);
            else if (i + 1 < argc) value = argv[++i];
            else return std::string(option->name) + " needs a value (" + option->valueName + ")";
        } else if (equals != std::string_view::npos) {
            return std::string(option->name) + " takes no value";
        }
        const std::string error = option->apply(options, value);
        if (!error.empty()) return std::string(option->name) + " " + error;
        given.push_back(option);
    }
    if (options.command.empty()) return "no command given";
    for (const OptionInfo* option : given)
        if (!TakesOption(*option, options.command))
            return std::string(option->name) + " does not go with '" + options.command + "'";
    return {};
}

void PrintUsage() {
    std::printf("usage: linkset <command> [options]\n\ncommands:\n");
    for (const CommandInfo& command : kCommands) std::printf("  %-10s %s\n", command.name, command.summary);
    std::printf("\noptions:\n");
    for (const OptionInfo& option : kOptions) {
        const std::string head = std::string(option.name) + (option.valueName ? std::string(" ") + option.valueName : "");
        std::printf("  %-24s %s%s%s\n", head.c_str(), option.summary, *option.commands ? " [" : "",
                    *option.commands ? (std::string(option.commands) + "]").c_str() : "");
    }
}
