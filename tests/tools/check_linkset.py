"""linkset.exe as people and scripts run it, on this machine's real adapters under Wine.

usage: check_linkset.py <wine-run.sh> <prefix> <linkset.exe>
"""
import json
import signal
import subprocess
import sys

WINE_RUN, PREFIX, LINKSET = sys.argv[1:4]
failures = []
checks = 0


def run(*args):
    done = subprocess.run([WINE_RUN, PREFIX, LINKSET, *args], capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def expect(condition, what):
    global checks
    checks += 1
    if not condition:
        failures.append(what)


NUMBER = "expects a whole number from "
REFUSED = [  # (command line, what stderr says); each ends with exit code 2
    ([], "no command given"),
    (["bogus"], "unknown command 'bogus'; did you mean 'ports'?"),
    (["adresses"], "did you mean 'addresses'?"),
    (["ports", "extra"], "unexpected argument 'extra'"),
    (["ports", "--filter=nope"], "expects 'address' or 'gateway', not 'nope'"),
    (["ports", "--json", "--brief"], "do not go together"),
    (["-v"], "unknown option '-v'; did you mean '--verbose'?"),
    (["ports", "-x"], "unknown option '-x'"),
    (["ports", "--jsn"], "did you mean '--json'?"),
    (["version", "--json"], "unknown option '--json'"),
    (["watch", "--count", "0"], NUMBER + "1 to 2147483647, not '0'"),
    (["watch", "--count=x"], NUMBER + "1 to 2147483647, not 'x'"),
    (["watch", "--count", "99999999999999999999"], NUMBER + "1 to 2147483647, not '99999999999999999999'"),
    (["vpn", "--wait", "4294968"], NUMBER + "0 to 86400, not '4294968'"),
]
for line, message in REFUSED:
    code, _, err = run(*line)
    expect(code == 2 and err.startswith("linkset: ") and message in err, f"{line}: exit {code}, {err!r}")

HELP = [  # a help flag anywhere, or the help command, shows the help of the command named
    (["--help"], "Usage: linkset [OPTIONS] [COMMAND]"),
    (["help", "vpn"], "Usage: linkset vpn [OPTIONS]"),
    (["ports", "--help"], "Usage: linkset ports [OPTIONS]"),
    (["ports", "-h"], "Usage: linkset ports [OPTIONS]"),
    (["--json", "-h", "watch", "--count", "x"], "Usage: linkset watch [OPTIONS]"),
]
for line, usage in HELP:
    code, out, _ = run(*line)
    expect(code == 0 and usage in out and "Exit codes" in out, f"{line}: exit {code}, {out[:80]!r}")
_, out, _ = run("--help")
expect(all(f"  {c} " in out for c in ("ports", "addresses", "watch", "vpn", "version")), "--help lists every command")


def document(*args):
    code, out, err = run(*args)
    expect(code == 0 and "\r" not in out, f"{args}: exit {code}, CR in output or {err!r}")
    return out


PORT_KEYS = ["type", "typeCode", "connectionName", "description", "adapterName", "mac", "address", "mask",
             "addresses", "gateway", "dhcp", "dns", "wins", "dialUp", "connected", "vpnDevice"]
ports = json.loads(document("ports", "--json"))["ports"]
expect(ports, "ports --json lists this machine's adapters")
for port in ports:
    expect(list(port) == PORT_KEYS, f"port keys {list(port)}")
    listed = [a["address"] for a in port["addresses"]] + port["dns"] + port["wins"] + [port["address"]]
    expect("0.0.0.0" not in listed, f"an unused entry shown as an address: {port}")
    expect((port["address"] is None) == (port["addresses"] == []), f"address and addresses disagree: {port}")
for text in (document("ports"), document("ports", "--brief")):
    expect("0.0.0.0" not in text and "/255." not in text, f"ports text: {text}")
expect(len(json.loads(document("ports", "--json", "--name", "*"))["ports"]) == len(ports), "--name '*' keeps all")
expect(json.loads(document("ports", "--json", "--name", "no such port*"))["ports"] == [], "--name selects")
expect(set(json.loads(document("addresses", "--json"))) == {"gateways", "dns", "wins"}, "addresses --json")

KINDS = ["Cisco 3000 VPN Client", "NETSCREEN VPN Client", "CHECKPOINT VPN Client", "SafeNet VPN Client", "RAS VPN",
         "AVENTAIL VPN Client", "ALCATEL VPN Client", "Juniper VPN Client"]
vpn = json.loads(document("vpn", "--wait", "0", "--json"))
expect([k["name"] for k in vpn["kinds"]] == KINDS and [k["kind"] for k in vpn["kinds"]] == list(range(1, 9)), "kinds")
expect(all(k["state"] in ("connected", "not connected", "no plug-in") for k in vpn["kinds"]), f"states {vpn}")
expect(all(name in document("vpn", "--wait", "0") for name in KINDS), "vpn text names every kind")

# The version resource, read back through the version API, is the interface version.
version = dict(line.split(None, 1) if " " in line else (line, "") for line in document("version").splitlines())
expect(version["file"].endswith("1.0.4.16") and "(1.0.4.16)" in version["interface"], f"version {version}")
expect(version["product"].strip() == "LinkSet" and version["description"].strip(), f"version {version}")

code, _, err = run("--verbose", "addresses")
expect(code == 0 and err.startswith("linkset: --verbose: "), f"--verbose says it is on: {err!r}")

# Ctrl+C ends a waiting command with 130, as shells report an interrupted one; `watch --json`
# first says it is watching, one JSON object on one line.
for line, ready in ((["watch", "--json"], "stdout"), (["vpn", "--wait", "60"], "stderr")):
    process = subprocess.Popen([WINE_RUN, PREFIX, LINKSET, *line], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    first = getattr(process, ready).readline().decode()
    if ready == "stdout":
        expect(json.loads(first) == {"event": "watching", "change": json.loads(first)["change"], "ports": len(ports)}, first)
    process.send_signal(signal.SIGINT)
    expect(process.wait(timeout=60) == 130, f"{line} interrupted: exit {process.returncode}")

for failure in failures:
    print("FAIL:", failure)
print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
