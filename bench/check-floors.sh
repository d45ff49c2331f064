#!/bin/bash
# The updater's checks against their floors, under Wine with the real CryptoAPI:
#  - the checked download (DownloadPackage: transfer, size and SHA-256, move) against a
#    bare URLDownloadToFileA of the same file plus one bare CryptoAPI SHA-256 pass over
#    what it wrote, at 100 and 500 MiB, in mirrored rounds (updater, floor, floor,
#    updater, then the other way round); the figure is floor time / updater time (higher
#    is better, target >= 0.95)
#  - the version file's check with two signatures against one (the parse and two RSA
#    verifications against the parse and one, on a signed version file of the real
#    size), as the first check of a fresh process and warm in one process; the figure is
#    two / one (target <= 1.2)
# Prints the medians and keeps the raw lines in out/bench/floors.txt; asserts nothing.
# Usage: bench/check-floors.sh BUILD_DIR [rounds, default 5] [download|signature, default both]
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$1" && pwd)
ROUNDS=${2:-5}
WHICH=${3:-both}
cmake --build "$BUILD" -j2 --target bench_download bench_signature >/dev/null
. "$SRC/tools/wine-session.sh"
start_wine_session floors
OUT=$SRC/out/bench
mkdir -p "$OUT"
RESULTS=$OUT/floors.txt
: >"$RESULTS"

HOST=$(sed -n 's/^#define SEEKWELL_UPDATE_HOST "\(.*\)"/\1/p' "$SRC/resources/UpdateHost.h")
TOKEN=$(sed -n 's/^#define SEEKWELL_UPDATE_TOKEN "\(.*\)"/\1/p' "$SRC/resources/UpdateHost.h")
PRODUCT_DIR=$WORK/www/store/$TOKEN/Quorvel30
mkdir -p "$PRODUCT_DIR"
for megabytes in 100 500; do
    /usr/bin/python3 "$SRC/tools/update_server.py" --make-file "$PRODUCT_DIR/bench-$megabytes.bin" \
        --size $((megabytes * 1024 * 1024))
done
# A signed version file of the real size, its signed length and its signature in hex.
/usr/bin/python3 "$SRC/tools/update_server.py" --make-file "$WORK/QuorvelUpdate.exe" --size 3145728
/usr/bin/python3 - "$SRC/tools" "$BUILD/signing/dev-private.pem" "$WORK" <<'PY'
import base64, os, sys
sys.path.insert(0, sys.argv[1])
import publish
work = sys.argv[3]
text = publish.stage(sys.argv[2], "3.0.1.3", [os.path.join(work, "QuorvelUpdate.exe")], work)
if isinstance(text, str):
    text = text.encode("ascii")
start = text.rindex(b"signature ")
signature = base64.b64decode(text[start + len(b"signature "):].strip())
with open(os.path.join(work, "check.txt"), "w") as out:
    out.write("%d %s\n" % (start, signature.hex()))
PY
read -r SIGNED_LENGTH SIGNATURE_HEX <"$WORK/check.txt"
echo "INFO version file $(stat -c %s "$WORK/version.txt") bytes, load average $(cut -d' ' -f1-3 /proc/loadavg)" >>"$RESULTS"

start_update_server 3600 "$BUILD/signing/dev-private.pem"
export BUILD WORK PRODUCT_DIR HOST TOKEN RESULTS ROUNDS SIGNED_LENGTH SIGNATURE_HEX WHICH
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -u
    run() { timeout 600 wine "$@" </dev/null 2>/dev/null | grep "^RESULT" >>"$RESULTS" || echo "failed: $*" >&2; }
    wineserver -p
    wine cmd /c exit </dev/null >/dev/null 2>&1
    IS="HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
    wine reg add "$IS" /v ProxyEnable /t REG_DWORD /d 1 /f >/dev/null 2>&1
    wine reg add "$IS" /v ProxyServer /t REG_SZ /d "127.0.0.1:$SEEKWELL_TEST_PORT" /f >/dev/null 2>&1
    mkdir -p "$WINEPREFIX/drive_c/bench"
    url="http://$HOST/store/$TOKEN/Quorvel30"
    [ "$WHICH" = signature ] || for megabytes in 100 500; do
        served="$PRODUCT_DIR/bench-$megabytes.bin"
        entry="$(stat -c %s "$served") $(sha256sum "$served" | cut -d" " -f1)"
        for round in $(seq 1 "$ROUNDS"); do
            if [ $((round % 2)) -eq 1 ]; then order="product floor floor product"; else order="floor product product floor"; fi
            for variant in $order; do
                sync
                if [ "$variant" = product ]; then
                    run "$BUILD/bench_download.exe" product "$url/bench-$megabytes.bin" "C:\\bench\\bench-$megabytes.bin" \
                        "$megabytes" $entry
                else
                    run "$BUILD/bench_download.exe" bare "$url/bench-$megabytes.bin" "C:\\bench\\bench-$megabytes.bin" \
                        "$megabytes" $entry keep
                    run "$BUILD/bench_download.exe" barehash "C:\\bench\\bench-$megabytes.bin" "$megabytes"
                fi
                rm -f "$WINEPREFIX/drive_c/bench/bench-$megabytes.bin"
            done
        done
    done
    [ "$WHICH" = download ] && { wineserver -k; exit 0; }
    cp "$WORK/version.txt" "$WINEPREFIX/drive_c/bench/version.txt"
    for round in $(seq 1 $((ROUNDS * 2))); do
        if [ $((round % 2)) -eq 1 ]; then order="one two two one"; else order="two one one two"; fi
        for kind in $order; do
            run "$BUILD/bench_signature.exe" cold "$kind" "C:\\bench\\version.txt" "$SIGNED_LENGTH" "$SIGNATURE_HEX"
        done
    done
    for round in $(seq 1 "$ROUNDS"); do
        run "$BUILD/bench_signature.exe" warm "C:\\bench\\version.txt" "$SIGNED_LENGTH" "$SIGNATURE_HEX" 50
    done
    wineserver -k'
echo "INFO ended, load average $(cut -d' ' -f1-3 /proc/loadavg)" >>"$RESULTS"

/usr/bin/python3 - "$RESULTS" <<'PY'
import statistics, sys
values = {}
order = []
for line in open(sys.argv[1]):
    parts = line.split()
    if parts and parts[0] == "INFO":
        print(line.strip())
    if len(parts) == 4 and parts[0] == "RESULT":
        key = (parts[1], parts[2])
        values.setdefault(key, []).append(float(parts[3]))
def med(group, name):
    return statistics.median(values.get((group, name), [float("nan")]))
print("| package | n | updater's download, ms | bare transfer, ms | bare hash pass, ms | floor (transfer + hash), ms | floor / updater (target >= 0.95) | updater's check inside it, ms |")
print("|---|---|---|---|---|---|---|---|")
for mb in ("100", "500"):
    product = values.get(("download.%s.product" % mb, "wall_ms"), [])
    bare = values.get(("download.%s.bare" % mb, "wall_ms"), [])
    hashes = values.get(("hash.%s.bare" % mb, "wall_ms"), [])
    n = min(len(product), len(bare), len(hashes))
    if n == 0:
        continue
    # Paired in the order measured: the k-th updater run against the k-th floor.
    ratios = [(bare[k] + hashes[k]) / product[k] for k in range(n)]
    print("| %s MiB | %d | %.0f | %.0f | %.0f | %.0f | %.2f | |" % (
        mb, n, statistics.median(product), statistics.median(bare), statistics.median(hashes),
        statistics.median([bare[k] + hashes[k] for k in range(n)]), statistics.median(ratios)))
ok = [v for (g, name), vs in values.items() if name == "ok" and g.startswith("download") for v in vs]
print("transfers complete: %d of %d" % (sum(1 for v in ok if v == 1), len(ok)))
one = values.get(("signature.cold.one", "wall_ms"), [])
two = values.get(("signature.cold.two", "wall_ms"), [])
print()
print("| version file check | n | one signature, ms | two signatures, ms | two / one (target <= 1.2) |")
print("|---|---|---|---|---|")
if one and two:
    print("| first check of a process | %d / %d | %.2f | %.2f | %.2f |" % (
        len(one), len(two), statistics.median(one), statistics.median(two),
        statistics.median(two) / statistics.median(one)))
w1 = values.get(("signature.warm", "one_ms"), [])
w2 = values.get(("signature.warm", "two_ms"), [])
if w1 and w2:
    print("| warm, in one process | %d | %.3f | %.3f | %.2f |" % (
        len(w1), statistics.median(w1), statistics.median(w2),
        statistics.median([b / a for a, b in zip(w1, w2)])))
parts = [(name, statistics.median(vs)) for (g, name), vs in values.items() if g == "signature.parts"]
if parts:
    print()
    print("parts of one verification, warm, ms (median): " + ", ".join("%s %.3f" % (n[:-3], v) for n, v in parts))
sig_ok = [v for (g, name), vs in values.items() if name == "ok" and g.startswith("signature") for v in vs]
print("signature checks that verified: %d of %d" % (sum(1 for v in sig_ok if v == 1), len(sig_ok)))
PY
