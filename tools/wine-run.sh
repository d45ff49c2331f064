#!/bin/sh
# Runs a Windows program of the build under the test prefix (ctest's emulator).
: "${WINEPREFIX:?no test session: run the Windows tests through tools/run-win-tests.sh BUILD_DIR [ctest args]}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=}"
exec wine "$@"
