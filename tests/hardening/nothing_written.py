# The library only reads the system: the prefix's registry (as exported) and files are the same after
# linkset's ports, addresses and vpn commands, on this machine and on a made-up one (the IP Helper
# and Remote Access doubles beside a copy of linkset), apart from what Wine changes itself.
# usage: nothing_written.py <wine-run.sh> <prefix> <linkset.exe> <folder of the doubles>
import hashlib, os, shutil, subprocess, sys, tempfile
from pathlib import Path

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
            path = Path(scratch, hive + ".reg")
            wine("reg", "export", hive, "Z:" + str(path).replace("/", "\\"), "/y")
            for line in path.read_text(encoding="utf-16", errors="replace").splitlines():
                key = line if line.startswith("[") else key
                if line and key not in (line, WINE_KEY):
                    seen.add(key + " " + line)
    files = (Path(directory, name) for directory, _, names in os.walk(prefix) for name in names if name not in WINE_FILES)
    return seen | {f"{path.relative_to(prefix)} {hashlib.sha256(path.read_bytes()).hexdigest()}"
                   for path in files if not path.is_symlink()}


with tempfile.TemporaryDirectory() as folder:
    for built in (linkset, Path(linkset).with_name("LinkSet.dll"), Path(doubles, "iphlpapi.dll"), Path(doubles, "rasapi32.dll")):
        shutil.copy(built, folder)
    Path(folder, "machine.txt").write_text("{0000FA4E-0000-4000-8000-000000000001}\t23\t1\tDial-up link\t10.1.2.3\t255.255.255.255\n")
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
print("".join(f"changed: {line}\n" for line in changed), end="")
registry_lines = sum(line.startswith("[") for line in after)
print(f"{registry_lines} registry lines and {len(after) - registry_lines} files compared, {len(changed)} changed")
sys.exit(1 if changed else 0)
