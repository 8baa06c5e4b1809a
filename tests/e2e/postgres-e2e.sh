#!/usr/bin/env bash
# End to end with a real PostgreSQL: iamlink-cli --print turns a Redshift IAM URL into a
# postgres:// URL with the credentials that the loopback AWS stand-in hands out, and psql logs
# in with that URL alone to a throwaway server that requires SCRAM passwords over TCP.
#
# Usage: postgres-e2e.sh PATH-TO-iamlink-cli
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_begin "$@"

e2e_start_postgres
secret_key='wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY'
e2e_start_endpoint "$secret_key" "$E2E_PG_PASSWORD"

# connect SECRET: iamlink-cli --print with the Redshift IAM URL on standard input, as the
# README advises, so that the key is on no command line; sets $url and $status.
connect() {
    status=0
    printf 'jdbc:redshift:iam://%s:%s/dev?AccessKeyID=%s&SecretAccessKey=%s&DbUser=alice&hostaddr=127.0.0.1&sslmode=disable\n' \
        "$E2E_CLUSTER_HOST" "$E2E_PG_PORT" "$E2E_ACCESS_KEY_ID" "$1" | "$cli" --print >url 2>cli.err || status=$?
    url=$(<url)
}

connect "$secret_key"
[ "$status" -eq 0 ] || { e2e_show cli.err; e2e_fail "iamlink-cli --print exited with $status"; }
e2e_expect_log "200 GetClusterCredentials"
masked=$(e2e_mask <<<"$url")
[[ $url == postgres://*\?hostaddr=127.0.0.1\&sslmode=disable ]] || e2e_fail "unexpected connection URL: $masked"
[[ $url != *"$secret_key"* && $url != *AccessKeyID* ]] || e2e_fail "AWS keys left in the connection URL"

# The proof: libpq logs in with nothing but the URL, and a wrong password is refused.
e2e_login "$url"
! "$E2E_PSQL" "$(sed -E 's#^(postgres://[^:/@]*:).*@#\1not-the-password@#' <<<"$url")" -XtAc 'select 1' >/dev/null 2>psql.err || e2e_fail "a wrong password was accepted"
grep -q 'password authentication failed' psql.err || { e2e_show psql.err; e2e_fail "the wrong password failed for another reason"; }

# A request signed with another secret key is refused, and iamlink-cli says so without
# repeating the key.
connect 'not+the/secret'
[ "$status" -eq 1 ] && [ ! -s url ] || e2e_fail "iamlink-cli exited with $status for a bad signature, expected 1 and no URL"
e2e_expect_log "403 SignatureDoesNotMatch"
grep -q 'signature we calculated does not match' cli.err || { e2e_show cli.err; e2e_fail "iamlink-cli did not report the refusal"; }
! grep -q 'not+the/secret' cli.err || e2e_fail "iamlink-cli repeated the secret key"

echo "PASS: psql logged in as $E2E_PG_ROLE with the URL from iamlink-cli; a wrong password and a bad signature were refused"
