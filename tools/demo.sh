#!/bin/bash
# The main job: one update, end to end, against a local update server, in a fresh Wine
# prefix with a demo installation of the product. With $DISPLAY the updater opens there
# for a person to click through; without one, the road is walked under Xvfb by the UI
# driver and a screenshot of every step is saved.
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
OUT="${SEEKWELL_BUILD_ROOT:-$SRC/out}"
"$SRC/tools/setup.sh"

# The shipped updater is 32-bit. A host that cannot execute 32-bit x86 code at all walks
# the road with the x86_64 build of the same source, under Wine's 64-bit loader.
. "$SRC/tools/host-probe.sh"
probe_32bit_execution
if [ "$HOST_RUNS_32BIT" = yes ]; then
    BUILD="$OUT/win"
    toolchain="$SRC/cmake/mingw-i686.cmake"
else
    echo "This host cannot execute 32-bit x86 code ($HOST_32BIT_PROBE): the demo runs the 64-bit build of the updater."
    BUILD="$OUT/win64"
    toolchain="$SRC/cmake/mingw-x86_64.cmake"
    export SEEKWELL_WINE_ARCH=win64-native
fi
cmake -G Ninja -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$BUILD" -j2 --target demo_road fake_installer sleeper >/dev/null

SHOTS="${SEEKWELL_DEMO_SHOTS:-$OUT/demo-screenshots}"
. "$SRC/tools/wine-session.sh"
echo "Making a fresh Wine prefix..."
start_wine_session demo
mkdir -p "$SHOTS"
rm -f "$SHOTS"/*.png "$SHOTS"/*.bmp
start_update_server 3600 "$BUILD/signing/dev-private.pem" "$(dev_freshness_key "$BUILD")"
# The vendor's side: a signed release of 3.0.1.3 staged with the publishing tool and the
# build's development key; the package is a stand-in installer, signed with the build's
# development code-signing key, which the tool checks.
cp "$BUILD/fake_installer.exe" "$WORK/QuorvelUpdate.exe"
/usr/bin/python3 "$SRC/tools/publish.py" stage --release-key "$BUILD/signing/dev-private.pem" \
    --freshness-key "$(dev_freshness_key "$BUILD")" --version 3.0.1.3 \
    --package "$WORK/QuorvelUpdate.exe" --root "$WORK/www" --record "$WORK/Quorvel30.record" \
    --signer "$BUILD/signing/dev-codesign-cert.pem" >/dev/null
export SEEKWELL_TEST_ARTIFACTS=$(to_windows "$SHOTS")

if [ -n "${DISPLAY:-}" ]; then
    # A person drives: windows get the desktop's own frames.
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1 || true
    wine "$BUILD/demo_road.exe" --setup-only
    cp "$BUILD/sleeper.exe" "$WINEPREFIX/drive_c/OUTLOOK.EXE"
    cat <<EOT
The demo installation is in C:\\Program Files\\Quorvel\\ (installed 3.0.1.2); the local
server offers 3.0.1.3. Press Start, answer Yes, pick any folder, watch the download, then
press Install. A stand-in for Outlook runs for 60 seconds: the updater lists it until it
has ended and you press Retry (or press Ignore). The package records in
QuorvelUpdate.exe.ran.txt beside itself that the shell ran it: Install runs a checked
copy from a new folder %TEMP%\\SeekwellHandOff-<32 hexadecimal digits>.
EOT
    wine 'C:\OUTLOOK.EXE' 60 &
    wine 'C:\Program Files\Quorvel\Seekwell.exe'
    echo "Requests the server answered:"
    cat "$WORK/requests.log"
    exit 0
fi

echo "No display: walking the road under Xvfb."
rc=0
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    wineserver -p
    wine cmd /c exit </dev/null >/dev/null 2>&1
    wine "$0/demo_road.exe"
    rc=$?
    wineserver -k
    exit $rc' "$BUILD" || rc=$?
for bmp in "$SHOTS"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "Requests the server answered:"
cat "$WORK/requests.log"
echo "Screenshots of every step: $SHOTS"
exit $rc
