#!/bin/sh
# Runs a Windows program of the build under the test prefix (ctest's emulator).
: "${WINEPREFIX:?set WINEPREFIX}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=}"
exec wine "$@"
