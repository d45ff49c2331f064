#!/bin/bash
# Runs the Windows tests of a build under Wine, in a fresh prefix, under Xvfb, with the
# local update server (and, when installed, a real nginx and squid) started for the
# run. Usage: run-win-tests.sh BUILD_DIR [ctest args]
# The prefix is 32-bit; SEEKWELL_WINE_ARCH=win64 makes it 64-bit (tools/wine-session.sh).
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$1" && pwd)
shift
. "$SRC/tools/wine-session.sh"
start_wine_session wine
start_update_server 5400 "$BUILD/signing/dev-private.pem" "$(dev_freshness_key "$BUILD")"
# The real nginx and squid for the real-server tests (tools/setup.sh installs them);
# without them those tests fail, saying so.
if real_servers_installed; then
    start_real_servers "$WORK/real"
fi

# Two small drives for the fault tests, where this run may mount (as root): T: a 1 MB
# tmpfs that no package fits on, R: a read-only view of a folder the tests fill through
# its writable Z: path. Without them the tests that need them skip.
if mkdir -p "$WORK/small" && mount -t tmpfs -o size=1m seekwell-small "$WORK/small" 2>/dev/null; then
    on_session_exit "umount -l '$WORK/small' 2>/dev/null || true"
    ln -s "$WORK/small" "$WINEPREFIX/dosdevices/t:"
    export SEEKWELL_TEST_SMALL_DRIVE=T:
fi
if mkdir -p "$WORK/readonly-source" "$WORK/readonly" &&
    mount --bind "$WORK/readonly-source" "$WORK/readonly" 2>/dev/null; then
    on_session_exit "umount -l '$WORK/readonly' 2>/dev/null || true"
    if mount -o remount,bind,ro "$WORK/readonly" 2>/dev/null; then
        ln -s "$WORK/readonly" "$WINEPREFIX/dosdevices/r:"
        export SEEKWELL_TEST_READONLY_DRIVE=R:
        export SEEKWELL_TEST_READONLY_SOURCE=$(to_windows "$WORK/readonly-source")
    fi
fi
export SEEKWELL_TEST_WORK=$(to_windows "$WORK")
export SEEKWELL_ARTIFACTS="${SEEKWELL_ARTIFACTS:-$BUILD/artifacts}"
mkdir -p "$SEEKWELL_ARTIFACTS"
export SEEKWELL_TEST_ARTIFACTS=$(to_windows "$SEEKWELL_ARTIFACTS")

# A wineserver started without a display cannot show windows: start it inside Xvfb,
# and warm it up so its services do not inherit ctest's output pipe.
# Sessions run side by side look for a free display from numbers of their own.
xvfb-run -a -n "${SEEKWELL_XVFB_FIRST_DISPLAY:-99}" -s "-screen 0 1024x768x24" bash -c '
    wineserver -p
    wine cmd /c exit </dev/null >/dev/null 2>&1
    ctest --test-dir "$0" --output-on-failure "$@"
    rc=$?
    wineserver -k
    exit $rc' "$BUILD" "$@" || rc=$?

# Screenshots are saved as BMP by the tests; keep PNG copies.
for bmp in "$SEEKWELL_ARTIFACTS"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
exit "${rc:-0}"
