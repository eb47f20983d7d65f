# The library only reads the system: the private prefix's registry (as Wine exports it) and its
# files are the same after a full run as before, apart from what Wine itself changes, named here.
# The run: linkset's ports, addresses and vpn commands (a manager, its cycles, detection with
# every kind, the delete and the unload of the library), twice.
# usage: nothing_written.py <wine-run.sh> <prefix> <linkset.exe>
import hashlib
import os
import subprocess
import sys
import tempfile

wine_run, prefix, linkset = sys.argv[1:4]
# Wine's own: the files of its registry hives (compared through the export instead), and the
# counter its service manager raises each time it starts a service on a program's behalf.
WINE_FILES = ("system.reg", "user.reg", "userdef.reg", ".update-timestamp")
WINE_KEYS = ("[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent]",)


def registry():
    values = []
    for hive in ("HKLM", "HKCU", "HKU"):
        with tempfile.NamedTemporaryFile(suffix=".reg", delete=False) as out:
            path = out.name
        subprocess.run([wine_run, prefix, "reg", "export", hive, "Z:" + path.replace("/", "\\"), "/y"],
                       capture_output=True, check=True)
        key = ""
        with open(path, encoding="utf-16", errors="replace") as exported:
            for line in exported.read().splitlines():
                if line.startswith("["):
                    key = line
                elif line and key not in WINE_KEYS:
                    values.append(key + " " + line)
        os.remove(path)
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


def run_linkset():
    for command in (["ports", "--json"], ["addresses"], ["vpn", "--wait", "6"]):
        subprocess.run([wine_run, prefix, linkset, *command], capture_output=True, timeout=120, check=True)


run_linkset()  # Wine's first run of a program changes what it changes once
registry_before, files_before = registry(), files()
run_linkset()
run_linkset()
registry_after, files_after = registry(), files()
changed = [line for line in set(registry_before) ^ set(registry_after)]
changed += [path for path in set(files_before) | set(files_after) if files_before.get(path) != files_after.get(path)]
for line in sorted(changed):
    print("changed:", line)
print(f"{len(registry_after)} registry lines and {len(files_after)} files compared, {len(changed)} changed")
sys.exit(1 if changed else 0)
