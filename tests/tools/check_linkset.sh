#!/bin/sh
# linkset.exe as a user runs it: bad command lines are refused with a message and exit code 2,
# and on this machine's real adapters `ports --json` and `addresses --json` print valid JSON of
# the documented shape.
# usage: check_linkset.sh <wine-run.sh> <prefix> <linkset.exe>
set -u
wine_run=$1 prefix=$2 linkset=$3
failures=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

run() { "$wine_run" "$prefix" "$linkset" "$@" >"$scratch/out" 2>"$scratch/err"; }

expect_refused() {
    run "$@"
    code=$?
    if [ $code -ne 2 ] || ! grep -q "^linkset: " "$scratch/err"; then
        echo "FAIL: linkset $* gave exit code $code and: $(cat "$scratch/err")"
        failures=$((failures + 1))
    fi
}

expect_refused
expect_refused bogus
expect_refused ports extra
expect_refused ports --filter=nope
expect_refused ports --filter
expect_refused watch --count 0
expect_refused watch --count=x
expect_refused version --json
expect_refused ports --verbose=yes

run --help || { echo "FAIL: --help"; failures=$((failures + 1)); }
for command in ports addresses watch vpn version; do
    grep -q "  $command " "$scratch/out" || { echo "FAIL: --help does not list $command"; failures=$((failures + 1)); }
done

check_json() {
    run "$@" --json || { echo "FAIL: linkset $* --json failed: $(cat "$scratch/err")"; failures=$((failures + 1)); return; }
    python3 - "$scratch/out" "$1" <<'PY' || failures=$((failures + 1))
import json, sys
document = json.load(open(sys.argv[1]))
if sys.argv[2] == "ports":
    keys = {"type", "typeCode", "connectionName", "description", "adapterName", "mac", "address", "mask",
            "addresses", "gateway", "dhcp", "dns", "wins", "dialUp", "vpnDevice"}
    for port in document["ports"]:
        missing = keys - set(port)
        assert not missing, f"port without {missing}"
else:
    assert set(document) == {"gateways", "dns", "wins"}, document
PY
}
check_json ports
check_json ports --filter address
check_json addresses

[ $failures -eq 0 ] && echo "linkset's command line and JSON output behave"
exit $failures
