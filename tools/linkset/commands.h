// The commands of linkset; each answers the process's exit code.
#pragma once

struct Options;

int RunPorts(const Options& options);
int RunAddresses(const Options& options);
int RunWatch(const Options& options);
int RunVpn(const Options& options);
int RunVersion(const Options& options);
