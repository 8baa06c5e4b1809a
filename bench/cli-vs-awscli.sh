#!/usr/bin/env bash
# `iamlink-cli --print` end to end (start, sign, POST, parse, print) beside Debian's
# `aws redshift get-cluster-credentials`, both against the same loopback endpoint that
# answers a canned GetClusterCredentials reply. Goals: median <= 50 ms, >= 10x faster.
set -euo pipefail
build=${1:-build}
runs=${RUNS:-30}
cli=$(cd "$build" && pwd)/iamlink-cli
aws=${AWS_CLI:-/usr/bin/aws}
[ -x "$cli" ] || { echo "cli-vs-awscli: $cli not built" >&2; exit 1; }
[ -x "$aws" ] || { echo "cli-vs-awscli: $aws not found (Debian package awscli)" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "cli-vs-awscli: hyperfine not found" >&2; exit 1; }

work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/server.py" <<'EOF'
import http.server, sys
REPLY = (b'<GetClusterCredentialsResponse xmlns="http://redshift.amazonaws.com/doc/2012-12-01/">'
         b'<GetClusterCredentialsResult><DbUser>IAM:alice</DbUser>'
         b'<Expiration>2030-01-01T00:15:00Z</Expiration>'
         b'<DbPassword>EXAMPLEPASSWORD/+=</DbPassword></GetClusterCredentialsResult>'
         b'<ResponseMetadata><RequestId>00000000-0000-0000-0000-000000000000</RequestId>'
         b'</ResponseMetadata></GetClusterCredentialsResponse>')
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get('Content-Length') or 0))
        self.send_response(200)
        self.send_header('Content-Type', 'text/xml')
        self.send_header('Content-Length', str(len(REPLY)))
        self.end_headers()
        self.wfile.write(REPLY)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
EOF
python3 "$work/server.py" >"$work/port" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")
endpoint=http://127.0.0.1:$port

# Both clients see the same fake key pair and nothing of the user's AWS configuration.
export AWS_ACCESS_KEY_ID=AKIDEXAMPLE AWS_SECRET_ACCESS_KEY=wJalrXUtnFEMIEXAMPLEKEY
export AWS_CONFIG_FILE=/dev/null AWS_SHARED_CREDENTIALS_FILE=/dev/null AWS_PAGER=
export AWS_ENDPOINT_URL=$endpoint
unset AWS_ENDPOINT_URL_REDSHIFT AWS_CA_BUNDLE AWS_PROFILE http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
url="jdbc:redshift:iam://examplecluster.abc123xyz789.us-west-2.redshift.amazonaws.com:5439/dev?AccessKeyID=$AWS_ACCESS_KEY_ID&SecretAccessKey=$AWS_SECRET_ACCESS_KEY&DbUser=alice&sslmode=require"

# Both must really work before they are timed.
"$cli" --print "$url" 2>/dev/null | grep -q '^postgres://IAM%3Aalice:' \
    || { echo "cli-vs-awscli: iamlink-cli did not print the connection URL" >&2; exit 1; }
"$aws" redshift get-cluster-credentials --cluster-identifier examplecluster --db-user alice \
    --endpoint-url "$endpoint" --region us-west-2 --output text | grep -q 'IAM:alice' \
    || { echo "cli-vs-awscli: aws did not read the credentials" >&2; exit 1; }

hyperfine --style basic --warmup 3 --runs "$runs" -N --export-json "$work/times.json" \
    -n iamlink-cli "$cli --print $url" \
    -n awscli "$aws redshift get-cluster-credentials --cluster-identifier examplecluster --db-user alice --endpoint-url $endpoint --region us-west-2 --output text" \
    >"$work/hyperfine.log" 2>&1 || { cat "$work/hyperfine.log" >&2; exit 1; }

python3 - "$work/times.json" "$runs" <<'EOF'
import json, statistics, sys
results = {r['command']: r for r in json.load(open(sys.argv[1]))['results']}
cli = statistics.median(results['iamlink-cli']['times']) * 1000
aws = statistics.median(results['awscli']['times']) * 1000
ratio = aws / cli
print(f"iamlink-cli --print   median {cli:8.1f} ms over {sys.argv[2]} runs   goal <= 50 ms: {'met' if cli <= 50 else 'MISSED'}")
print(f"aws redshift get-cluster-credentials   median {aws:8.1f} ms")
print(f"ratio awscli / iamlink-cli   {ratio:6.1f}x   goal >= 10x: {'met' if ratio >= 10 else 'MISSED'}")
EOF
