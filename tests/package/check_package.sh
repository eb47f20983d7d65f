#!/bin/sh
# Builds the README's SDK example against the installed LinkSet with find_package: MinGW GCC with no
# flags of ours links it and it sees as many ports as the installed linkset; Clang in MSVC mode
# compiles it and is given LinkSet.lib to link with.
# usage: check_package.sh <source dir> <build dir> <wine-run.sh> <prefix>
set -eu
source=$1 build=$2 wine_run=$3 prefix=$4
scratch=$build/package-check
rm -rf "$scratch"
cmake --install "$build" --prefix "$scratch/install" >/dev/null
[ -f "$scratch/install/share/doc/LinkSet/LICENSE" ] || { echo "the install has no licence"; exit 1; }

awk '/<!-- example: examples\/list_ports.cpp -->/ {found = 1; next} found && /^```cpp/ {code = 1; next}
     code && /^```/ {exit} code' "$source/README.md" | diff -u "$source/examples/list_ports.cpp" - ||
    { echo "the README's SDK example differs from examples/list_ports.cpp"; exit 1; }

ports=$("$wine_run" "$prefix" "$scratch/install/bin/linkset.exe" ports --json | python3 -c 'import json, sys; print(len(json.load(sys.stdin)["ports"]))')
cmake -S "$source/examples" -B "$scratch/mingw" -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++ -DCMAKE_PREFIX_PATH="$scratch/install" >"$scratch/mingw.log" 2>&1 &&
    cmake --build "$scratch/mingw" >>"$scratch/mingw.log" 2>&1 || { cat "$scratch/mingw.log"; exit 1; }
output=$("$wine_run" "$prefix" "$scratch/mingw/list_ports.exe" | tr -d "\r")  # Windows ends lines with CR LF
echo "$output" | grep -qx "$ports ports" || { echo "MinGW example, not $ports ports: $output"; exit 1; }

# No Microsoft runtime here to link with: libc++'s headers, and MinGW-w64's told about GNU attributes and __declspec.
cmake -S "$source/examples" -B "$scratch/msvc" -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_COMPILER_TARGET=x86_64-pc-windows-msvc -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY \
    "-DCMAKE_CXX_FLAGS=-nostdinc++ -isystem /usr/include/c++/v1 -isystem /usr/x86_64-w64-mingw32/include \
-fgnuc-version=12 '-D__declspec(x)=__declspec(x)' -D_CRTIMP= -D__USE_MINGW_ANSI_STDIO=0 -D_LIBCPP_NO_VCRUNTIME" \
    -DCMAKE_PREFIX_PATH="$scratch/install" >"$scratch/msvc.log" 2>&1 &&
    cmake --build "$scratch/msvc" --target list_ports.cpp.obj >>"$scratch/msvc.log" 2>&1 ||
    { cat "$scratch/msvc.log"; exit 1; }
grep -rqF "$scratch/install/lib/LinkSet.lib" "$scratch/msvc/CMakeFiles/list_ports.dir" ||
    { echo "Clang in MSVC mode is not given LinkSet.lib"; exit 1; }

cmake -S "$source/examples" -B "$scratch/linux" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_PREFIX_PATH="$scratch/install" 2>&1 |
    grep -q "LinkSet is a library for 64-bit Windows" || { echo "a Linux project is not told"; exit 1; }
