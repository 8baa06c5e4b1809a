#!/usr/bin/env bash
# End to end: iamlink-cli against a loopback AWS stand-in (aws-stand-in.py) and a throwaway
# PostgreSQL server that requires TLS and SCRAM passwords over TCP, in a home of its own whose AWS
# files are those under aws/. PGHOSTADDR sends every connection to that server, whatever host
# the URL names. Each line of cases.txt runs iamlink-cli once. Lines that need a missing
# tool (/usr/bin/aws, xdg-utils, desktop-file-utils) are left out, and the test then exits 77
# (skipped) once every other line has passed.
#
# Usage: e2e.sh PATH-TO-iamlink-cli PATH-TO-iamlink-psql
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 PATH-TO-iamlink-cli PATH-TO-iamlink-psql" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd) cli=$(realpath "$1") handler=$(realpath "$2")
role='IAM:alice' password="p/+=:@%#? w0rd&<>'\"" # every character that means something in a URL, XML or SQL
fail() { echo "FAIL: $*" >&2; exit 1; }
show() { [ ! -f "$1" ] || sed -E -e 's#(postgres(ql)?://[^:/@]*:).*@#\1***@#' -e 's#((SecretAccessKey|SessionToken)=)[^&;[:space:]]*#\1***#gi' "$1" >&2; }
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
[ -x "$pgbin/initdb" ] || fail "no PostgreSQL server (scripts/install-deps.sh installs postgresql)"

# Nothing from the machine may reach iamlink, libpq or xdg-open: it sets AWS_CA_BUNDLE and
# proxies, a PG* variable or a password file could supply what the URL alone has to carry, and a
# desktop session would choose the handler.
for name in $(compgen -e); do
    case ${name,,} in aws_* | pg* | *_proxy | xdg_* | *display | desktop_session | kde_* | gnome_* | dbus_* | terminal) unset "$name" ;; esac
done
export PGPASSFILE=/dev/null PGSERVICEFILE=/dev/null PGSYSCONFDIR=/nonexistent LC_ALL=C.UTF-8
tmp=$(mktemp -d "${TMPDIR:-/tmp}/iamlink-e2e.XXXXXXXX")
cd "$tmp"
as_dbuser() { "$@"; }
cleanup() {
    local status=$?
    set +e
    trap - EXIT INT TERM
    as_dbuser "$pgbin/pg_ctl" stop -D "$tmp/pgdata" -m immediate >/dev/null 2>&1
    [ ! -f stand-in.pid ] || kill "$(<stand-in.pid)" 2>/dev/null
    rm -rf "$tmp"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# Outside the test's process tree, so that it also runs when CTest kills the script on a
# timeout: stops what was left behind (SIGQUIT is PostgreSQL's immediate shutdown).
setsid -f bash -c 'while kill -0 "$1" 2>/dev/null && [ -d "$2" ]; do sleep 1; done
    [ -d "$2" ] || exit 0
    [ -f "$2/pgdata/postmaster.pid" ] && kill -QUIT "$(head -n1 "$2/pgdata/postmaster.pid")"
    [ -f "$2/stand-in.pid" ] && kill -TERM "$(cat "$2/stand-in.pid")"
    sleep 1; rm -rf "$2"' e2e-watchdog "$$" "$tmp" </dev/null >/dev/null 2>&1

# The server, its role named as Redshift names temporary users, and a database dev that only
# this role may connect to. initdb and postgres refuse to run as root.
mkdir -m 700 pgdata
head -c 18 /dev/urandom | base64 | tr -d '/+=' >admin.pw
if [ "$(id -u)" -eq 0 ]; then
    as_dbuser() { runuser -u postgres -- "$@"; }
    chmod 711 "$tmp"
    chown postgres pgdata admin.pw
fi
as_dbuser "$pgbin/initdb" -D pgdata -U e2e_admin --pwfile=admin.pw --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 --no-sync >initdb.log 2>&1 ||
    { show initdb.log; fail "initdb failed"; }
# TLS with a throwaway certificate: a connection without it finds no pg_hba.conf entry.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=localhost -days 2 \
    -keyout pgdata/server.key -out pgdata/server.crt >openssl.log 2>&1 || { show openssl.log; fail "no certificate (openssl)"; }
chmod 600 pgdata/server.key
[ "$(id -u)" -ne 0 ] || chown postgres pgdata/server.key pgdata/server.crt
printf 'local all all scram-sha-256\nhostssl all all 127.0.0.1/32 scram-sha-256\n' >pgdata/pg_hba.conf
printf "listen_addresses = '127.0.0.1'\nunix_socket_directories = '%s'\nfsync = off\nssl = on\n" "$tmp/pgdata" >>pgdata/postgresql.conf
for attempt in 1 2 3 4 5; do # a port free when asked for may be taken before the server binds it
    port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    as_dbuser "$pgbin/pg_ctl" start -D pgdata -w -t 30 -l pgdata/server.log -o "-p $port" >/dev/null 2>&1 && break
    [ "$attempt" -lt 5 ] || { show pgdata/server.log; fail "the PostgreSQL server did not start"; }
done
PGPASSWORD=$(<admin.pw) "$pgbin/psql" -Xq -v ON_ERROR_STOP=1 -h "$tmp/pgdata" -p "$port" -U e2e_admin -d postgres \
    -v role="$role" -v password="$password" <<'SQL' >/dev/null || fail "could not create the role and the database"
CREATE ROLE :"role" LOGIN PASSWORD :'password';
CREATE DATABASE dev;
REVOKE CONNECT ON DATABASE dev FROM PUBLIC;
GRANT CONNECT ON DATABASE dev TO :"role";
SQL
! PGPASSWORD=wrong "$pgbin/psql" -h 127.0.0.1 -p "$port" -U "$role" -d dev -Xc '' 2>psql.err &&
    grep -q 'password authentication failed' psql.err || fail "the server did not refuse a wrong password"
! PGPASSWORD=$password "$pgbin/psql" "host=127.0.0.1 port=$port user=$role dbname=dev sslmode=disable" -Xc '' 2>psql.err &&
    grep -q 'no encryption' psql.err || fail "the server did not refuse a connection without TLS"

exec 3< <(E2E_PG_PORT=$port E2E_DB_PASSWORD=$password exec /usr/bin/python3 "$here/aws-stand-in.py" 2>stand-in.err)
echo $! >stand-in.pid
read -r -t 10 stand_in_port <&3 || { show stand-in.err; fail "the AWS stand-in did not start (python3-botocore?)"; }
export AWS_ENDPOINT_URL=http://127.0.0.1:$stand_in_port PGHOSTADDR=127.0.0.1
# The browser of the sign-in lines (PATH=$BROWSER_PATH): an xdg-open that visits the page at the
# stand-in (an identity provider's https page too) and posts on the form it may answer with, and
# no AWS CLI. $LISTEN: a free port for the SAML answer.
mkdir browser
cat >browser/xdg-open <<BROWSER
#!/usr/bin/python3
import json, sys, urllib.parse as parse, urllib.request as request
url = parse.urlsplit(sys.argv[1])
page = request.urlopen(f"$AWS_ENDPOINT_URL{url.path}?{url.query}").read()
if url.path == "/idp":
    form = json.loads(page)
    request.urlopen(form.pop("action"), parse.urlencode(form).encode()).read()
BROWSER
printf '#!/bin/sh\necho "aws: not installed" >&2\nexit 127\n' >browser/aws
chmod +x browser/*
listen=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# A desktop of our own: no desktop environment is detected, so xdg-open takes its generic path,
# which looks handlers up under $HOME only, and only when a display is set: DISPLAY names one
# nothing connects to. BROWSER, its last resort, fails. A handler that wants a terminal gets
# x-terminal-emulator, the first on PATH: here one whose keyboard is the file "typed".
export XDG_CURRENT_DESKTOP=X-Generic DISPLAY=:iamlink-e2e-no-display BROWSER=false HOME=$tmp/home PATH=$tmp/bin:$PATH
export XDG_DATA_HOME=$HOME/data XDG_CONFIG_HOME=$HOME/config XDG_DATA_DIRS=$HOME/system XDG_CONFIG_DIRS=$HOME/system
mkdir -p "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME" "$XDG_DATA_DIRS/applications" bin
cp -r "$here/aws" "$HOME/.aws"
ln -s "$handler" bin/iamlink-psql
ln -s "$pgbin/psql" bin/psql
printf '#!/bin/sh\n[ "$1" = -e ] && shift\n"$@" <%s/typed >%s/screen 2>&1\necho $? >%s/closed\n' "$tmp" "$tmp" "$tmp" >bin/x-terminal-emulator
chmod +x bin/x-terminal-emulator
echo "select 'user=' || current_user;" >typed
# Then psql counts this run's processes (those with its HOME: other runs may share the machine)
# whose command line holds the password; its "w0rd" survives any percent-encoding.
cat >bin/count-password-holders <<'COUNT'
#!/bin/sh
n=0
for p in /proc/[0-9]*; do
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "HOME=$HOME" &&
        tr '\0' '\n' 2>/dev/null <"$p/cmdline" | grep -q 'w[0]rd' && n=$((n + 1))
done
echo "password on a command line: $n processes"
COUNT
chmod +x bin/count-password-holders
echo '\! count-password-holders' >>typed
desktop=false
command -v xdg-open >/dev/null && command -v update-desktop-database >/dev/null && desktop=true
if $desktop; then
    cp "$here/../../data/io.github.iamlink.iamlink-psql.desktop" "$XDG_DATA_DIRS/applications/"
    update-desktop-database "$XDG_DATA_DIRS/applications"
    [ "$(xdg-mime query default x-scheme-handler/postgres)" = io.github.iamlink.iamlink-psql.desktop ] ||
        fail "the desktop entry does not make iamlink-psql the handler for postgres: URLs"
fi
# The credential process of the profile "process": it must get its arguments as written.
cat >process <<'PROCESS'
#!/bin/sh
[ "$1" = "arg one" ] && [ "$2" = 'say "hi"' ] || exit 1
echo '{"Version": 1, "AccessKeyId": "PROCKEY", "SecretAccessKey": "proc/SECRET", "SessionToken": "proc-SECRET-token"}'
PROCESS
chmod +x process

skipped=()
while read -r line <&4; do
    [[ -n $line && $line != \#* ]] || continue
    line=${line//'$PORT'/$port} line=${line//'$LISTEN'/$listen} line=${line//'$BROWSER_PATH'/$tmp/browser:$PATH}
    IFS='|' read -r name keys run url log expect <<<"${line// | /|}"
    read -r how words <<<"$run"
    env=() args=() # NAME=value words set the environment, --words are iamlink-cli's options
    for word in $words; do if [[ $word == --* ]]; then args+=("$word"); else env+=("$word"); fi; done
    read -r status text <<<"$expect"
    [ "$how" != open ] || $desktop || { skipped+=("$name"); continue; }
    if [ "${keys%% *}" = aws ]; then
        [ -x /usr/bin/aws ] || { skipped+=("$name"); continue; }
        /usr/bin/aws configure export-credentials --profile "${keys#aws }" --format process >keys.json 2>err ||
            { show err; fail "$name: the AWS CLI exported nothing"; }
    else
        read -r id secret token service <<<"$keys"
        printf '{"AccessKeyId": "%s", "SecretAccessKey": "%s", "SessionToken": "%s", "Service": "%s"}' \
            "$id" "$secret" "${token#-}" "$service" >keys.json
    fi
    rm -f out err screen closed
    : >requests.log
    code=0
    case $how in
    print) setsid -w env "${env[@]}" "$cli" --print "${args[@]}" <<<"$url" >out 2>err || code=$? ;;
    tty) env "${env[@]}" script -qec "$(printf '%q ' "$cli" --print "${args[@]}" "$url")" /dev/null <<<123456 >out 2>err || code=$? ;;
    open) env "${env[@]}" script -qec "$(printf '%q ' "$cli" "${args[@]}" "$url")" /dev/null </dev/null >out 2>err || code=$? ;;
    run) env "${env[@]}" "$cli" "${args[@]}" "$url" -- psql -XtA <typed >screen 2>err || code=$? ;;
    eval) env "${env[@]}" sh -c 'eval "$("$0" --env "$1")" && psql -XtAc "select '\''user='\'' || current_user"' \
        "$cli" "$url" >screen 2>err || code=$? ;;
    esac
    [ "$code" = "$status" ] || { show out; show err; fail "$name: iamlink-cli exited with $code, not $status"; }
    [ "$(paste -sd' ' requests.log)" = "$log" ] || { show requests.log; fail "$name: the stand-in saw other requests than: $log"; }
    if [ "$status" = 0 ] && [ "$how" = open ]; then
        # xdg-open runs the handler detached, so it may finish after iamlink-cli has exited.
        for ((i = 0; i < 100; i++)); do [ -s closed ] && break; sleep 0.1; done
        [ -z "$(grep -v "The password expires at" out)" ] && [ "$(cat closed 2>/dev/null)" = 0 ] || { show screen; fail "$name: no login through the handler"; }
    elif [ "$status" = 0 ] && [[ $how == print || $how == tty ]]; then
        psql "$(grep -o 'postgres://[^[:space:]]*' out)" -XtA <typed >screen 2>&1 || { show out; show screen; fail "$name: psql could not log in"; }
    elif [ "$how" = print ] && [ -s out ] || grep -qs postgres:// out; then # a terminal shows errors too, never the URL
        show out; fail "$name: output although iamlink-cli failed"
    fi
    [ "$status" != 0 ] || grep -qw "user=$role" screen || { show screen; fail "$name: not logged in as $role"; }
    [ -z "$text" ] || grep -qsF -- "$text" out err screen || { show out; show err; show screen; fail "$name: nothing shows: $text"; }
    ! grep -qsF -e SECRET -e "$password" out err screen || fail "$name: a secret was shown"
done 4<"$here/cases.txt"
# The token that iamlink cached for sso-login, read by python3-botocore's and the AWS CLI's own
# token provider (through a proxy nowhere, so that nothing leaves the machine should one renew it).
for tool in botocore awscli.botocore; do
    [ -d "/usr/lib/python3/dist-packages/${tool//.//}" ] || { skipped+=("$tool reads the cache"); continue; }
    HTTPS_PROXY=http://127.0.0.1:9 /usr/bin/python3 -c 'import importlib, sys
tokens, session = (importlib.import_module(sys.argv[1] + name) for name in (".tokens", ".session"))
print(tokens.SSOTokenProvider(session.Session(profile="sso-login")).load_token().get_frozen_token().token)' \
        "$tool" >token 2>err && [ "$(<token)" = sso-token ] || { show err; fail "$tool does not read the token that iamlink cached"; }
done
[ ${#skipped[@]} = 0 ] || { printf 'SKIP: %s\n' "${skipped[@]}" >&2; exit 77; }
echo "PASS: every line of cases.txt"
