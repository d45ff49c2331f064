#!/bin/sh
# Creates a fresh, quiet Wine prefix at $WINEPREFIX for one test or demo run: no window
# manager decorations (closing windows is then instant under Xvfb) and no attempts to
# install .NET or Gecko. 32-bit unless WINEARCH=win64 asks for a 64-bit one, where the
# 32-bit programs run under WoW64 as on 64-bit Windows.
set -eu
: "${WINEPREFIX:?set WINEPREFIX}"
export WINEARCH="${WINEARCH:-win32}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
env -u DISPLAY wineboot -u >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
wineserver -w
