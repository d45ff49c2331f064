#!/bin/bash
# The measurements of bench/run.sh, run inside its Xvfb display with its prefix, server
# and environment. Every program prints "RESULT group name value" lines into $RESULTS;
# their other output goes to out/bench/bench.log.
set -euo pipefail
: "${RESULTS:?} ${BUILD:?} ${WORK:?} ${PRODUCT_DIR:?} ${HOST:?} ${TOKEN:?}"
LOG=$(dirname "$RESULTS")/bench.log
: >"$LOG"
PORT=$SEEKWELL_TEST_PORT
URL_BASE="http://$HOST/store/$TOKEN/Quorvel30"
BENCH_C="$WINEPREFIX/drive_c/bench"

# One Windows program of the build; its results are kept, a failure is logged and the
# run goes on (the table then shows fewer repetitions).
measure() {
    timeout 600 wine "$@" </dev/null 2>>"$LOG" | grep '^RESULT' >>"$RESULTS" ||
        echo "failed: $*" | tee -a "$LOG" >&2
}

wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' \
    /v ProxyEnable /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' \
    /v ProxyServer /t REG_SZ /d "127.0.0.1:$PORT" /f >/dev/null 2>&1
# A copy of the guard bench that the prefix presents as Windows 98 (platform family 1).
wine reg add 'HKCU\Software\Wine\AppDefaults\bench_guard98.exe' /v Version /t REG_SZ /d win98 /f \
    >/dev/null 2>&1
mkdir -p "$BENCH_C/download" "$WORK/bin"
cp "$BUILD/sleeper.exe" "$BENCH_C/sleeper.exe"
cp "$BUILD/bench_guard.exe" "$WORK/bin/bench_guard98.exe"

curl_download() {
    local megabytes=$1
    curl -s --fail -x "http://127.0.0.1:$PORT" -o "$WORK/curl.bin" -w '%{size_download} %{time_total}\n' \
        "$URL_BASE/bench-$megabytes.bin" |
        awk -v g="download.$megabytes.curl" '{ printf "RESULT %s bytes %d\nRESULT %s wall_ms %.3f\n", g, $1, g, $2 * 1000 }' \
            >>"$RESULTS" || echo "failed: curl $megabytes" | tee -a "$LOG" >&2
    rm -f "$WORK/curl.bin"
}

# "SIZE SHA256" of a served package: what its signed manifest line would say.
manifest_entry() {
    echo "$(stat -c %s "$1") $(sha256sum "$1" | cut -d' ' -f1)"
}

wine_download() {
    local variant=$1 megabytes=$2
    # shellcheck disable=SC2046
    measure "$BUILD/bench_download.exe" "$variant" "$URL_BASE/bench-$megabytes.bin" \
        "C:\\bench\\download\\bench-$megabytes.bin" "$megabytes" $(manifest_entry "$PRODUCT_DIR/bench-$megabytes.bin")
}

echo "$(date +%T) == download throughput: updater path, bare platform call, curl"
for plan in 10:5 100:7 500:5; do
    megabytes=${plan%%:*}
    rounds=${plan##*:}
    for round in $(seq 1 "$rounds"); do
        # Each round times the updater's path and the bare call twice, in mirrored order
        # (a b b a), and curl once; every other round starts with the other one. A load
        # that changes during a round weighs on both alike.
        if [ $((round % 2)) -eq 1 ]; then order="product bare bare product curl"; else order="bare product product bare curl"; fi
        for variant in $order; do
            # Whatever the previous transfer left to be written out is written now, not
            # during the next one's stopwatch.
            sync
            if [ "$variant" = curl ]; then curl_download "$megabytes"; else wine_download "$variant" "$megabytes"; fi
        done
    done
    echo "   $megabytes MB: $rounds rounds"
done

if [ -n "${SEEKWELL_REAL_PROXY_PLAIN:-}" ]; then
    echo "$(date +%T) == 100 MiB through nginx and squid: updater path and bare call, same route"
    cp "$PRODUCT_DIR/bench-100.bin" "$REAL_DIR/www/store/$TOKEN/Quorvel30/bench-100.bin"
    wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' \
        /v ProxyServer /t REG_SZ /d "$SEEKWELL_REAL_PROXY_PLAIN" /f >/dev/null 2>&1
    for round in 1 2 3 4 5; do
        if [ $((round % 2)) -eq 1 ]; then order="product bare bare product"; else order="bare product product bare"; fi
        for variant in $order; do
            sync
            # shellcheck disable=SC2046
            measure "$BUILD/bench_download.exe" "$variant" "$URL_BASE/bench-100.bin" \
                "C:\\bench\\download\\bench-100.bin" real100 $(manifest_entry "$PRODUCT_DIR/bench-100.bin")
        done
    done
    wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' \
        /v ProxyServer /t REG_SZ /d "127.0.0.1:$PORT" /f >/dev/null 2>&1
fi

echo "$(date +%T) == the package check: the updater's hash against a bare CryptoAPI loop"
for plan in 10:7 100:7 500:5; do
    megabytes=${plan%%:*}
    rounds=${plan##*:}
    file="$PRODUCT_DIR/bench-$megabytes.bin"
    windows_file="Z:$(echo "$file" | tr '/' '\\')"
    read -r size sha <<<"$(manifest_entry "$file")"
    # Warm: the file was just written, as a downloaded package is when it is checked.
    cat "$file" >/dev/null
    for round in $(seq 1 "$rounds"); do
        if [ $((round % 2)) -eq 1 ]; then order="product bare bare product"; else order="bare product product bare"; fi
        for variant in $order; do
            if [ "$variant" = product ]; then
                measure "$BUILD/bench_download.exe" hash "$windows_file" "$size" "$sha" "$megabytes"
            else
                measure "$BUILD/bench_download.exe" barehash "$windows_file" "$megabytes"
            fi
        done
    done
    echo "   $megabytes MB: $rounds rounds"
done

echo "$(date +%T) == Install's two checks: the manifest's hash, then the installer's signature"
for plan in 10:7 100:7; do
    megabytes=${plan%%:*}
    rounds=${plan##*:}
    # The stand-in installer carrying the package's bytes, signed with the build's
    # development code-signing key, as a vendor's installer carries its payload.
    file="$WORK/signed-$megabytes.exe"
    /usr/bin/python3 "$SRC/tools/authenticode.py" sign --key "$BUILD/signing/dev-codesign-key.pem" \
        --cert "$BUILD/signing/dev-codesign-cert.pem" --in "$BUILD/fake_installer-unsigned.exe" \
        --append "$PRODUCT_DIR/bench-$megabytes.bin" --out "$file"
    windows_file="Z:$(echo "$file" | tr '/' '\\')"
    read -r size sha <<<"$(manifest_entry "$file")"
    cat "$file" >/dev/null
    for _ in $(seq 1 "$rounds"); do
        measure "$BUILD/bench_download.exe" install "$windows_file" "$size" "$sha" "$megabytes"
    done
    rm -f "$file"
    echo "   $megabytes MB: $rounds rounds"
done

echo "$(date +%T) == price of one notification, without a transfer"
for _ in 1 2 3 4 5; do measure "$BUILD/bench_download.exe" price 100; done

echo "$(date +%T) == the real updater's whole road to a downloaded package: time and peak working set"
for megabytes in 10 100 500; do
    ln -sf "bench-$megabytes.bin" "$PRODUCT_DIR/QuorvelUpdate.exe"
    measure "$BUILD/bench_driver.exe" road "$megabytes"
done
rm -f "$PRODUCT_DIR"/bench-*.bin "$PRODUCT_DIR/QuorvelUpdate.exe"

echo "$(date +%T) == guard latency with the prefix's processes and with 50 and 200 more"
for plan in 0:15 50:11 200:9; do
    extra=${plan%%:*}
    rounds=${plan##*:}
    spawner=""
    if [ "$extra" -gt 0 ]; then
        rm -f "$BENCH_C/ready"
        wine "$BUILD/bench_spawn.exe" "$extra" 'C:\bench\sleeper.exe' 'C:\bench\ready' </dev/null >>"$LOG" 2>&1 &
        spawner=$!
        for _ in $(seq 1 1800); do [ -e "$BENCH_C/ready" ] && break; sleep 0.1; done
    fi
    measure "$BUILD/bench_guard.exe" "$rounds" "x$extra"
    measure "$WORK/bin/bench_guard98.exe" "$rounds" "x$extra"
    if [ -n "$spawner" ]; then
        rm -f "$BENCH_C/ready"
        wait "$spawner" || echo "failed: not all $extra extra processes ran" | tee -a "$LOG" >&2
    fi
    echo "   +$extra processes: $rounds rounds"
done

echo "$(date +%T) == start-up to the ready dialog"
measure "$BUILD/bench_driver.exe" startup 13

echo "$(date +%T) == version check: Start to the message box"
measure "$BUILD/bench_driver.exe" check 9 now
measure "$BUILD/bench_driver.exe" check 9 delay100

wineserver -k
