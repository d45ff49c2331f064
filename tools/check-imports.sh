#!/bin/sh
# Checks what Seekwell.exe imports: the process-enumeration services must be bound at
# run time only (neither Psapi.dll nor any Toolhelp or process-status function is
# imported), and the runtime is linked statically (no libstdc++/libgcc/winpthread DLL).
set -eu
exe=$1
imports=$(i686-w64-mingw32-objdump -p "$exe")
fail=0
for name in PSAPI.DLL libstdc++ libgcc libwinpthread; do
    if printf '%s\n' "$imports" | grep -i "DLL Name: .*$name" >/dev/null; then
        echo "imports $name"; fail=1
    fi
done
for function in CreateToolhelp32Snapshot Process32First Process32Next EnumProcesses EnumProcessModules \
                GetModuleFileNameExA K32EnumProcesses K32EnumProcessModules K32GetModuleFileNameExA; do
    if printf '%s\n' "$imports" | grep -E "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$function\$" >/dev/null; then
        echo "imports $function"; fail=1
    fi
done
[ "$fail" -eq 0 ] && echo "imports ok: $(printf '%s\n' "$imports" | grep 'DLL Name' | awk '{print $3}' | tr '\n' ' ')"
exit "$fail"
