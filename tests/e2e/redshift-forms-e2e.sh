#!/usr/bin/env bash
# End to end for the other URL forms, with a real PostgreSQL: iamlink-cli --print turns a
# Redshift Serverless workgroup URL (GetCredentials) and a "<cluster id>:<region>" URL with
# properties after ";" (DescribeClusters, then GetClusterCredentials) into postgres:// URLs
# with the credentials that the loopback AWS stand-in hands out, and psql logs in with each.
#
# Usage: redshift-forms-e2e.sh PATH-TO-iamlink-cli
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_begin "$@"

e2e_start_postgres
secret_key='wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY'
# The stand-in's DescribeClusters names 127.0.0.1 at this port as the cluster's endpoint.
export E2E_PG_PORT
e2e_start_endpoint "$secret_key" "$E2E_PG_PASSWORD"
keys="AccessKeyID=$E2E_ACCESS_KEY_ID&SecretAccessKey=$secret_key"

# connect URL: iamlink-cli --print with the URL on standard input; sets $url.
connect() {
    printf '%s\n' "$1" | "$cli" --print >url 2>cli.err ||
        { e2e_show cli.err; e2e_fail "iamlink-cli --print failed for $(e2e_mask <<<"$1")"; }
    url=$(<url)
}

# The workgroup's host names it and the region; hostaddr reaches the throwaway server instead.
connect "jdbc:redshift:iam://default-wg.123456789012.us-west-2.redshift-serverless.amazonaws.com:$E2E_PG_PORT/dev?$keys&DbUser=ignored&hostaddr=127.0.0.1&sslmode=disable"
e2e_expect_log "200 RedshiftServerless.GetCredentials"
[[ $url == postgres://*@default-wg.123456789012.us-west-2.redshift-serverless.amazonaws.com:$E2E_PG_PORT/dev\?hostaddr=127.0.0.1\&sslmode=disable ]] ||
    e2e_fail "unexpected connection URL: $(e2e_mask <<<"$url")"
e2e_login "$url"

# The cluster's address and port come from DescribeClusters.
connect "jdbc:redshift:iam://examplecluster:us-west-2/dev;${keys//&/;};DbUser=alice;sslmode=disable"
e2e_expect_log "200 DescribeClusters 200 GetClusterCredentials"
[[ $url == postgres://*@127.0.0.1:$E2E_PG_PORT/dev\?sslmode=disable ]] ||
    e2e_fail "unexpected connection URL: $(e2e_mask <<<"$url")"
e2e_login "$url"

echo "PASS: psql logged in as $E2E_PG_ROLE with the URLs iamlink-cli made for a serverless workgroup and a cluster id with its region"
