#!/bin/sh
# Installs what building and testing LinkSet needs on a Debian machine, where it is missing.
set -eu
packages="cmake make g++-mingw-w64-x86-64-win32 wine64 clang lld llvm googletest python3 libcli11-dev nlohmann-json3-dev libc++-dev"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing:$missing"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
