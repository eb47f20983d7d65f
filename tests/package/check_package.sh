#!/bin/sh
# Installs LinkSet into a scratch folder and builds the SDK example against it with
# find_package(LinkSet), as host projects do: by MinGW GCC with no flags of ours, and by Clang in
# MSVC mode against LinkSet.lib. Runs both under Wine with the LinkSet.dll their build put beside
# them; each must see as many ports as linkset. The README shows this example line for line, and
# a project that does not build for 64-bit Windows is told so.
# usage: check_package.sh <source dir> <build dir> <wine-run.sh> <prefix>
set -eu
source=$1 build=$2 wine_run=$3 prefix=$4
linkset=$build/bin/linkset.exe
scratch=$build/package-check
rm -rf "$scratch"
cmake --install "$build" --prefix "$scratch/install" >/dev/null
for path in include/linkset/linkset.h include/linkset/linkset.hpp lib/LinkSet.lib lib/libLinkSet.dll.a \
    bin/LinkSet.dll bin/linkset.exe lib/cmake/LinkSet/LinkSetConfig.cmake share/doc/LinkSet/LICENSE; do
    [ -f "$scratch/install/$path" ] || { echo "missing from the install: $path"; exit 1; }
done

awk '/<!-- example: examples\/list_ports.cpp -->/ {found = 1; next} found && /^```cpp/ {code = 1; next}
     code && /^```/ {exit} code' "$source/README.md" | diff -u "$source/examples/list_ports.cpp" - ||
    { echo "the README's SDK example differs from examples/list_ports.cpp"; exit 1; }

ports=$("$wine_run" "$prefix" "$linkset" ports --json | python3 -c 'import json, sys; print(len(json.load(sys.stdin)["ports"]))')
for compiler in mingw msvc; do
    case $compiler in
    mingw) toolchain="-DCMAKE_SYSTEM_NAME=Windows -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++" ;;
    msvc) toolchain="-DCMAKE_TOOLCHAIN_FILE=$source/tests/package/clang-msvc.cmake" ;;
    esac
    cmake -S "$source/examples" -B "$scratch/$compiler" -DCMAKE_BUILD_TYPE=Release $toolchain \
        -DCMAKE_PREFIX_PATH="$scratch/install" >"$scratch/$compiler.log" 2>&1 &&
        cmake --build "$scratch/$compiler" >>"$scratch/$compiler.log" 2>&1 || { cat "$scratch/$compiler.log"; exit 1; }
    output=$("$wine_run" "$prefix" "$scratch/$compiler/list_ports.exe") || { echo "$compiler example: exit $?"; exit 1; }
    echo "$output" | grep -qx "$ports ports" || { echo "$compiler example, not $ports ports: $output"; exit 1; }
    echo "the example built by $compiler lists $ports ports"
done

cmake -S "$source/examples" -B "$scratch/linux" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_PREFIX_PATH="$scratch/install" 2>&1 |
    grep -q "LinkSet is a library for 64-bit Windows" || { echo "a Linux project is not told"; exit 1; }
