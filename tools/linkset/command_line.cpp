#include "command_line.h"

#include <linkset/port_info.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

constexpr int kGoOn = -1;
constexpr int64_t kMostChanges = std::numeric_limits<int32_t>::max();
constexpr int64_t kMostWaitSeconds = 24 * 60 * 60;
constexpr size_t kLongestNumber = 18;  // digits that always fit a 64-bit number

struct Command {
    const char* name;
    const char* summary;
};
constexpr Command kCommands[] = {
    {"ports", "show every network port: addresses, gateway, DHCP, DNS and WINS servers, dial-up, VPN and tunnel flags"},
    {"addresses", "show the gateways, DNS and WINS servers of the addressed ports"},
    {"watch", "print each port that comes, goes or changes, until interrupted"},
    {"vpn", "run VPN detection and show the state of every VPN client kind, then the tunnels in the port list"},
    {"version", "show LinkSet.dll's version resource and whether the library accepts this host"},
    {"help", "show this text, or a command's: linkset help COMMAND"},
};

constexpr const char* kFooter =
    "Exit codes: 0 done, 1 the library failed, 2 the command line was refused, 130 interrupted (Ctrl+C).\n"
    "Schemas of the JSON output and what every field means: README.md.";

// Digits only, from `least` to `most`; one message for every number that does not fit.
CLI::Validator WholeNumber(int64_t least, int64_t most) {
    const std::string range = "a whole number from " + std::to_string(least) + " to " + std::to_string(most);
    return CLI::Validator(
        [=](std::string& text) {
            const bool digits = !text.empty() && text.size() <= kLongestNumber &&
                                text.find_first_not_of("0123456789") == std::string::npos;
            const bool fits = digits && std::stoll(text) >= least && std::stoll(text) <= most;
            return fits ? std::string() : "expects " + range + ", not '" + text + "'";
        },
        "");
}

// Edits that turn one word into the other.
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The name the word begins (`-v` for --verbose), else the one fewest edits away.
std::string Nearest(const std::string& word, const std::vector<std::string>& names) {
    auto bare = [](const std::string& name) { return name.substr(name.find_first_not_of('-')); };
    const std::string stem = bare(word);
    std::string best;
    size_t bestDistance = std::numeric_limits<size_t>::max();
    for (const std::string& name : names) {
        const size_t distance = bare(name).rfind(stem, 0) == 0 ? 0 : Distance(stem, bare(name));
        if (distance < bestDistance) best = name, bestDistance = distance;
    }
    return best;
}

std::vector<std::string> OptionNames(const CLI::App& command) {
    std::vector<std::string> names;
    for (const CLI::Option* option : command.get_options())
        for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    return names;
}

// Usage lines name the program before a command: "linkset ports [OPTIONS]".
class Formatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string name) const override {
        return CLI::Formatter::make_usage(app, app->get_parent() ? "linkset " + name : name);
    }
};

int Refuse(const std::string& message, const CLI::App* command) {
    const std::string help = command ? "linkset " + command->get_name() + " --help" : "linkset --help";
    std::fprintf(stderr, "linkset: %s (try '%s')\n", message.c_str(), help.c_str());
    return kExitUsage;
}

// A help flag wins wherever it stands, and so does the help command; either shows the help of
// the command named on the line, if any.
int ShowHelpIfAsked(const CLI::App& app, int argc, char** argv) {
    bool asked = false;
    const CLI::App* topic = &app;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-h" || word == "--help" || (word == "help" && topic == &app)) {
            asked = true;
        } else if (topic == &app) {
            for (const CLI::App* command : app.get_subcommands({}))
                if (command->get_name() == word && word != "help") topic = command;
        }
    }
    if (!asked) return kGoOn;
    std::fputs(topic->help().c_str(), stdout);
    return kExitOk;
}

}  // namespace

int ParseCommandLine(int argc, char** argv, Options& options) {
    CLI::App app("linkset shows this machine's network ports and VPN clients through LinkSet.dll.", "linkset");
    app.footer(kFooter);
    app.formatter(std::make_shared<Formatter>());
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    const std::string verbose = "show the library's own report lines on stderr: mostly errors, often none";
    app.add_flag("--verbose", options.verbose, verbose);
    for (const Command& command : kCommands) {
        CLI::App* added = app.add_subcommand(command.name, command.summary);
        added->group("Commands");
        added->add_flag("--verbose", options.verbose, verbose);
        added->allow_extras();
    }
    app.allow_extras();

    CLI::App& ports = *app.get_subcommand("ports");
    ports.add_flag("--json", options.json, "print JSON");
    ports.add_flag("--brief", options.brief, "one line per port (not with --json)");
    ports.add_option("--filter", "only ports with an address, or with a gateway")
        ->type_name("address|gateway")
        ->check(CLI::Validator(
            [](std::string& word) {
                return word == "address" || word == "gateway" ? std::string()
                                                              : "expects 'address' or 'gateway', not '" + word + "'";
            },
            ""))
        ->each([&](const std::string& word) {
            options.filter = word == "address" ? PORT_FILTER_HAS_ADDRESS : PORT_FILTER_HAS_GATEWAY;
        });
    ports.add_option("--name", options.name,
                     "only ports whose connection name or description matches PATTERN (* any run, ? one character, "
                     "letters in any case)")
        ->type_name("PATTERN");
    app.get_subcommand("addresses")->add_flag("--json", options.json, "print JSON");
    CLI::App& watch = *app.get_subcommand("watch");
    watch.add_flag("--json", options.json, "one JSON object per line for each port that came, went or changed");
    watch.add_option("--count", options.count, "stop after N changes")->type_name("N")->check(WholeNumber(1, kMostChanges));
    CLI::App& vpn = *app.get_subcommand("vpn");
    vpn.add_flag("--json", options.json, "print JSON");
    vpn.add_option("--wait", options.waitSeconds, "let detection run this long first (default 6)")
        ->type_name("SECONDS")
        ->check(WholeNumber(0, kMostWaitSeconds));

    if (const int shown = ShowHelpIfAsked(app, argc, argv); shown != kGoOn) return shown;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        return Refuse(error.what(), chosen.empty() ? nullptr : chosen.front());
    }
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    const CLI::App* command = chosen.empty() ? nullptr : chosen.front();
    const std::vector<std::string> extras = app.remaining(true);
    if (!extras.empty()) {
        const std::string extra = extras.front().substr(0, extras.front().find('='));
        if (extra.rfind('-', 0) == 0) {
            const std::string nearest = Nearest(extra, OptionNames(command ? *command : app));
            return Refuse("unknown option '" + extra + "'; did you mean '" + nearest + "'?", command);
        }
        if (command) return Refuse("unexpected argument '" + extra + "'", command);
        std::vector<std::string> names;
        for (const Command& known : kCommands) names.push_back(known.name);
        return Refuse("unknown command '" + extra + "'; did you mean '" + Nearest(extra, names) + "'?", nullptr);
    }
    if (!command) return Refuse("no command given", nullptr);
    if (options.json && options.brief) return Refuse("--brief and --json do not go together", command);
    options.command = command->get_name();
    return kGoOn;
}
