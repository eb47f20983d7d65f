#!/bin/sh
# Configures and builds LinkSet into build/.
#   build.sh             everything: the library, linkset, the tests and the benchmarks
#   build.sh TARGET...   only those targets; a first configure leaves the tests out
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
if [ $# -eq 0 ]; then
    cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINKSET_BUILD_TESTS=ON >/dev/null
    cmake --build "$root/build" -j "$(nproc)"
else
    [ -f "$root/build/CMakeCache.txt" ] ||
        cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINKSET_BUILD_TESTS=OFF >/dev/null
    for target in "$@"; do cmake --build "$root/build" -j "$(nproc)" --target "$target"; done
fi
