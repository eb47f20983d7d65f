#!/bin/sh
# Sets up, builds, and runs linkset.exe under Wine on this machine's real network ports.
#   scripts/run-linkset.sh [command [options]]    (default: ports)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >&2
[ $# -gt 0 ] || set -- ports
exec "$root/scripts/wine-run.sh" "$root/build/wineprefix" "$root/build/bin/linkset.exe" "$@"
