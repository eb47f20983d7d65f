// The command line of linkset: one command and its options, read by CLI11.
#pragma once

#include <cstdint>
#include <string>

// Exit codes, as the README lists them.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;         // the library failed
constexpr int kExitUsage = 2;          // the command line was refused
constexpr int kExitInterrupted = 130;  // Ctrl+C, as shells report SIGINT

struct Options {
    std::string command;
    bool verbose = false;            // the library's report lines to stderr
    bool json = false;               // ports, addresses, watch, vpn: machine-readable output
    bool brief = false;              // ports: one line per port
    int32_t filter = 0;              // ports: a PORT_FILTER value
    std::string name;                // ports: a pattern for connection name or description
    int64_t count = 0;               // watch: stop after this many changes (0: until interrupted)
    int64_t waitSeconds = 6;         // vpn: how long detection runs before it is asked
};

// Reads argv into `options`. Answers -1 when the command is to run, else the exit code to end
// with: 0 once help is shown, 2 once a refused line is explained on stderr.
int ParseCommandLine(int argc, char** argv, Options& options);
