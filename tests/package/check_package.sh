#!/bin/sh
# Installs LinkSet into a scratch folder, builds a host against it with find_package(LinkSet),
# and runs that host under Wine with the installed LinkSet.dll.
# usage: check_package.sh <source dir> <build dir> <wine-run.sh> <prefix>
set -eu
source=$1 build=$2 wine_run=$3 prefix=$4
scratch=$build/package-check
rm -rf "$scratch"
cmake --install "$build" --prefix "$scratch/install" >/dev/null
for path in include/linkset/linkset.h lib/LinkSet.lib lib/libLinkSet.dll.a bin/LinkSet.dll bin/linkset.exe \
    lib/cmake/LinkSet/LinkSetConfig.cmake; do
    [ -f "$scratch/install/$path" ] || { echo "missing from the install: $path"; exit 1; }
done
cmake -S "$source/tests/package/consumer" -B "$scratch/consumer" \
    -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$scratch/install" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
cp "$scratch/install/bin/LinkSet.dll" "$scratch/consumer/"
"$wine_run" "$prefix" "$scratch/consumer/consumer.exe"
