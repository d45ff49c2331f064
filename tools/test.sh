#!/bin/bash
# Builds everything and runs every test: the portable core natively under ASan and
# UBSan, the fuzz targets as bounded regressions, the update server's own tests and the
# routes of the real nginx and squid, and the Windows build under Wine (unit tests
# against the real platform calls, then the end-to-end tests of the real Seekwell.exe).
# Installs what is missing first.
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
OUT="${SEEKWELL_BUILD_ROOT:-$SRC/out}"
"$SRC/tools/setup.sh"
export LANG=C.UTF-8
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

step "Windows build (mingw-w64, i686)"
cmake -G Ninja -S "$SRC" -B "$OUT/win" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-i686.cmake" -DSEEKWELL_DEV_FRESHNESS_APART=ON >/dev/null
cmake --build "$OUT/win" -j2

step "Windows tests under Wine (unit, then end to end); long tests labelled 'slow' run too"
SEEKWELL_ARTIFACTS="$OUT/artifacts" "$SRC/tools/run-win-tests.sh" "$OUT/win" "$@" || failed="32-bit prefix"

# On 64-bit Windows the 32-bit updater runs under WoW64, the mail programs are mostly
# 64-bit and per-machine settings sit in the 32-bit registry view. A second prefix, 64-bit,
# runs the guard's tests and the road from Start to a running installer that way.
step "Windows tests under Wine in a 64-bit prefix (WoW64): the guard and the whole road"
SEEKWELL_WINE_ARCH=win64 SEEKWELL_ARTIFACTS="$OUT/artifacts-wow64" "$SRC/tools/run-win-tests.sh" "$OUT/win" \
    -R 'ProcessCounter|CloseApps|^Install\.|^Startup' "$@" || failed="${failed:+$failed, }64-bit prefix"

step "done in $(( $(date +%s) - start )) s; screenshots in $OUT/artifacts and $OUT/artifacts-wow64"
if [ -n "${failed:-}" ]; then
    echo "Windows tests failed: $failed" >&2
    exit 1
fi
