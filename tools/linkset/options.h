// The command line of linkset: one command and its options.
#pragma once

#include <string>

struct Options {
    std::string command;
    bool verbose = false;        // library's debug lines to stderr
    bool json = false;           // ports, addresses: machine-readable output
    int filter = 0;              // ports: a PORT_FILTER value
    long count = -1;             // watch: stop after this many changes (-1: until interrupted)
    unsigned waitSeconds = 6;    // vpn: how long detection runs before it is asked
};

// Fills `options` from argv[1..]; answers an error message, empty when the line is good.
std::string ParseOptions(int argc, char** argv, Options& options);

// The usage text: commands and options.
void PrintUsage();
