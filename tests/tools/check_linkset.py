# linkset.exe as people and scripts run it, on this machine's adapters and on a made-up one.
# usage: check_linkset.py <wine-run.sh> <prefix> <linkset.exe> <IP Helper double>
import json, os, shutil, signal, subprocess, sys, tempfile

LINKSET = sys.argv[1:4]
passed, failures = [], []


def run(*args, linkset=LINKSET, env=None):
    done = subprocess.run([*linkset, *args], capture_output=True, timeout=120, env=env)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def expect(condition, what): (passed if condition else failures).append(what)


COUNT = "expects a whole number from 1 to 2147483647, not "
for line, message in [  # refused with exit code 2 and a message on stderr
        ([], "no command given"), (["adresses"], "unknown command 'adresses'; did you mean 'addresses'?"),
        (["ports", "extra"], "unexpected argument 'extra'"), (["ports", "--json", "--brief"], "do not go together"),
        (["ports", "--filter=nope"], "expects 'address' or 'gateway', not 'nope'"),
        (["-v"], "unknown option '-v'; did you mean '--verbose'?"), (["ports", "-x"], "unknown option '-x'"),
        (["version", "--json"], "unknown option '--json'"), (["watch", "--count", "0"], COUNT + "'0'"),
        (["watch", "--count=x"], COUNT + "'x'"), (["watch", "--count", "9" * 20], COUNT + f"'{'9' * 20}'"),
        (["vpn", "--wait", "4294968"], "expects a whole number from 0 to 86400, not '4294968'")]:
    code, _, err = run(*line)
    expect(code == 2 and err.startswith("linkset: ") and message in err, f"{line}: exit {code}, {err!r}")

for line, usage in [  # a help flag anywhere, or the help command, shows the help of the command named
        (["--help"], "linkset [OPTIONS] [COMMAND]"), (["help", "vpn"], "linkset vpn [OPTIONS]"),
        (["--json", "-h", "watch", "--count", "x"], "linkset watch [OPTIONS]")]:
    code, out, _ = run(*line)
    expect(code == 0 and f"Usage: {usage}" in out and "Exit codes" in out, f"{line}: exit {code}, {out[:80]!r}")


def document(*args, **where):
    code, out, err = run(*args, **where)
    expect(code == 0 and "\r" not in out, f"{args}: exit {code}, CR in output or {err!r}")
    return out


KEYS = ["type", "typeCode", "connectionName", "description", "adapterName", "mac", "address", "mask", "addresses",
        "gateway", "dhcp", "dns", "wins", "dialUp", "connected", "vpnDevice", "tunnel"]
ports = json.loads(document("ports", "--json"))["ports"]
expect(ports, "ports --json lists this machine's adapters")
for port in ports:  # no 0.0.0.0 anywhere; an address exactly when there are addresses
    listed = [a["address"] for a in port["addresses"]] + port["dns"] + port["wins"] + [port["address"]]
    expect(list(port) == KEYS and "0.0.0.0" not in listed and (port["address"] is None) == (port["addresses"] == []),
           f"port {port}")
expect(set(json.loads(document("addresses", "--json"))) == {"gateways", "dns", "wins"}, "addresses --json")

KINDS = ["Cisco 3000 VPN Client", "NETSCREEN VPN Client", "CHECKPOINT VPN Client", "SafeNet VPN Client", "RAS VPN",
         "AVENTAIL VPN Client", "ALCATEL VPN Client", "Juniper VPN Client"]
vpn = json.loads(document("vpn", "--wait", "0", "--json"))
expect(list(vpn) == ["kinds", "connected", "tunnels"] and [(k["kind"], k["name"]) for k in vpn["kinds"]] == list(enumerate(KINDS, 1))
       and all(k["state"] in ("connected", "not connected", "no plug-in") for k in vpn["kinds"]), f"vpn --json {vpn}")
expect(all(name in document("vpn", "--wait", "0") for name in KINDS), "vpn text names every kind")

# The version resource, read back through the version API, is the interface version.
version = {k: v.strip() for k, v in (line.split("  ", 1) for line in document("version").splitlines())}
expect(version["file version"] == version["product version"] == "1.0.4.16" and version["product"] == "LinkSet"
       and version["interface"] == "0x01000410 (1.0.4.16)", f"version {version}")

code, _, err = run("--verbose", "addresses")
expect(code == 0 and err.startswith("linkset: --verbose: "), f"--verbose says it is on: {err!r}")

# Ctrl+C ends a waiting command with 130, as shells report it; `watch --json` first says it watches.
for line, ready in ((["watch", "--json"], "stdout"), (["vpn", "--wait", "60"], "stderr")):
    process = subprocess.Popen([*LINKSET, *line], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    first = getattr(process, ready).readline().decode()
    if ready == "stdout":
        expect(json.loads(first) == {"event": "watching", "change": json.loads(first)["change"], "ports": len(ports)}, first)
    process.send_signal(signal.SIGINT)
    expect(process.wait(timeout=60) == 130, f"{line} interrupted: exit {process.returncode}")

# A physical adapter, a WireGuard tunnel, an OpenVPN adapter with an odd mask and an adapter whose
# one entry is 0.0.0.0: exactly the two are tunnels. GUID names give way to the descriptions.
MACHINE = [("{0000FA4E-0000-4000-8000-000000000001}", 6, 1, "Intel(R) Ethernet Connection I219-LM", "192.0.2.10", "255.255.255.0"),
           ("{0000FA4E-0000-4000-8000-000000000002}", 53, 2, "WireGuard Tunnel", "10.64.0.2", "255.255.255.0"),
           ("{0000FA4E-0000-4000-8000-000000000003}", 6, 3, "TAP-Windows Adapter V9", "10.8.0.6", "255.0.255.0"),
           ("{0000FA4E-0000-4000-8000-000000000004}", 6, 4, "Realtek USB GbE", "0.0.0.0", "0.0.0.0")]
with tempfile.TemporaryDirectory() as folder:
    for built in (LINKSET[2], os.path.join(os.path.dirname(LINKSET[2]), "LinkSet.dll"), sys.argv[4]):
        shutil.copy(built, folder)
    with open(os.path.join(folder, "machine.txt"), "w") as machine:
        machine.writelines("\t".join(map(str, adapter)) + "\n" for adapter in MACHINE)
    where = {"linkset": [*LINKSET[:2], os.path.join(folder, "linkset.exe")],
             "env": dict(os.environ, LINKSET_DLL_OVERRIDES="iphlpapi=n,b", LINKSET_FAKE_IP_HELPER="Z:" + folder + "/machine.txt")}
    tunnels = json.loads(document("vpn", "--wait", "0", "--json", **where))["tunnels"]
    expect([(t["family"], t["known"], t["description"], t["address"]) for t in tunnels] ==
           [("WireGuard", True, "WireGuard Tunnel", "10.64.0.2"), ("OpenVPN", True, "TAP-Windows Adapter V9", "10.8.0.6")],
           f"tunnels of the made-up machine: {tunnels}")
    made_up = json.loads(document("ports", "--json", **where))["ports"]
    marks = [(port["tunnel"], port["address"], len(port["addresses"])) for port in made_up]
    expect(marks == [(None, "192.0.2.10", 1), ({"family": "WireGuard", "known": True}, "10.64.0.2", 1),
                     ({"family": "OpenVPN", "known": True}, "10.8.0.6", 1), (None, None, 0)], f"marks {marks}")
    brief, text = document("ports", "--brief", **where), document("ports", **where)
    expect("tunnel: WireGuard" in brief and "tunnel: OpenVPN" in brief and "0.0.0.0" not in brief + text, f"ports --brief: {brief}")
    expect(all(line in text.splitlines() for line in ('ethernet "Intel(R) Ethernet Connection I219-LM"',
           "  addresses    192.0.2.10/24", "  addresses    10.8.0.6/255.0.255.0", "  addresses    -")), f"ports: {text}")
    expect([len(json.loads(document("ports", "--json", "--name", name, **where))["ports"]) for name in
            ("*", "tap-WINDOWS adapter v?", "{0000FA4E-*-000000000002}", "TAP", "no such port*")] == [4, 1, 1, 0, 0],
           "--name selects by name or description, in any case")

print("".join(f"FAIL: {failure}\n" for failure in failures) + f"{len(passed)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
