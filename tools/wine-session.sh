# Sourced by the scripts that run the Windows side (tests, demo, benchmarks): a work
# folder with a fresh 32-bit prefix, the local update server on a free port, the
# environment the Windows programs read to find it, and cleanup when the script exits.
# The sourcing script sets SRC. Add work of its own to the cleanup with on_session_exit.
# The real nginx and squid of tools/real-servers.sh can join the session too
# (start_real_servers; they are stopped with the session).

to_windows() { echo "Z:$1" | tr '/' '\\'; }
. "$SRC/tools/real-servers.sh"

SERVER=""
SESSION_EXIT_STEPS=()
on_session_exit() { SESSION_EXIT_STEPS+=("$1"); }
end_wine_session() {
    [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    stop_real_servers
    local step
    for step in "${SESSION_EXIT_STEPS[@]}"; do eval "$step"; done
    rm -rf --one-file-system "$WORK"
}

# dev_freshness_key BUILD: the private key that signs the freshness part for a
# development build: its own freshness key when it was configured with one apart
# (SEEKWELL_DEV_FRESHNESS_APART), else the development key, which then signs both parts.
dev_freshness_key() {
    if [ -f "$1/signing/dev-freshness-private.pem" ]; then
        echo "$1/signing/dev-freshness-private.pem"
    else
        echo "$1/signing/dev-private.pem"
    fi
}

# wine64_loader: the path of Wine's 64-bit loader, or nothing when it is not installed.
wine64_loader() {
    local candidate
    for candidate in /usr/lib/wine/wine64 /usr/lib64/wine/wine64 /opt/wine-stable/bin/wine64; do
        if [ -x "$candidate" ]; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}

# use_wine64_loader DIR: every later `wine`, `wineboot` and `winecfg` of this shell and its
# children runs Wine's 64-bit loader directly. Debian's launchers of those names take the
# 32-bit loader whenever it is installed, even for a 64-bit prefix, and that loader cannot
# start on a host without 32-bit execution.
use_wine64_loader() {
    local loader
    loader=$(wine64_loader) || { echo "wine: Wine's 64-bit loader (package wine64) is missing" >&2; return 1; }
    mkdir -p "$1"
    printf '#!/bin/sh\nexec %s "$@"\n' "$loader" >"$1/wine"
    local tool
    for tool in wineboot winecfg; do
        printf '#!/bin/sh\nexec %s %s.exe "$@"\n' "$loader" "$tool" >"$1/$tool"
    done
    chmod 755 "$1"/wine "$1"/wineboot "$1"/winecfg
    export WINELOADER="$loader" PATH="$1:$PATH"
}

# start_wine_session NAME: WORK=/tmp/seekwell-NAME.XXXXXX holding the prefix (pfx) and
# the server's folder (www); the prefix is made at once. SEEKWELL_WINE_ARCH picks it:
#   win32 (default)  a 32-bit prefix, for the 32-bit build;
#   win64            a 64-bit prefix where the 32-bit build runs under WoW64 (the programs
#                    are told so: SEEKWELL_TEST_WOW64=1) and the tests' stand-ins for the
#                    mail programs are 64-bit;
#   win64-native     a 64-bit prefix run by Wine's 64-bit loader alone, for the 64-bit
#                    build (hosts that cannot run 32-bit code have only this one).
start_wine_session() {
    WORK=$(mktemp -d "/tmp/seekwell-$1.XXXXXX")
    trap end_wine_session EXIT
    local arch="${SEEKWELL_WINE_ARCH:-win32}"
    unset SEEKWELL_TEST_WOW64
    case "$arch" in
        win32) ;;
        win64) export SEEKWELL_TEST_WOW64=1 ;;
        win64-native)
            use_wine64_loader "$WORK/bin" || return 1
            arch=win64
            ;;
        *)
            echo "wine session: unknown SEEKWELL_WINE_ARCH '$arch' (win32, win64 or win64-native)" >&2
            return 1
            ;;
    esac
    export WINEPREFIX="$WORK/pfx" WINEARCH="$arch" WINEDEBUG="${SEEKWELL_WINEDEBUG:--all}" \
        WINEDLLOVERRIDES="mscoree=;mshtml=" LANG=en_US.UTF-8
    # Tells the Windows test programs that a session runs them: a missing or silent
    # update server is then a failure that names what is missing.
    export SEEKWELL_TEST_SESSION=1
    mkdir -p "$WORK/www"
    "$SRC/tools/new-prefix.sh"
}

# start_update_server MAX_SECONDS [SIGNING_KEY [FRESHNESS_KEY]]: serves $WORK/www, logs
# requests to $WORK/requests.log, stages signed releases with SIGNING_KEY (the build's
# development key, <build>/signing/dev-private.pem) for the release part and
# FRESHNESS_KEY (default SIGNING_KEY; see dev_freshness_key) for the freshness part when
# the tests ask, and exports for the Windows programs SEEKWELL_TEST_PORT (its loopback
# port), SEEKWELL_TEST_WWW (Windows path of the served folder) and SEEKWELL_TEST_LOG
# (Windows path of the request log).
#
# start_real_servers DIR (tools/real-servers.sh) exports, for the real nginx and squid:
#   SEEKWELL_REAL_WWW           Windows path of nginx's root; publish files as a vendor
#                               stages them, under store\<token>\Quorvel30\
#   SEEKWELL_REAL_PROXY_PLAIN   127.0.0.1:PORT of each squid route, to set as the prefix's
#   SEEKWELL_REAL_PROXY_CACHED  proxy: plain (caching, honours no-cache requests), cached
#   SEEKWELL_REAL_PROXY_GZIP    (answers from its cache whatever is asked), gzip (chunked,
#   SEEKWELL_REAL_PROXY_AUTH    no length, compressed when asked; not cached), auth (407
#   SEEKWELL_REAL_PROXY_DOWN    for ever), down (nginx gone: squid's 502 page), forbidden
#   SEEKWELL_REAL_PROXY_FORBIDDEN  (nginx's 403 page); a file not published gives nginx's
#                               404 page on any route that reaches it
#   SEEKWELL_REAL_PROXY_LOG     Windows path of squid's access log: per request, a moment
#                               after squid answered it, "<time> <ms> <client> <CODE>/<status>
#                               <bytes> <method> <url> <user> <peer> <type> <port>" (port: the
#                               route's squid port) then its request and reply headers;
#                               CODE is TCP_MISS when nginx answered, TCP_HIT, TCP_MEM_HIT
#                               or TCP_REFRESH_UNMODIFIED when the body came from the
#                               cache, TCP_DENIED for the 407
#   SEEKWELL_REAL_SERVER_LOG    Windows path of nginx's access log: per request "<port>
#                               "<request line>" <status> <bytes> ae=".." cc=".."
#                               pragma=".." ims=".." via=".."", the Accept-Encoding,
#                               Cache-Control, Pragma, If-Modified-Since and Via it got
start_update_server() {
    local signing=()
    [ -n "${2:-}" ] && signing=(--signing-key "$2")
    [ -n "${3:-}" ] && signing+=(--freshness-key "$3")
    /usr/bin/python3 "$SRC/tools/update_server.py" --root "$WORK/www" --port-file "$WORK/port" \
        --log "$WORK/requests.log" --max-seconds "$1" "${signing[@]}" >/dev/null &
    SERVER=$!
    # The port file is written whole once the server listens; a loaded machine may take
    # a while to start Python, so wait for the file or the server's end, not a guess.
    local deadline=$((SECONDS + 60))
    until [ -s "$WORK/port" ]; do
        if ! kill -0 "$SERVER" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
            echo "update server: it did not start (no port file in $WORK)" >&2
            return 1
        fi
        sleep 0.05
    done
    export SEEKWELL_TEST_PORT=$(cat "$WORK/port")
    export SEEKWELL_TEST_WWW=$(to_windows "$WORK/www")
    export SEEKWELL_TEST_LOG=$(to_windows "$WORK/requests.log")
}
