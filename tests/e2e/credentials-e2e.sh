#!/usr/bin/env bash
# Every source of AWS keys through iamlink-cli --print against the loopback AWS stand-in,
# which verifies each signature with botocore: a session token in the URL, the environment,
# roles assumed in a chain with an MFA code typed on the terminal, and single sign-on. Then,
# for a set of shared files, the keys that iamlink signs with must be those that Debian's
# AWS CLI 2 exports for the same profile.
#
# Usage: credentials-e2e.sh PATH-TO-iamlink-cli
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_begin "$@"
aws=/usr/bin/aws # Debian's AWS CLI 2, not the one a Python environment may put on PATH
[ -x "$aws" ] || e2e_skip "no $aws (scripts/install-deps.sh installs awscli)"

export HOME=$E2E_TMP/home E2E_KEYS_FILE=$E2E_TMP/keys.json E2E_SSO_TOKEN=sso-token E2E_MFA_CODE=123456
mkdir -p "$HOME/.aws/sso/cache"
e2e_start_endpoint unused 'pass/word'
url="jdbc:redshift:iam://$E2E_CLUSTER_HOST:5439/dev?DbUser=alice"

# keys ID SECRET TOKEN [SERVICE]: the only keys the stand-in takes from now on, besides
# those it hands out.
keys() {
    printf '{"AccessKeyId": "%s", "SecretAccessKey": "%s", "SessionToken": "%s", "Services": ["%s"]}' \
        "$1" "$2" "$3" "${4:-redshift}" >"$E2E_KEYS_FILE"
}
# connect QUERY LOG [RUNNER...]: iamlink-cli prints the URL with the stand-in's password, and
# the stand-in logged LOG.
connect() {
    local query=$1 log=$2
    shift 2
    "$@" "$cli" --print "$url$query" >out 2>err </dev/null || { e2e_show err; e2e_fail "no URL for $query"; }
    grep -q "^postgres://IAM%3Aalice:pass%2Fword@$E2E_CLUSTER_HOST:5439/dev" out || { e2e_show out; e2e_fail "unexpected output for $query"; }
    e2e_expect_log "$log"
}

keys URLKEY url/secret url-token
connect "&AccessKeyID=URLKEY&SecretAccessKey=url%2Fsecret&SessionToken=url-token" "200 GetClusterCredentials"
keys ENVKEY env-secret env-token
connect "" "200 GetClusterCredentials" env AWS_ACCESS_KEY_ID=ENVKEY AWS_SECRET_ACCESS_KEY=env-secret AWS_SESSION_TOKEN=env-token

# The base keys may only call STS: GetClusterCredentials must be signed with the keys of the
# last role of the chain.
keys BASEKEY base-secret "" sts
cat >"$HOME/.aws/config" <<'CONFIG'
[profile middle]
role_arn = arn:aws:iam::123456789012:role/middle
source_profile = base
[profile guarded]
role_arn = arn:aws:iam::123456789012:role/mfa-reader
source_profile = middle
mfa_serial = arn:aws:iam::123456789012:mfa/alice
[profile sso]
sso_session = corp
sso_account_id = 123456789012
sso_role_name = Reader
[sso-session corp]
sso_start_url = https://corp.awsapps.example/start
sso_region = eu-west-1
CONFIG
printf '[base]\naws_access_key_id = BASEKEY\naws_secret_access_key = base-secret\n' >"$HOME/.aws/credentials"
connect "&Profile=middle" "200 AssumeRole 200 GetClusterCredentials"
# The code typed on a terminal (script gives iamlink-cli one); with none, an alert.
script -qec "'$cli' --print '$url&Profile=guarded'" /dev/null <<<"$E2E_MFA_CODE" >out 2>err || { e2e_show out; e2e_fail "no URL with an MFA code"; }
grep -q "Enter MFA code for arn:aws:iam::123456789012:mfa/alice: .*postgres://IAM%3Aalice:" out || { e2e_show out; e2e_fail "no MFA prompt or no URL"; }
e2e_expect_log "200 AssumeRole 200 AssumeRole 200 GetClusterCredentials"
! setsid -w "$cli" --print "$url&Profile=guarded" >out 2>err </dev/null && grep -q "^No MFA code" err || { e2e_show err; e2e_fail "no alert without a terminal"; }
e2e_expect_log "200 AssumeRole"

printf '{"accessToken": "%s", "expiresAt": "2999-01-01T00:00:00Z"}' "$E2E_SSO_TOKEN" >"$HOME/.aws/sso/cache/$(printf corp | sha1sum | cut -c1-40).json"
connect "&Profile=sso" "200 GetRoleCredentials 200 GetClusterCredentials"

# The peer: one home holding every kind of profile that both read alike.
cat >"$E2E_TMP/process" <<'PROCESS'
#!/bin/sh
[ "$1" = "arg one" ] && [ "$2" = 'say "hi"' ] || exit 1
printf '{"Version": 1, "AccessKeyId": "PROCKEY", "SecretAccessKey": "proc/secret", "SessionToken": "proc-token"}'
PROCESS
chmod +x "$E2E_TMP/process"
cat >"$HOME/.aws/credentials" <<'CREDENTIALS'
# full-line comments of both kinds
; anywhere
[default]
aws_access_key_id = DEFAULTKEY
aws_secret_access_key = default/secret+key
[token] ; a comment after the header
AWS_Access_Key_ID=TOKENKEY
Aws_Secret_Access_Key = token-secret
  # an indented comment
aws_session_token = FwoGZXIvYXdzEXAMPLETOKEN//+=
[both]
aws_access_key_id = CREDENTIALSKEY
aws_secret_access_key = credentials-secret
CREDENTIALS
cat >"$HOME/.aws/config" <<CONFIG
[profile both]
aws_access_key_id = CONFIGKEY
aws_secret_access_key = config-secret
aws_session_token = config-token
[profile config-only]
aws_access_key_id = CONFIGONLY
aws_secret_access_key = config-only-secret
[profile process]
credential_process = "$E2E_TMP/process" 'arg one' "say \"hi\""
CONFIG
for profile in token both config-only process default; do
    "$aws" configure export-credentials --profile "$profile" --format process >"$E2E_KEYS_FILE" 2>err || { e2e_show err; e2e_fail "the AWS CLI exported nothing for $profile"; }
    connect "&Profile=$profile" "200 GetClusterCredentials"
done
connect "" "200 GetClusterCredentials" # the default profile, named by no Profile item

echo "PASS: URL token, environment, role chain with MFA, SSO and five profiles like the AWS CLI"
