#!/bin/bash
# Builds everything and runs every test: the portable core natively under ASan and
# UBSan, the fuzz targets as bounded regressions, the update server's own tests and the
# routes of the real nginx and squid, and the Windows side under Wine (unit tests against
# the real platform calls, then the end-to-end tests of the real Seekwell.exe) in every
# leg this host can run (tools/win-legs.sh). Installs what is missing first.
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
OUT="${SEEKWELL_BUILD_ROOT:-$SRC/out}"
"$SRC/tools/setup.sh"
export LANG=C.UTF-8
. "$SRC/tools/host-probe.sh"
. "$SRC/tools/win-legs.sh"
start=$(date +%s)

last=$start
step() {
    now=$(date +%s)
    printf '\n== [%4d s, +%d s] %s\n' "$((now - start))" "$((now - last))" "$*"
    last=$now
}

step "native core tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake -G Ninja -S "$SRC" -B "$OUT/native" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" >/dev/null
cmake --build "$OUT/native" -j2
ctest --test-dir "$OUT/native" --output-on-failure

step "fuzz targets as bounded regressions"
CC=clang CXX=clang++ cmake -G Ninja -S "$SRC" -B "$OUT/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEEKWELL_FUZZ=ON >/dev/null
cmake --build "$OUT/fuzz" -j2
ctest --test-dir "$OUT/fuzz" --output-on-failure -L fuzz

step "update server tests; the real nginx and squid routes"
/usr/bin/python3 -m unittest discover -s "$SRC/tools" -p 'test_*.py'

# Asked once, by trying: whether this host can execute 32-bit x86 code at all.
probe_32bit_execution
plan_win_legs
if [ "$HOST_RUNS_32BIT" = yes ]; then
    echo "This host runs 32-bit x86 code ($HOST_32BIT_PROBE): all three Wine legs run."
else
    echo "This host cannot execute 32-bit x86 code ($HOST_32BIT_PROBE): the x86_64 build runs the whole Windows suite."
fi
# Wine's absence fails every leg that needs it, saying so, rather than dropping any.
command -v wine >/dev/null || echo "Wine is missing (packages wine, wine32:i386, wine64): the Wine legs fail" >&2

# The shipped executable is always built: it is what the gate reads. Its tests and tools
# are built only where they can run.
win_status=0
if leg_runs 32-bit; then
    step "Windows build (mingw-w64, i686)"
    cmake -G Ninja -S "$SRC" -B "$OUT/win" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-i686.cmake" -DSEEKWELL_DEV_FRESHNESS_APART=ON >/dev/null
    cmake --build "$OUT/win" -j2 || win_status=$?
else
    step "Windows build (mingw-w64, i686): the shipped Seekwell.exe alone"
    cmake -G Ninja -S "$SRC" -B "$OUT/win" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-i686.cmake" -DSEEKWELL_DEV_FRESHNESS_APART=ON >/dev/null
    cmake --build "$OUT/win" -j2 --target Seekwell || win_status=$?
fi

step "$(leg_title static)"
static_status=$win_status
if [ "$win_status" -eq 0 ]; then
    /usr/bin/python3 "$SRC/tools/check_executable.py" imports "$OUT/win/Seekwell.exe" \
        "$SRC/tools/allowed-imports.txt" || static_status=$?
    /usr/bin/python3 "$SRC/tools/check_executable.py" manifest "$OUT/win/Seekwell.exe" >/dev/null ||
        static_status=$?
fi
record_leg static "$static_status"

if leg_runs 32-bit; then
    step "$(leg_title 32-bit), in three sessions at once; long tests labelled 'slow' run too"
    leg_status=$win_status
    [ "$win_status" -ne 0 ] || run_windows_suite_split "$OUT/win" "$OUT/artifacts" "$@" || leg_status=$?
    record_leg 32-bit "$leg_status"
fi

# On 64-bit Windows the 32-bit updater runs under WoW64, the mail programs are mostly
# 64-bit and per-machine settings sit in the 32-bit registry view.
if leg_runs wow64; then
    step "$(leg_title wow64)"
    leg_status=$win_status
    [ "$win_status" -ne 0 ] || SEEKWELL_WINE_ARCH=win64 SEEKWELL_ARTIFACTS="$OUT/artifacts-wow64" \
        "$SRC/tools/run-win-tests.sh" "$OUT/win" -R "$WIN_ROAD_AND_GUARD" "$@" || leg_status=$?
    record_leg wow64 "$leg_status"
fi

# The same source built for x86_64, run by Wine's 64-bit loader alone: the one leg a host
# without 32-bit execution has, and elsewhere a check that the 64-bit build stays honest.
step "Windows build (mingw-w64, x86_64)"
cmake -G Ninja -S "$SRC" -B "$OUT/win64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-x86_64.cmake" -DSEEKWELL_DEV_FRESHNESS_APART=ON >/dev/null
leg_status=0
if [ "$WHOLE_SUITE_LEG" = 64-bit ]; then
    cmake --build "$OUT/win64" -j2 || leg_status=$?
else
    cmake --build "$OUT/win64" -j2 --target guard_tests e2e_tests sleeper || leg_status=$?
fi
step "$(leg_title 64-bit)"
if [ "$leg_status" -eq 0 ]; then
    if [ "$WHOLE_SUITE_LEG" = 64-bit ]; then
        SEEKWELL_WINE_ARCH=win64-native run_windows_suite_split "$OUT/win64" "$OUT/artifacts-64" "$@" ||
            leg_status=$?
    else
        SEEKWELL_WINE_ARCH=win64-native SEEKWELL_ARTIFACTS="$OUT/artifacts-64" \
            "$SRC/tools/run-win-tests.sh" "$OUT/win64" -R "$WIN_ROAD_AND_GUARD" "$@" || leg_status=$?
    fi
fi
record_leg 64-bit "$leg_status"

step "done in $(( $(date +%s) - start )) s; screenshots in $OUT/artifacts*"
report_win_legs
