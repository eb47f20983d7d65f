# The library only reads the system: the private prefix's registry (as Wine exports it) and its
# files are the same after a full run as before, apart from what Wine itself changes, named here.
# The run: linkset's ports, addresses and vpn commands (a manager, its cycles, detection with
# every kind, the delete and the unload of the library), twice: on this machine, and on a
# made-up one from the IP Helper and Remote Access doubles, which lie beside a copy of linkset.
# usage: nothing_written.py <wine-run.sh> <prefix> <linkset.exe> <folder of the doubles>
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

wine_run, prefix, linkset, doubles = sys.argv[1:5]
# Wine's own: the files of its registry hives (compared through the export instead), and the
# counter its service manager raises each time it starts a service on a program's behalf.
WINE_FILES = ("system.reg", "user.reg", "userdef.reg", ".update-timestamp")
WINE_KEYS = ("[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent]",)


def registry():
    values = []
    with tempfile.TemporaryDirectory() as scratch:
        for hive in ("HKLM", "HKCU", "HKU"):
            path = os.path.join(scratch, hive + ".reg")
            subprocess.run([wine_run, prefix, "reg", "export", hive, "Z:" + path.replace("/", "\\"), "/y"],
                           capture_output=True, check=True)
            key = ""
            with open(path, encoding="utf-16", errors="replace") as exported:
                for line in exported.read().splitlines():
                    if line.startswith("["):
                        key = line
                    elif line and key not in WINE_KEYS:
                        values.append(key + " " + line)
    return values


def files():
    seen = {}
    for folder, _, names in os.walk(prefix):
        for name in names:
            path = os.path.join(folder, name)
            if name in WINE_FILES or os.path.islink(path):
                continue
            with open(path, "rb") as content:
                seen[os.path.relpath(path, prefix)] = hashlib.sha256(content.read()).hexdigest()
    return seen


def run_linkset(program, **environment):
    """The ports as JSON, after the three commands ran."""
    outputs = [subprocess.run([wine_run, prefix, program, *command], capture_output=True, timeout=120, check=True,
                              env=dict(os.environ, **environment)).stdout
               for command in (["ports", "--json"], ["addresses"], ["vpn", "--wait", "6"])]
    return outputs[0].decode()


with tempfile.TemporaryDirectory() as folder:
    for built in (linkset, os.path.join(os.path.dirname(linkset), "LinkSet.dll"),
                  os.path.join(doubles, "iphlpapi.dll"), os.path.join(doubles, "rasapi32.dll")):
        shutil.copy(built, folder)
    with open(os.path.join(folder, "machine.txt"), "w") as machine:
        machine.write("{0000FA4E-0000-4000-8000-000000000001}\t23\t1\tDial-up link\t10.1.2.3\t255.255.255.255\n")
    made_up = {"LINKSET_DLL_OVERRIDES": "iphlpapi,rasapi32=n,b", "LINKSET_FAKE_IP_HELPER": "Z:" + folder + "/machine.txt"}

    def run_both():
        run_linkset(linkset)
        if "10.1.2.3" not in run_linkset(os.path.join(folder, "linkset.exe"), **made_up):
            sys.exit("the made-up machine was not the one linkset saw")

    run_both()  # Wine's first run of a program changes what it changes once
    registry_before, files_before = registry(), files()
    run_both()
    run_both()
    registry_after, files_after = registry(), files()
changed = list(set(registry_before) ^ set(registry_after))
changed += [path for path in set(files_before) | set(files_after) if files_before.get(path) != files_after.get(path)]
for line in sorted(changed):
    print("changed:", line)
print(f"{len(registry_after)} registry lines and {len(files_after)} files compared, {len(changed)} changed")
sys.exit(1 if changed else 0)
