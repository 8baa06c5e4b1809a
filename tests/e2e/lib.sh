# Sourced by the end-to-end scripts: a clean environment, a temporary directory removed
# whatever happens, the loopback AWS stand-in, and masking of secrets in what is shown.

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_ACCESS_KEY_ID=AKIDEXAMPLE
E2E_CLUSTER_HOST=examplecluster.abc123xyz789.us-west-2.redshift.amazonaws.com

e2e_fail() { echo "FAIL: $*" >&2; exit 1; }
e2e_skip() { echo "SKIP: $*" >&2; exit 77; }

# The one argument of every script is the iamlink-cli under test ($cli); the script then runs
# in E2E_TMP, a temporary directory. Nothing from the
# machine may reach it or libpq: the machine sets AWS_CA_BUNDLE and proxies globally, and a
# PG* variable or a password file could supply what the URL alone has to carry.
e2e_begin() {
    [ $# -eq 1 ] || { echo "usage: $0 PATH-TO-iamlink-cli" >&2; exit 2; }
    cli=$(realpath "$1")
    [ -x "$cli" ] || e2e_fail "$cli is not an executable"
    local name
    for name in $(compgen -e); do
        case ${name,,} in aws_* | pg* | *_proxy) unset "$name" ;; esac
    done
    export PGPASSFILE=/dev/null PGSERVICEFILE=/dev/null PGSYSCONFDIR=/nonexistent LC_ALL=C.UTF-8
    E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/iamlink-e2e.XXXXXXXX")
    cd "$E2E_TMP"
    trap e2e_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    # Outside the test's process tree, so that it also runs when CTest kills the script on a
    # timeout: stops a server left behind (SIGQUIT is PostgreSQL's immediate shutdown).
    setsid -f bash -c 'while kill -0 "$1" 2>/dev/null && [ -d "$2" ]; do sleep 1; done
        [ -d "$2" ] || exit 0
        [ -f "$2/pgdata/postmaster.pid" ] && kill -QUIT "$(head -n1 "$2/pgdata/postmaster.pid")"
        [ -f "$2/endpoint.pid" ] && kill -TERM "$(cat "$2/endpoint.pid")"
        sleep 1; rm -rf "$2"' e2e-watchdog "$$" "$E2E_TMP" </dev/null >/dev/null 2>&1
}

# Scripts add their own steps to e2e_cleanup_hooks.
e2e_cleanup_hooks=()
e2e_cleanup() {
    local status=$? hook
    trap - EXIT INT TERM
    for hook in "${e2e_cleanup_hooks[@]}"; do eval "$hook" || true; done
    [ -f "$E2E_TMP/endpoint.pid" ] && kill "$(cat "$E2E_TMP/endpoint.pid")" 2>/dev/null
    rm -rf "$E2E_TMP"
    exit "$status"
}

# Debian's Python, which python3-botocore installs into, before any other python3 on PATH.
e2e_python() {
    local candidate
    for candidate in /usr/bin/python3 python3; do
        "$candidate" -c 'import botocore' 2>/dev/null && { echo "$candidate"; return; }
    done
    e2e_fail "no python3 with botocore (scripts/install-deps.sh installs python3-botocore)"
}

# e2e_start_endpoint SECRET_ACCESS_KEY DB_PASSWORD: starts the AWS stand-in, points iamlink
# at it and sets E2E_ENDPOINT_LOG, where it writes one line per request.
e2e_start_endpoint() {
    local port_file="$E2E_TMP/endpoint.port" i
    E2E_ENDPOINT_LOG="$E2E_TMP/endpoint.log"
    : >"$E2E_ENDPOINT_LOG"
    E2E_SECRET_ACCESS_KEY="$1" E2E_DB_PASSWORD="$2" "$(e2e_python)" "$E2E_DIR/aws-stand-in.py" \
        --port-file "$port_file" --log "$E2E_ENDPOINT_LOG" --access-key-id "$E2E_ACCESS_KEY_ID" \
        </dev/null >"$E2E_TMP/endpoint.out" 2>&1 &
    echo $! >"$E2E_TMP/endpoint.pid"
    for ((i = 0; i < 100; i++)); do
        [ -s "$port_file" ] && break
        kill -0 $! 2>/dev/null || break
        sleep 0.1
    done
    [ -s "$port_file" ] || { e2e_show "$E2E_TMP/endpoint.out"; e2e_fail "the AWS stand-in did not start"; }
    export AWS_ENDPOINT_URL="http://127.0.0.1:$(<"$port_file")"
}

# Standard input with the password of any postgres URL and secret query values masked.
e2e_mask() {
    sed -E -e 's#(postgres(ql)?://[^:/@]*:).*@#\1***@#' -e 's#((SecretAccessKey|SessionToken)=)[^&[:space:]]*#\1***#gi'
}

# Shows a file on standard error, secrets masked, if it exists.
e2e_show() { [ -f "$1" ] && e2e_mask <"$1" >&2; return 0; }

# The endpoint log must read exactly $1 (lines joined by spaces); then it is emptied.
e2e_expect_log() {
    [ "$(tr '\n' ' ' <"$E2E_ENDPOINT_LOG" | sed 's/ $//')" = "$1" ] ||
        { e2e_show "$E2E_ENDPOINT_LOG"; e2e_fail "the stand-in saw other requests than: $1"; }
    : >"$E2E_ENDPOINT_LOG"
}

# e2e_start_postgres: a throwaway PostgreSQL server on 127.0.0.1 that requires SCRAM
# passwords, with the role E2E_PG_ROLE (named as Redshift names temporary users, its password
# E2E_PG_PASSWORD holding every character that means something in a URL, XML or SQL) and a
# database dev that only this role may connect to. Sets E2E_PG_PORT and E2E_PSQL.
E2E_PG_ROLE='IAM:alice'
E2E_PG_PASSWORD="p/+=:@%#? w0rd&<>'\""
e2e_start_postgres() {
    # Debian's server binaries, the newest major version installed.
    local pgbin attempt admin_password
    pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
    [ -x "$pgbin/initdb" ] || e2e_fail "no PostgreSQL server (scripts/install-deps.sh installs postgresql)"
    E2E_PSQL="$pgbin/psql"
    # initdb and postgres refuse to run as root.
    as_dbuser() { "$@"; }
    if [ "$(id -u)" -eq 0 ]; then
        as_dbuser() { runuser -u postgres -- "$@"; }
        chmod 711 "$E2E_TMP"
    fi
    (
        cd "$E2E_TMP"
        mkdir -m 700 pgdata sockets pglog
        head -c 18 /dev/urandom | base64 | tr -d '/+=' >admin.pw
        [ "$(id -u)" -ne 0 ] || chown postgres pgdata sockets pglog admin.pw
        as_dbuser "$pgbin/initdb" --pgdata=pgdata --username=e2e_admin --pwfile=admin.pw \
            --auth=scram-sha-256 --encoding=UTF8 --locale=C.UTF-8 --no-sync >initdb.log 2>&1
    ) || { e2e_show "$E2E_TMP/initdb.log"; e2e_fail "initdb failed"; }
    admin_password=$(<"$E2E_TMP/admin.pw")
    printf 'local all all scram-sha-256\nhost all all 127.0.0.1/32 scram-sha-256\n' >"$E2E_TMP/pgdata/pg_hba.conf"
    printf "listen_addresses = '127.0.0.1'\nunix_socket_directories = '%s'\nfsync = off\n" \
        "$E2E_TMP/sockets" >>"$E2E_TMP/pgdata/postgresql.conf"
    e2e_cleanup_hooks+=("as_dbuser '$pgbin/pg_ctl' stop --pgdata='$E2E_TMP/pgdata' -m immediate >/dev/null 2>&1")
    # A port free when asked for may be taken before the server binds it (tests run in
    # parallel): then another.
    for attempt in 1 2 3 4 5; do
        E2E_PG_PORT=$("$(e2e_python)" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
        as_dbuser "$pgbin/pg_ctl" start --pgdata="$E2E_TMP/pgdata" --wait --timeout=30 \
            --log="$E2E_TMP/pglog/postgres.log" --options="-p $E2E_PG_PORT" >/dev/null 2>&1 && break
        [ "$attempt" -lt 5 ] || { e2e_show "$E2E_TMP/pglog/postgres.log"; e2e_fail "the PostgreSQL server did not start"; }
    done
    PGPASSWORD=$admin_password "$E2E_PSQL" -X -q -v ON_ERROR_STOP=1 -h "$E2E_TMP/sockets" -p "$E2E_PG_PORT" \
        -U e2e_admin -d postgres -v role="$E2E_PG_ROLE" -v password="$E2E_PG_PASSWORD" <<'SQL' >/dev/null ||
CREATE ROLE :"role" LOGIN PASSWORD :'password';
CREATE DATABASE dev;
REVOKE CONNECT ON DATABASE dev FROM PUBLIC;
GRANT CONNECT ON DATABASE dev TO :"role";
SQL
        e2e_fail "could not create the role and the database"
}

# e2e_login URL: psql logs in with nothing but URL and must be E2E_PG_ROLE.
e2e_login() {
    local who
    who=$("$E2E_PSQL" "$1" -XtAc 'select current_user' 2>"$E2E_TMP/psql.err") ||
        { e2e_show "$E2E_TMP/psql.err"; e2e_fail "psql could not log in with $(e2e_mask <<<"$1")"; }
    [ "$who" = "$E2E_PG_ROLE" ] || e2e_fail "psql logged in as '$who', expected '$E2E_PG_ROLE'"
}

# e2e_xdg_home: a desktop of our own under $E2E_TMP/home. No desktop environment is detected,
# so xdg-open takes its generic path, which looks handlers up under $HOME only, and only when
# a display is set: DISPLAY names one nothing connects to. BROWSER, its last resort, fails.
# Handlers that want a terminal get x-terminal-emulator, the first on PATH.
e2e_xdg_home() {
    unset WAYLAND_DISPLAY DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR TERMINAL
    export XDG_CURRENT_DESKTOP=X-Generic DISPLAY=:iamlink-e2e-no-display BROWSER=false HOME="$E2E_TMP/home"
    export XDG_DATA_HOME="$HOME/data" XDG_CONFIG_HOME="$HOME/config" XDG_DATA_DIRS="$HOME/system" XDG_CONFIG_DIRS="$HOME/system"
    mkdir -p "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME" "$XDG_DATA_DIRS/applications"
}
