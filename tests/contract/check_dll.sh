#!/bin/sh
# Exports exactly the table's; imports system DLLs only: nothing that writes or came after XP x64, no posix threads.
# usage: check_dll.sh <objdump> <LinkSet.dll> <LinkSet.def>
set -eu
dump=$($1 -p "$2")
fail() { printf '%s\n' "$@"; exit 1; }
imported() { printf '%s\n' "$dump" | grep -E "^\s+[0-9a-f]+\s+[0-9]+\s+($1)\$" || true; }

base=$(printf '%s\n' "$dump" | sed -n 's/.*Ordinal Base \([0-9]*\).*/\1/p')
exported=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' |
    awk -v base="$base" '{ print $1 + base, $2 }' | sort)
expected=$(sed -n 's/^\s*"\([^"]*\)".*@\([0-9]*\).*/\2 \1/p' "$3" | sort)
[ "$exported" = "$expected" ] || fail "exports differ from the export table; expected:" "$expected" "exported:" "$exported"
writers=$(imported 'Reg(Set|Create|Delete|Save|Replace|Restore)[A-Za-z]*|(Create|Write|Delete|Move|Copy)File[A-Za-z]*|send|sendto|WSASend[A-Za-z]*|connect')
[ -z "$writers" ] || fail "imports functions that write:" "$writers"
newer=$(imported '[A-Za-z]*(SRWLock|InitOnce|ConditionVariable|GetTickCount64|Fls(Alloc|Free|GetValue|SetValue))[A-Za-z]*')
[ -z "$newer" ] || fail "imports functions that came with Vista:" "$newer"
! $1 -t "$2" | grep -q " pthread_" || fail "carries a posix thread library"
for import in $(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p'); do
    case " KERNEL32.dll msvcrt.dll ADVAPI32.dll USER32.dll WS2_32.dll VERSION.dll ole32.dll " in
        *" $import "*) ;;
        *) fail "imports a non-system DLL: $import" ;;
    esac
done
echo "exports match the table; imports are system DLLs only, none writes or came with Vista; no posix threads"
