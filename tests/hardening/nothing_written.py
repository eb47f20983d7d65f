# The library only reads the system: the prefix's registry (as exported) and files are the same after
# linkset's ports, addresses and vpn commands, on this machine and on a made-up one (the IP Helper
# and Remote Access doubles beside a copy of linkset), apart from what Wine changes itself.
# usage: nothing_written.py <wine-run.sh> <prefix> <linkset.exe> <folder of the doubles>
import hashlib, os, shutil, subprocess, sys, tempfile

wine_run, prefix, linkset, doubles = sys.argv[1:5]
# Wine's own: its hive files (compared through the export) and its service manager's start counter.
WINE_FILES = ("system.reg", "user.reg", "userdef.reg", ".update-timestamp")
WINE_KEY = "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent]"


def wine(*command, **environment):
    return subprocess.run([wine_run, prefix, *command], capture_output=True, timeout=120, check=True,
                          env=dict(os.environ, **environment)).stdout


def snapshot():
    seen, key = set(), ""
    with tempfile.TemporaryDirectory() as scratch:
        for hive in ("HKLM", "HKCU", "HKU"):
            path = os.path.join(scratch, hive + ".reg")
            wine("reg", "export", hive, "Z:" + path.replace("/", "\\"), "/y")
            with open(path, encoding="utf-16", errors="replace") as exported:
                for line in exported.read().splitlines():
                    if line.startswith("["):
                        key = line
                    elif line and key != WINE_KEY:
                        seen.add(key + " " + line)
    for folder, _, names in os.walk(prefix):
        for path in (os.path.join(folder, name) for name in names if name not in WINE_FILES):
            if not os.path.islink(path):
                with open(path, "rb") as content:
                    seen.add(os.path.relpath(path, prefix) + " " + hashlib.sha256(content.read()).hexdigest())
    return seen


with tempfile.TemporaryDirectory() as folder:
    for built in (linkset, os.path.join(os.path.dirname(linkset), "LinkSet.dll"),
                  os.path.join(doubles, "iphlpapi.dll"), os.path.join(doubles, "rasapi32.dll")):
        shutil.copy(built, folder)
    with open(os.path.join(folder, "machine.txt"), "w") as machine:
        machine.write("{0000FA4E-0000-4000-8000-000000000001}\t23\t1\tDial-up link\t10.1.2.3\t255.255.255.255\n")
    made_up = {"LINKSET_DLL_OVERRIDES": "iphlpapi,rasapi32=n,b", "LINKSET_FAKE_IP_HELPER": "Z:" + folder + "/machine.txt"}

    for run in range(3):
        if run == 1:  # after Wine's first run of a program, which changes what it changes once
            before = snapshot()
        for program, environment in ((linkset, {}), (os.path.join(folder, "linkset.exe"), made_up)):
            ports = [wine(program, *command, **environment) for command in (["ports", "--json"], ["addresses"], ["vpn", "--wait", "6"])][0]
            if environment and b"10.1.2.3" not in ports:
                sys.exit("the made-up machine was not the one linkset saw")
    after = snapshot()
changed = sorted(before ^ after)
for line in changed:
    print("changed:", line)
registry_lines = sum(line.startswith("[") for line in after)
print(f"{registry_lines} registry lines and {len(after) - registry_lines} files compared, {len(changed)} changed")
sys.exit(1 if changed else 0)
