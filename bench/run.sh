#!/bin/bash
# The benchmark run, in one command: builds the Windows side, makes a fresh Wine prefix,
# starts the local update server, measures the updater beside its references (download
# throughput, guard latency, start-up, size and memory, the version check), prints the
# table and cleans up. Usage: bench/run.sh [BUILD_DIR]   (default build-bench)
# The raw measurements and the table are kept in out/bench/. Not part of the tests.
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC/build-bench}
OUT=$SRC/out/bench
JOBS=${BENCH_JOBS:-2}

"$SRC/tools/setup.sh"
cmake -G Ninja -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target Seekwell sleeper bench_download bench_guard bench_spawn bench_mini \
    bench_driver lang_English lang_German quorvel_module fake_installer
BUILD=$(cd "$BUILD" && pwd)

. "$SRC/tools/wine-session.sh"
start_wine_session bench
mkdir -p "$OUT"
RESULTS=$OUT/results.txt
: >"$RESULTS"
export RESULTS

TOKEN=$(sed -n 's/^#define SEEKWELL_UPDATE_TOKEN "\(.*\)"/\1/p' "$SRC/resources/UpdateHost.h")
HOST=$(sed -n 's/^#define SEEKWELL_UPDATE_HOST "\(.*\)"/\1/p' "$SRC/resources/UpdateHost.h")
PRODUCT_DIR=$WORK/www/store/$TOKEN/Quorvel30
mkdir -p "$PRODUCT_DIR"
for megabytes in 10 100 500; do
    /usr/bin/python3 "$SRC/tools/update_server.py" --make-file "$PRODUCT_DIR/bench-$megabytes.bin" \
        --size $((megabytes * 1024 * 1024))
done

{
    echo "INFO machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(wine --version), $(uname -sr)"
    echo "INFO started $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
} >>"$RESULTS"
start_update_server 3600 "$BUILD/signing/dev-private.pem" "$(dev_freshness_key "$BUILD")"
# The real nginx and squid, for the download through a real route.
REAL_DIR=""
if real_servers_installed; then
    start_real_servers "$WORK/real"
    mkdir -p "$REAL_DIR/www/store/$TOKEN/Quorvel30"
fi
export BUILD WORK SRC PRODUCT_DIR HOST TOKEN REAL_DIR

# Size of what is shipped, and what the executable imports.
{
    echo "RESULT size seekwell_bytes $(stat -c %s "$BUILD/Seekwell.exe")"
    echo "RESULT size res_dll_bytes $(stat -c %s "$BUILD/Languages/English/Res.dll")"
    if /usr/bin/python3 "$SRC/tools/check_executable.py" imports "$BUILD/Seekwell.exe" \
        "$SRC/tools/allowed-imports.txt" >"$WORK/imports.txt"; then
        echo "RESULT size static_runtime 1"
    else
        echo "RESULT size static_runtime 0"
    fi
} >>"$RESULTS"
echo "Seekwell.exe: $(head -n 1 "$WORK/imports.txt")"

# A wineserver started without a display cannot show windows: the measurements run
# inside Xvfb, with the server started there.
xvfb-run -a -s "-screen 0 1024x768x24" bash "$SRC/bench/measure.sh"

echo "INFO ended $(date -u '+%H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)" >>"$RESULTS"
/usr/bin/python3 "$SRC/bench/report.py" "$RESULTS" | tee "$OUT/table.md"
