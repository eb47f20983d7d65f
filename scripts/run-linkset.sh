#!/bin/sh
# Sets up, builds LinkSet.dll and linkset.exe when a source changed since the last build, and runs
# linkset.exe under Wine on this machine's real network ports.
#   scripts/run-linkset.sh [command [options]]    (default: ports)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
stamp=$build/linkset.stamp
changed=$( [ -f "$stamp" ] && find "$root/CMakeLists.txt" "$root/cmake" "$root/include" "$root/src" "$root/tools" \
    "$root/scripts" -newer "$stamp" -print -quit || echo never-built)
if [ -n "$changed" ]; then
    mkdir -p "$build"
    echo "building LinkSet.dll and linkset.exe (log: build/linkset-build.log)..." >&2
    "$root/scripts/build.sh" linkset >"$build/linkset-build.log" 2>&1 || { cat "$build/linkset-build.log" >&2; exit 1; }
    touch "$stamp"
fi
[ $# -gt 0 ] || set -- ports
exec "$root/scripts/wine-run.sh" "$build/wineprefix" "$build/bin/linkset.exe" "$@"
