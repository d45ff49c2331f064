# Sourced by the scripts that run the Windows side (tests, demo, benchmarks): a work
# folder with a fresh 32-bit prefix, the local update server on a free port, the
# environment the Windows programs read to find it, and cleanup when the script exits.
# The sourcing script sets SRC. Add work of its own to the cleanup with on_session_exit.

to_windows() { echo "Z:$1" | tr '/' '\\'; }

SERVER=""
SESSION_EXIT_STEPS=()
on_session_exit() { SESSION_EXIT_STEPS+=("$1"); }
end_wine_session() {
    [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    local step
    for step in "${SESSION_EXIT_STEPS[@]}"; do eval "$step"; done
    rm -rf --one-file-system "$WORK"
}

# start_wine_session NAME: WORK=/tmp/seekwell-NAME.XXXXXX holding the prefix (pfx) and
# the server's folder (www); the prefix is made at once.
start_wine_session() {
    WORK=$(mktemp -d "/tmp/seekwell-$1.XXXXXX")
    export WINEPREFIX="$WORK/pfx" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" \
        LANG=en_US.UTF-8
    trap end_wine_session EXIT
    # Tells the Windows test programs that a session runs them: a missing or silent
    # update server is then a failure that names what is missing.
    export SEEKWELL_TEST_SESSION=1
    mkdir -p "$WORK/www"
    "$SRC/tools/new-prefix.sh"
}

# start_update_server MAX_SECONDS: serves $WORK/www, logs requests to
# $WORK/requests.log, and exports the port, folder and log for the Windows programs.
start_update_server() {
    /usr/bin/python3 "$SRC/tools/update_server.py" --root "$WORK/www" --port-file "$WORK/port" \
        --log "$WORK/requests.log" --max-seconds "$1" >/dev/null &
    SERVER=$!
    for _ in $(seq 1 100); do [ -s "$WORK/port" ] && break; sleep 0.05; done
    export SEEKWELL_TEST_PORT=$(cat "$WORK/port")
    export SEEKWELL_TEST_WWW=$(to_windows "$WORK/www")
    export SEEKWELL_TEST_LOG=$(to_windows "$WORK/requests.log")
}
