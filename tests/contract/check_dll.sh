#!/bin/sh
# Checks LinkSet.dll as objdump shows it: every line of the export table is exported under its
# decorated name at its ordinal, nothing else is exported, every import is a system DLL, no
# imported function writes the registry, files or the network, and no posix thread library is
# built in.
# usage: check_dll.sh <objdump> <LinkSet.dll> <LinkSet.def>
set -eu
objdump=$1 dll=$2 def=$3
system_dlls='KERNEL32.dll msvcrt.dll ADVAPI32.dll USER32.dll WS2_32.dll VERSION.dll ole32.dll'
status=0

dump=$($objdump -p "$dll")
# "[   5] +base[   6] 18b0 Export RVA" lines give ordinals by position, the name table names.
ordinals=$(printf '%s\n' "$dump" | sed -n 's/^\s*\[ *\([0-9]*\)\] +base\[ *\([0-9]*\)\].*/\1 \2/p')
names=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p')
exported=$(printf '%s\n' "$names" | while read -r index name; do
    ordinal=$(printf '%s\n' "$ordinals" | awk -v i="$index" '$1 == i { print $2 }')
    echo "$ordinal $name"
done | sort)
expected=$(sed -n 's/^\s*"\([^"]*\)".*@\([0-9]*\).*/\2 \1/p' "$def" | sort)
if [ "$exported" != "$expected" ]; then
    echo "exports differ from the export table:"
    printf 'expected:\n%s\nexported:\n%s\n' "$expected" "$exported"
    status=1
fi

# The library only reads the system: no function that writes the registry, files or the network.
writers=$(printf '%s\n' "$dump" | grep -E '^\s+[0-9a-f]+\s+[0-9]+\s+(Reg(Set|Create|Delete|Save|Replace|Restore)[A-Za-z]*|(Create|Write|Delete|Move|Copy)File[A-Za-z]*|send|sendto|WSASend[A-Za-z]*|connect)$' || true)
if [ -n "$writers" ]; then
    echo "imports functions that write:"
    printf '%s\n' "$writers"
    status=1
fi

# 64-bit Windows began with XP x64: nothing that came only with Vista may be imported, or the
# library would not load there.
newer=$(printf '%s\n' "$dump" | grep -E '^\s+[0-9a-f]+\s+[0-9]+\s+[A-Za-z]*(SRWLock|InitOnce|ConditionVariable|GetTickCount64|Fls(Alloc|Free|GetValue|SetValue))[A-Za-z]*$' || true)
if [ -n "$newer" ]; then
    echo "imports functions that came with Vista:"
    printf '%s\n' "$newer"
    status=1
fi

# The runtime inside is MinGW's win32 thread model, which calls the system directly: no posix
# thread library comes along into a host's process.
if $objdump -t "$dll" | grep -q " pthread_"; then
    echo "carries a posix thread library"
    status=1
fi

for import in $(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p'); do
    case " $system_dlls " in
        *" $import "*) ;;
        *) echo "imports a non-system DLL: $import"; status=1 ;;
    esac
done
[ $status -eq 0 ] && echo "exports match the table; imports are system DLLs only, none writes; no posix threads"
exit $status
