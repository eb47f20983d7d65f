#!/bin/sh
# The long form of the soak: every slot from eight host threads for SECONDS (default 600) while
# the cycle runs and the made-up machine changes. Prints the figures the README quotes.
#   bench/run-soak.sh [SECONDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >&2
prefix=$root/build/wineprefix
"$root/scripts/wine-run.sh" "$prefix" --start
LINKSET_SOAK_SECONDS=${1:-600} LINKSET_DLL_OVERRIDES="iphlpapi,rasapi32=n,b" \
    "$root/scripts/wine-run.sh" "$prefix" "$root/build/bin/doubles/iphlpapi_double/hardening_machines.exe" \
    --gtest_filter=Soak.*
"$root/scripts/wine-run.sh" "$prefix" --stop
