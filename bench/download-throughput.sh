#!/bin/bash
# Throughput of a large package download: the updater's own transfer (DownloadPackage
# through bench_download.exe, under Wine, through the proxy route the updater uses)
# beside curl fetching the same file from the same local server the same way. Prints
# MB/s for each; asserts nothing about speed. Builds bench_download in BUILD_DIR first.
# Usage: download-throughput.sh BUILD_DIR [megabytes, default 200] [runs, default 2]
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$1" && pwd)
MEGABYTES=${2:-200}
RUNS=${3:-2}
cmake --build "$BUILD" -j2 --target bench_download >/dev/null
. "$SRC/tools/wine-session.sh"
start_wine_session bench

HOST=$(sed -n 's/^#define SEEKWELL_UPDATE_HOST "\(.*\)"/\1/p' "$SRC/resources/UpdateHost.h")
TOKEN=$(sed -n 's/^#define SEEKWELL_UPDATE_TOKEN "\(.*\)"/\1/p' "$SRC/resources/UpdateHost.h")
PACKAGE=$(sed -n 's/^#define SEEKWELL_PACKAGE_NAME "\(.*\)"/\1/p' "$SRC/resources/UpdateHost.h")
SERVED="$WORK/www/store/$TOKEN/Quorvel30/$PACKAGE"
mkdir -p "$(dirname "$SERVED")" "$WORK/bench"
/usr/bin/python3 "$SRC/tools/update_server.py" --make-file "$SERVED" --size $((MEGABYTES * 1024 * 1024))

start_update_server 1800 "$BUILD/signing/dev-private.pem" "$(dev_freshness_key "$BUILD")"
PORT=$SEEKWELL_TEST_PORT
export SEEKWELL_TEST_WORK=$(to_windows "$WORK")

export BUILD RUNS PORT HOST TOKEN PACKAGE WORK SERVED
echo "Package: $MEGABYTES MiB from 127.0.0.1:$PORT as http://$HOST/store/$TOKEN/Quorvel30/$PACKAGE"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    wineserver -p
    wine cmd /c exit </dev/null >/dev/null 2>&1
    for run in $(seq 1 "$RUNS"); do
        curl -s -x "http://127.0.0.1:$PORT" -o "$WORK/bench/curl.bin" \
            -w "%{size_download} %{time_total}\n" "http://$HOST/store/$TOKEN/Quorvel30/$PACKAGE" |
            awk "{ printf \"curl: %d bytes in %.2f s = %.1f MB/s\\n\", \$1, \$2, \$1 / \$2 / 1e6 }"
        cmp -s "$SERVED" "$WORK/bench/curl.bin" || echo "curl: file differs"
        rm -f "$WORK/bench/curl.bin"
        http_proxy="http://127.0.0.1:$PORT" timeout 600 wine "$BUILD/bench_download.exe" product \
            "http://$HOST/store/$TOKEN/Quorvel30/$PACKAGE" "$SEEKWELL_TEST_WORK\\bench\\$PACKAGE" \
            throughput $(stat -c %s "$SERVED") $(sha256sum "$SERVED" | cut -d' ' -f1) keep </dev/null 2>/dev/null |
            awk "\$1 == \"RESULT\" { v[\$3] = \$4 + 0 }
                 END { printf \"DownloadPackage: %s, %d bytes in %.2f s = %.1f MB/s, %d notifications, bar %d\\n\",
                              v[\"ok\"] == 1 ? \"complete\" : \"FAILED\", v[\"bytes\"], v[\"wall_ms\"] / 1000,
                              v[\"bytes\"] / v[\"wall_ms\"] / 1000, v[\"notifications\"], v[\"bar\"] }"
        cmp -s "$SERVED" "$WORK/bench/$PACKAGE" || echo "DownloadPackage: file differs"
        rm -f "$WORK/bench/$PACKAGE"
    done
    wineserver -k'
