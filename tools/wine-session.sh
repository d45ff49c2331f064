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

# start_wine_session NAME: WORK=/tmp/seekwell-NAME.XXXXXX holding the prefix (pfx) and
# the server's folder (www); the prefix is made at once. It is 32-bit, or 64-bit when
# SEEKWELL_WINE_ARCH=win64: the Windows programs then run under WoW64 and are told so
# (SEEKWELL_TEST_WOW64=1), and the tests' stand-ins for the mail programs are 64-bit.
start_wine_session() {
    WORK=$(mktemp -d "/tmp/seekwell-$1.XXXXXX")
    export WINEPREFIX="$WORK/pfx" WINEARCH="${SEEKWELL_WINE_ARCH:-win32}" WINEDEBUG=-all \
        WINEDLLOVERRIDES="mscoree=;mshtml=" LANG=en_US.UTF-8
    if [ "$WINEARCH" = win64 ]; then
        export SEEKWELL_TEST_WOW64=1
    else
        unset SEEKWELL_TEST_WOW64
    fi
    trap end_wine_session EXIT
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
