# Sourced by wine-session.sh: a real web server (nginx) and a real caching proxy (squid)
# in front of it, both on loopback as plain processes of this run (no system service),
# configured from tools/realserver/*.conf.in, with every file they write under one
# folder. Each squid port is one route to nginx; a test picks a route by pointing the
# prefix's proxy at that port, and nothing is restarted between tests.
#
# Routes (each exported as 127.0.0.1:PORT, see wine-session.sh):
#   plain      squid caching in front of nginx serving the vendor's folder as it is;
#              a client's no-cache request headers make squid ask nginx again
#   cached     the same cache, but squid answers from it whatever the client asks (as a
#              proxy or CDN set to ignore reloads does): the second download is a hit
#   gzip       nginx compresses for clients that accept gzip and answers chunked
#              without a length; never cached
#   auth       squid demands proxy credentials (407) that no one can give
#   down       nothing listens behind squid: squid's own 502 page
#   forbidden  nginx forbids everything: nginx's own 403 page
# nginx's own 404 page is what the plain route gives for a file not published.
#
# squid holds the vendor's files fresh for an hour from the first fetch, though the
# tests have only just written them (as its stock rule does for files unchanged for
# days): without no-cache request headers a newly published file stays unseen.

REAL_SERVER_PIDS=()

# True when nginx and squid are installed (tools/setup.sh installs both).
real_servers_installed() {
    [ -x /usr/sbin/nginx ] && [ -x /usr/sbin/squid ]
}

# Prints COUNT distinct loopback ports that are free now (held together while chosen).
free_loopback_ports() {
    /usr/bin/python3 -c '
import socket, sys
held = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in held:
    s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))' "$1"
}

# wait_for_servers SECONDS NGINX_PORTS SQUID_PORTS SQUID_LOG: true once nginx accepts
# connections on each of its ports and squid's log says it listens on each of its
# own (a connection to squid would put a line of its own in the access log).
wait_for_servers() {
    local deadline=$((SECONDS + $1)) port
    for port in $2; do
        until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
            [ $SECONDS -lt $deadline ] || return 1
            sleep 0.05
        done
    done
    for port in $3; do
        until grep -qs "Accepting HTTP Socket connections .* local=127.0.0.1:$port " "$4"; do
            [ $SECONDS -lt $deadline ] || return 1
            sleep 0.05
        done
    done
}

# start_real_servers DIR: starts nginx and squid with their files under DIR, a new
# folder in the run's own work folder (both are opened to other users for traversal,
# nothing more): www/ is nginx's root, nginx/ and squid/ hold each one's configuration, logs
# and squid's cache. Exports the SEEKWELL_REAL_* variables described in wine-session.sh
# for the Windows programs, and REAL_DIR for the shell. Returns nonzero, with both
# servers' logs shown, when one does not come up.
start_real_servers() {
    REAL_DIR=$1
    local started=$EPOCHREALTIME ports
    read -r -a ports <<<"$(free_loopback_ports 10)"
    local nginxPlain=${ports[0]} nginxGzip=${ports[1]} nginxForbidden=${ports[2]} nginxDown=${ports[3]}
    local squidPlain=${ports[4]} squidCached=${ports[5]} squidGzip=${ports[6]} squidAuth=${ports[7]}
    local squidDown=${ports[8]} squidForbidden=${ports[9]}

    # Run as root, nginx's workers and squid drop to unprivileged users (nobody, proxy)
    # that must reach these folders and read what the tests publish.
    umask 022
    mkdir -p "$REAL_DIR/www/store" "$REAL_DIR/nginx/tmp" "$REAL_DIR/squid/cache"
    local nginxUser="" squidUser=""
    if [ "$(id -u)" -eq 0 ]; then
        nginxUser="user nobody nogroup;"
        squidUser="cache_effective_user proxy"
        chmod o+x "$REAL_DIR" "$(dirname "$REAL_DIR")"
    fi
    : >"$REAL_DIR/squid/no-users"
    sed -e "s|@DIR@|$REAL_DIR/nginx|g; s|@WWW@|$REAL_DIR/www|g; s|@USER@|$nginxUser|" \
        -e "s|@PLAIN_PORT@|$nginxPlain|; s|@GZIP_PORT@|$nginxGzip|; s|@FORBIDDEN_PORT@|$nginxForbidden|" \
        "$SRC/tools/realserver/nginx.conf.in" >"$REAL_DIR/nginx/nginx.conf"
    sed -e "s|@DIR@|$REAL_DIR/squid|g; s|@USER@|$squidUser|" \
        -e "s|@PLAIN_PORT@|$squidPlain|; s|@CACHED_PORT@|$squidCached|; s|@GZIP_PORT@|$squidGzip|" \
        -e "s|@AUTH_PORT@|$squidAuth|; s|@DOWN_PORT@|$squidDown|; s|@FORBIDDEN_PORT@|$squidForbidden|" \
        -e "s|@NGINX_PLAIN_PORT@|$nginxPlain|; s|@NGINX_GZIP_PORT@|$nginxGzip|" \
        -e "s|@NGINX_FORBIDDEN_PORT@|$nginxForbidden|; s|@NGINX_DOWN_PORT@|$nginxDown|" \
        "$SRC/tools/realserver/squid.conf.in" >"$REAL_DIR/squid/squid.conf"
    if [ -n "$squidUser" ]; then
        chown -R proxy:proxy "$REAL_DIR/squid"
    fi

    /usr/sbin/nginx -p "$REAL_DIR/nginx" -c "$REAL_DIR/nginx/nginx.conf" -e "$REAL_DIR/nginx/error.log" \
        </dev/null >>"$REAL_DIR/nginx/error.log" 2>&1 &
    REAL_SERVER_PIDS+=($!)
    /usr/sbin/squid -N -z -f "$REAL_DIR/squid/squid.conf" </dev/null >>"$REAL_DIR/squid/start.log" 2>&1
    /usr/sbin/squid -N -f "$REAL_DIR/squid/squid.conf" </dev/null >>"$REAL_DIR/squid/start.log" 2>&1 &
    REAL_SERVER_PIDS+=($!)

    if ! wait_for_servers 20 "$nginxPlain $nginxGzip $nginxForbidden" \
        "$squidPlain $squidCached $squidGzip $squidAuth $squidDown $squidForbidden" "$REAL_DIR/squid/cache.log"; then
        echo "real servers: nginx or squid did not come up; their logs:" >&2
        cat "$REAL_DIR/nginx/error.log" "$REAL_DIR/squid/start.log" "$REAL_DIR/squid/cache.log" >&2 2>/dev/null
        stop_real_servers
        return 1
    fi
    export SEEKWELL_REAL_WWW SEEKWELL_REAL_PROXY_LOG SEEKWELL_REAL_SERVER_LOG
    SEEKWELL_REAL_WWW=$(to_windows "$REAL_DIR/www")
    SEEKWELL_REAL_PROXY_LOG=$(to_windows "$REAL_DIR/squid/access.log")
    SEEKWELL_REAL_SERVER_LOG=$(to_windows "$REAL_DIR/nginx/access.log")
    export SEEKWELL_REAL_PROXY_PLAIN=127.0.0.1:$squidPlain SEEKWELL_REAL_PROXY_CACHED=127.0.0.1:$squidCached \
        SEEKWELL_REAL_PROXY_GZIP=127.0.0.1:$squidGzip SEEKWELL_REAL_PROXY_AUTH=127.0.0.1:$squidAuth \
        SEEKWELL_REAL_PROXY_DOWN=127.0.0.1:$squidDown SEEKWELL_REAL_PROXY_FORBIDDEN=127.0.0.1:$squidForbidden
    echo "real servers: nginx and squid up in $(/usr/bin/python3 -c "print(f'{$EPOCHREALTIME - $started:.2f}')") s under $REAL_DIR" >&2
}

# Stops what start_real_servers started (by its own process ids) and waits for it.
stop_real_servers() {
    local pid
    for pid in "${REAL_SERVER_PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${REAL_SERVER_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    REAL_SERVER_PIDS=()
}
