#!/usr/bin/env bash
# End to end with a real PostgreSQL: iamlink-cli --print turns a Redshift IAM URL into a
# postgres:// URL with the credentials that the loopback AWS stand-in hands out, and psql logs
# in with that URL alone to a throwaway server that requires SCRAM passwords over TCP.
#
# Usage: postgres-e2e.sh PATH-TO-iamlink-cli
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_begin "$@"

# Debian's server binaries, the newest major version installed.
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
[ -x "$pgbin/initdb" ] || e2e_fail "no PostgreSQL server (scripts/install-deps.sh installs postgresql)"
psql="$pgbin/psql"
cd "$E2E_TMP"

# initdb and postgres refuse to run as root.
as_dbuser() { "$@"; }
if [ "$(id -u)" -eq 0 ]; then
    as_dbuser() { runuser -u postgres -- "$@"; }
    chmod 711 "$E2E_TMP"
fi
mkdir -m 700 pgdata sockets pglog
admin_password=$(head -c 18 /dev/urandom | base64 | tr -d '/+=')
printf '%s\n' "$admin_password" >admin.pw
[ "$(id -u)" -ne 0 ] || chown postgres pgdata sockets pglog admin.pw
as_dbuser "$pgbin/initdb" --pgdata=pgdata --username=e2e_admin --pwfile=admin.pw \
    --auth=scram-sha-256 --encoding=UTF8 --locale=C.UTF-8 --no-sync >initdb.log 2>&1 ||
    { e2e_show initdb.log; e2e_fail "initdb failed"; }
printf 'local all all scram-sha-256\nhost all all 127.0.0.1/32 scram-sha-256\n' >pgdata/pg_hba.conf
printf "listen_addresses = '127.0.0.1'\nunix_socket_directories = '%s'\nfsync = off\n" \
    "$E2E_TMP/sockets" >>pgdata/postgresql.conf
e2e_cleanup_hooks+=('as_dbuser "$pgbin/pg_ctl" stop --pgdata="$E2E_TMP/pgdata" -m immediate >/dev/null 2>&1')

# A port that is free when asked for may be taken before the server binds it (tests run in
# parallel): then try another.
for attempt in 1 2 3 4 5; do
    pgport=$("$(e2e_python)" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    as_dbuser "$pgbin/pg_ctl" start --pgdata=pgdata --wait --timeout=30 --log=pglog/postgres.log \
        --options="-p $pgport" >/dev/null 2>&1 && break
    [ "$attempt" -lt 5 ] || { e2e_show pglog/postgres.log; e2e_fail "the PostgreSQL server did not start"; }
done

# The role as Redshift names temporary users, with a password holding every character that
# means something in a URL, in XML or in SQL.
role='IAM:alice'
password="p/+=:@%#? w0rd&<>'\""
secret_key='wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY'
PGPASSWORD=$admin_password "$psql" -X -q -v ON_ERROR_STOP=1 -h "$E2E_TMP/sockets" -p "$pgport" \
    -U e2e_admin -d postgres -v role="$role" -v password="$password" <<'SQL' || e2e_fail "could not create the role"
CREATE ROLE :"role" LOGIN PASSWORD :'password';
CREATE DATABASE dev;
REVOKE CONNECT ON DATABASE dev FROM PUBLIC;
GRANT CONNECT ON DATABASE dev TO :"role";
SQL

e2e_start_endpoint "$secret_key" "$password"

# connect SECRET: iamlink-cli --print with the Redshift IAM URL on standard input, as the
# README advises, so that the key is on no command line; sets $url and $status.
connect() {
    status=0
    printf 'jdbc:redshift:iam://%s:%s/dev?AccessKeyID=%s&SecretAccessKey=%s&DbUser=alice&hostaddr=127.0.0.1&sslmode=disable\n' \
        "$E2E_CLUSTER_HOST" "$pgport" "$E2E_ACCESS_KEY_ID" "$1" | "$cli" --print >url 2>cli.err || status=$?
    url=$(<url)
}

connect "$secret_key"
[ "$status" -eq 0 ] || { e2e_show cli.err; e2e_fail "iamlink-cli --print exited with $status"; }
e2e_expect_log "200 GetClusterCredentials"
masked=$(e2e_mask <<<"$url")
[[ $url == postgres://*\?hostaddr=127.0.0.1\&sslmode=disable ]] || e2e_fail "unexpected connection URL: $masked"
[[ $url != *"$secret_key"* && $url != *AccessKeyID* ]] || e2e_fail "AWS keys left in the connection URL"

# The proof: libpq logs in with nothing but the URL, and a wrong password is refused.
who=$("$psql" "$url" -XtAc 'select current_user' 2>psql.err) || { e2e_show psql.err; e2e_fail "psql could not log in with $masked"; }
[ "$who" = "$role" ] || e2e_fail "psql logged in as '$who', expected '$role'"
! "$psql" "$(sed -E 's#^(postgres://[^:/@]*:).*@#\1not-the-password@#' <<<"$url")" -XtAc 'select 1' >/dev/null 2>psql.err || e2e_fail "a wrong password was accepted"
grep -q 'password authentication failed' psql.err || { e2e_show psql.err; e2e_fail "the wrong password failed for another reason"; }

# A request signed with another secret key is refused, and iamlink-cli says so without
# repeating the key.
connect 'not+the/secret'
[ "$status" -eq 1 ] && [ ! -s url ] || e2e_fail "iamlink-cli exited with $status for a bad signature, expected 1 and no URL"
e2e_expect_log "403 SignatureDoesNotMatch"
grep -q 'signature we calculated does not match' cli.err || { e2e_show cli.err; e2e_fail "iamlink-cli did not report the refusal"; }
! grep -q 'not+the/secret' cli.err || e2e_fail "iamlink-cli repeated the secret key"

echo "PASS: psql logged in as $role with the URL from iamlink-cli; a wrong password and a bad signature were refused"
