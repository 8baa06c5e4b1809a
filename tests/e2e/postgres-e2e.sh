#!/usr/bin/env bash
# End to end with a real PostgreSQL: iamlink-cli --print turns a Redshift IAM URL into a
# postgres:// URL with the credentials that a local GetClusterCredentials endpoint hands
# out, and psql logs in with that URL alone to a throwaway server that requires SCRAM
# password authentication over TCP.
#
# Usage: postgres-e2e.sh PATH-TO-iamlink-cli
set -euo pipefail
source "$(dirname "$0")/lib.sh"

e2e_begin "$@"

# Debian's server binaries, the newest major version installed.
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
[ -n "$pgbin" ] && [ -x "$pgbin/initdb" ] && [ -x "$pgbin/psql" ] ||
    e2e_fail "no PostgreSQL server in /usr/lib/postgresql (scripts/install-deps.sh installs postgresql)"
psql="$pgbin/psql"

e2e_make_tmp
cd "$E2E_TMP"

# initdb and postgres refuse to run as root.
if [ "$(id -u)" -eq 0 ]; then
    dbuser=postgres
    id -u "$dbuser" >/dev/null 2>&1 || dbuser=nobody
    as_dbuser() { runuser -u "$dbuser" -- "$@"; }
    chmod 711 "$E2E_TMP"
else
    dbuser=$(id -un)
    as_dbuser() { "$@"; }
fi
pgdata="$E2E_TMP/pgdata"
sockets="$E2E_TMP/sockets"
pglog="$E2E_TMP/pglog"   # the server writes its log itself, as $dbuser
mkdir -m 700 "$pgdata" "$sockets" "$pglog"
[ "$(id -u)" -ne 0 ] || chown "$dbuser" "$pgdata" "$sockets" "$pglog"

# The role as Redshift names temporary users, and a password holding every character that
# has a meaning in a URL's user information, query or fragment, XML's and SQL's quotes.
role='IAM:alice'
password="p/+=:@%#? w0rd&<>'\""
admin_password=$(head -c 18 /dev/urandom | base64 | tr -d '/+=')
secret_key='wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY'

printf '%s\n' "$admin_password" >"$E2E_TMP/admin.pw"
[ "$(id -u)" -ne 0 ] || chown "$dbuser" "$E2E_TMP/admin.pw"
chmod 600 "$E2E_TMP/admin.pw"
as_dbuser "$pgbin/initdb" --pgdata="$pgdata" --username=e2e_admin --pwfile="$E2E_TMP/admin.pw" \
    --auth=scram-sha-256 --encoding=UTF8 --locale=C.UTF-8 --no-sync >"$E2E_TMP/initdb.log" 2>&1 ||
    { e2e_show "$E2E_TMP/initdb.log"; e2e_fail "initdb failed"; }
rm -f "$E2E_TMP/admin.pw"

# Password authentication everywhere; over TCP from 127.0.0.1 only.
cat >"$pgdata/pg_hba.conf" <<'EOF'
local all all scram-sha-256
host  all all 127.0.0.1/32 scram-sha-256
EOF
cat >>"$pgdata/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$sockets'
password_encryption = 'scram-sha-256'
fsync = off
shared_buffers = 16MB
max_connections = 20
EOF

e2e_cleanup_hooks+=('as_dbuser "$pgbin/pg_ctl" stop --pgdata="$pgdata" -m immediate >/dev/null 2>&1')

# The port is free when asked for but may be taken before the server binds it (tests run
# in parallel): then try another.
started=
for attempt in 1 2 3 4 5; do
    pgport=$(e2e_free_port)
    if as_dbuser "$pgbin/pg_ctl" start --pgdata="$pgdata" --wait --timeout=30 \
        --log="$pglog/postgres.log" --options="-p $pgport" >/dev/null 2>&1; then
        started=1
        break
    fi
done
[ -n "$started" ] || { e2e_show "$pglog/postgres.log"; e2e_fail "the PostgreSQL server did not start"; }

# Administration over the unix socket, as the superuser with its password.
printf '*:*:*:e2e_admin:%s\n' "$admin_password" >"$E2E_TMP/admin.pgpass"
chmod 600 "$E2E_TMP/admin.pgpass"
PGPASSFILE="$E2E_TMP/admin.pgpass" "$psql" -X -q -v ON_ERROR_STOP=1 \
    -h "$sockets" -p "$pgport" -U e2e_admin -d postgres -v role="$role" -v password="$password" <<'SQL' ||
CREATE ROLE :"role" LOGIN PASSWORD :'password';
CREATE DATABASE dev;
REVOKE CONNECT ON DATABASE dev FROM PUBLIC;
GRANT CONNECT ON DATABASE dev TO :"role";
SQL
    e2e_fail "could not create the role and the database"
rm -f "$E2E_TMP/admin.pgpass"

e2e_start_endpoint "$secret_key" "$password"
export AWS_ENDPOINT_URL_REDSHIFT="http://127.0.0.1:$E2E_ENDPOINT_PORT"

jdbc_url() { # $1 = secret access key
    printf 'jdbc:redshift:iam://%s:%s/dev?AccessKeyID=%s&SecretAccessKey=%s&DbUser=alice&hostaddr=127.0.0.1&sslmode=disable' \
        "$E2E_CLUSTER_HOST" "$pgport" "$E2E_ACCESS_KEY_ID" "$1"
}

# The key goes through standard input, as the README advises, so it is not on the
# command line; '+' and '/' in it must survive the query encoding.
status=0
printf '%s\n' "$(jdbc_url "$secret_key")" | "$cli" --print >"$E2E_TMP/url" 2>"$E2E_TMP/cli.err" || status=$?
if [ "$status" -ne 0 ]; then
    e2e_show "$E2E_TMP/cli.err"
    e2e_show "$E2E_ENDPOINT_LOG"
    e2e_fail "iamlink-cli --print exited with $status"
fi
[ "$(wc -l <"$E2E_TMP/url")" -eq 1 ] || { e2e_show "$E2E_TMP/url"; e2e_fail "expected one line from --print"; }
url=$(<"$E2E_TMP/url")
masked=$(e2e_mask <<<"$url")

case $url in
postgres://* | postgresql://*) ;;
*) e2e_fail "not a postgres URL: $masked" ;;
esac
for item in AccessKeyID SecretAccessKey DbUser; do
    case $url in *"$item="*) e2e_fail "$item left in the connection URL: $masked" ;; esac
done
case $url in *"$secret_key"*) e2e_fail "the secret access key is in the connection URL" ;; esac
for item in hostaddr=127.0.0.1 sslmode=disable; do
    case $url in *"$item"*) ;; *) e2e_fail "$item was not kept: $masked" ;; esac
done
[ "$(cat "$E2E_ENDPOINT_LOG")" = "200 GetClusterCredentials" ] ||
    { e2e_show "$E2E_ENDPOINT_LOG"; e2e_fail "expected one accepted credentials request"; }

# The proof: libpq logs in with nothing but the URL.
if ! who=$("$psql" "$url" -XtAc 'select current_user' 2>"$E2E_TMP/psql.err"); then
    e2e_show "$E2E_TMP/psql.err"
    e2e_fail "psql could not log in with $masked"
fi
[ "$who" = "$role" ] || e2e_fail "psql logged in as '$who', expected '$role' ($masked)"

# And the server really checked the password: the same URL with another one is refused.
wrong=$(sed -E 's#^(postgres(ql)?://[^:/@]*:).*@#\1not-the-password@#' <<<"$url")
[ "$wrong" != "$url" ] || e2e_fail "could not find the password in $masked"
if "$psql" "$wrong" -XtAc 'select current_user' >/dev/null 2>"$E2E_TMP/psql-wrong.err"; then
    e2e_fail "a wrong password was accepted"
fi
grep -q 'password authentication failed' "$E2E_TMP/psql-wrong.err" ||
    { e2e_show "$E2E_TMP/psql-wrong.err"; e2e_fail "the wrong password failed for another reason"; }

# A request signed with another secret key is refused by the endpoint, and iamlink-cli
# says so without repeating the key.
: >"$E2E_ENDPOINT_LOG"
status=0
printf '%s\n' "$(jdbc_url 'not+the/secret')" | "$cli" --print >"$E2E_TMP/url-bad" 2>"$E2E_TMP/cli-bad.err" || status=$?
[ "$status" -eq 1 ] || e2e_fail "iamlink-cli exited with $status for a bad signature, expected 1"
[ ! -s "$E2E_TMP/url-bad" ] || e2e_fail "iamlink-cli printed a URL for a refused request"
[ "$(cat "$E2E_ENDPOINT_LOG")" = "403 SignatureDoesNotMatch" ] ||
    { e2e_show "$E2E_ENDPOINT_LOG"; e2e_fail "expected the endpoint to refuse the signature"; }
grep -q 'SignatureDoesNotMatch\|signature we calculated does not match' "$E2E_TMP/cli-bad.err" ||
    { e2e_show "$E2E_TMP/cli-bad.err"; e2e_fail "iamlink-cli did not report the endpoint's error"; }
! grep -q 'not+the/secret' "$E2E_TMP/cli-bad.err" || e2e_fail "iamlink-cli repeated the secret key"

echo "PASS: psql logged in as $role with the URL from iamlink-cli; a wrong password and a bad signature were refused"
