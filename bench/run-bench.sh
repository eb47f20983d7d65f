#!/bin/sh
# Builds and runs every benchmark under Wine; prints the tables the README quotes.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >&2
prefix=$root/build/wineprefix
bench=$root/build/bin/doubles/iphlpapi_double/linkset_bench.exe
run() { LINKSET_DLL_OVERRIDES="iphlpapi=n,b" "$root/scripts/wine-run.sh" "$prefix" "$bench" "$@"; }
version() {
    "$root/scripts/wine-run.sh" "$prefix" reg add 'HKCU\Software\Wine\AppDefaults\linkset_bench.exe' /v Version /d "$1" /f >/dev/null
}

"$root/scripts/wine-run.sh" "$prefix" --start
echo "## Host queries"; run queries; echo
for v in win7 winxp; do
    version "$v"
    echo "## Adapter pass ($v)"; run discovery; echo
done
version win7
echo "## VPN detector update"; run vpn; echo
echo "## Idle"; run idle 20
"$root/scripts/wine-run.sh" "$prefix" --stop
