#!/bin/sh
# Creates a fresh, quiet Wine prefix at $WINEPREFIX for one test or demo run: no window
# manager decorations (closing windows is then instant under Xvfb) and no attempts to
# install .NET or Gecko. 32-bit unless WINEARCH=win64 asks for a 64-bit one, where the
# 32-bit programs run under WoW64 as on 64-bit Windows.
set -eu
: "${WINEPREFIX:?set WINEPREFIX}"
export WINEARCH="${WINEARCH:-win32}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
# wineboot's own status is no guide: a 64-bit prefix made by the 64-bit loader alone
# reports its missing 32-bit half as a failure. The registry it leaves is the proof.
env -u DISPLAY wineboot -u >"$WINEPREFIX.boot.log" 2>&1 || true
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
wineserver -w 2>/dev/null || true
if [ ! -s "$WINEPREFIX/system.reg" ] || [ ! -s "$WINEPREFIX/user.reg" ]; then
    # Without a prefix no Windows program can run; say why rather than fail later.
    echo "wine: could not make a $WINEARCH prefix at $WINEPREFIX (wine: $(command -v wine || echo missing)):" >&2
    tail -n 5 "$WINEPREFIX.boot.log" >&2
    exit 1
fi
rm -f "$WINEPREFIX.boot.log"
