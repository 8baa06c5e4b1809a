# Sourced by the end-to-end scripts: a clean environment, a temporary directory that is
# removed whatever happens, the credentials endpoint, and masking of secrets in output.

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_ACCESS_KEY_ID=AKIDEXAMPLE
E2E_CLUSTER_HOST=examplecluster.abc123xyz789.us-west-2.redshift.amazonaws.com

e2e_fail() {
    echo "FAIL: $*" >&2
    exit 1
}

e2e_skip() {
    echo "SKIP: $*" >&2
    exit 77
}

# The one argument of every end-to-end script: sets $cli to the iamlink-cli under test and
# cleans the environment.
e2e_begin() {
    [ $# -eq 1 ] || { echo "usage: $0 PATH-TO-iamlink-cli" >&2; exit 2; }
    cli=$(realpath "$1")
    [ -x "$cli" ] || e2e_fail "$cli is not an executable"
    e2e_clean_environment
}

# Nothing from the machine's environment may reach iamlink-cli or libpq: the machine sets
# AWS_CA_BUNDLE and proxies globally, and a PG* variable or a password file could supply
# the credentials that the URL alone has to carry.
e2e_clean_environment() {
    local name
    for name in $(compgen -e); do
        case $name in
        AWS_* | PG* | [Hh][Tt][Tt][Pp]_[Pp][Rr][Oo][Xx][Yy] | [Hh][Tt][Tt][Pp][Ss]_[Pp][Rr][Oo][Xx][Yy] | \
            [Nn][Oo]_[Pp][Rr][Oo][Xx][Yy] | [Aa][Ll][Ll]_[Pp][Rr][Oo][Xx][Yy] | [Ff][Tt][Pp]_[Pp][Rr][Oo][Xx][Yy])
            unset "$name" ;;
        esac
    done
    export PGPASSFILE=/dev/null PGSERVICEFILE=/dev/null PGSYSCONFDIR=/nonexistent
    export LC_ALL=C.UTF-8
}

# Creates $E2E_TMP. Cleanup runs on exit, Ctrl-C and TERM; a watchdog outside the test's
# process tree does the same if the script is killed outright (a CTest timeout), since a
# daemonised server would otherwise outlive it. Scripts add their own steps to
# e2e_cleanup_hooks and pid files to watch to E2E_PIDFILES.
e2e_cleanup_hooks=()
e2e_make_tmp() {
    E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/iamlink-e2e.XXXXXXXX")
    case $E2E_TMP in *[[:space:]]*) e2e_fail "temporary directory $E2E_TMP contains blanks" ;; esac
    trap e2e_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    setsid -f bash -c '
        while kill -0 "$1" 2>/dev/null && [ -d "$2" ]; do sleep 1; done
        [ -d "$2" ] || exit 0
        # SIGQUIT is PostgreSQL'\''s immediate shutdown; background jobs ignore it, so the
        # endpoint gets SIGTERM.
        [ -f "$2/pgdata/postmaster.pid" ] && kill -QUIT "$(head -n1 "$2/pgdata/postmaster.pid")" 2>/dev/null
        [ -f "$2/endpoint.pid" ] && kill -TERM "$(cat "$2/endpoint.pid")" 2>/dev/null
        sleep 1
        rm -rf "$2"' e2e-watchdog "$$" "$E2E_TMP" </dev/null >/dev/null 2>&1
}

e2e_cleanup() {
    local status=$? hook
    trap - EXIT INT TERM
    for hook in "${e2e_cleanup_hooks[@]}"; do
        eval "$hook" || true
    done
    if [ -n "${E2E_ENDPOINT_PID:-}" ]; then
        kill "$E2E_ENDPOINT_PID" 2>/dev/null || true
        wait "$E2E_ENDPOINT_PID" 2>/dev/null || true
    fi
    [ -n "${E2E_TMP:-}" ] && rm -rf "$E2E_TMP"
    exit "$status"
}

# The Python that has botocore: Debian's, which python3-botocore installs into, before
# any other python3 on PATH.
e2e_python() {
    local candidate
    for candidate in /usr/bin/python3 python3; do
        if command -v "$candidate" >/dev/null && "$candidate" -c 'import botocore' 2>/dev/null; then
            echo "$candidate"
            return 0
        fi
    done
    e2e_fail "no python3 with botocore (scripts/install-deps.sh installs python3-botocore)"
}

# e2e_start_endpoint SECRET_ACCESS_KEY DB_PASSWORD: starts the credentials endpoint and
# sets E2E_ENDPOINT_PORT and E2E_ENDPOINT_LOG.
e2e_start_endpoint() {
    local python port_file="$E2E_TMP/endpoint.port" i
    python=$(e2e_python)
    E2E_ENDPOINT_LOG="$E2E_TMP/endpoint.log"
    : >"$E2E_ENDPOINT_LOG"
    E2E_SECRET_ACCESS_KEY="$1" E2E_DB_PASSWORD="$2" \
        "$python" "$E2E_DIR/credentials-endpoint.py" --port-file "$port_file" \
        --log "$E2E_ENDPOINT_LOG" --access-key-id "$E2E_ACCESS_KEY_ID" \
        </dev/null >"$E2E_TMP/endpoint.out" 2>&1 &
    E2E_ENDPOINT_PID=$!
    echo "$E2E_ENDPOINT_PID" >"$E2E_TMP/endpoint.pid"
    for ((i = 0; i < 100; i++)); do
        [ -s "$port_file" ] && break
        kill -0 "$E2E_ENDPOINT_PID" 2>/dev/null || break
        sleep 0.1
    done
    if ! [ -s "$port_file" ]; then
        e2e_show "$E2E_TMP/endpoint.out"
        e2e_fail "the credentials endpoint did not start"
    fi
    E2E_ENDPOINT_PORT=$(<"$port_file")
}

# The text with the password of any postgres URL and the value of SecretAccessKey masked.
e2e_mask() {
    sed -E -e 's#(postgres(ql)?://[^:/@]*:).*@#\1***@#' -e 's#(SecretAccessKey=)[^&[:space:]]*#\1***#g'
}

# Shows a log file on standard error, with secrets masked, if it exists.
e2e_show() {
    [ -f "$1" ] && e2e_mask <"$1" >&2
    return 0
}

# A free port on 127.0.0.1 at the time of asking; callers retry if another process
# takes it before they bind.
e2e_free_port() {
    "$(e2e_python)" -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}
