#!/usr/bin/env bash
# Signs the benchmarked GetClusterCredentials request with botocore's SigV4Auth (Debian's
# python3-botocore) and with bench_signer, checks that both write the same "Authorization"
# value, and prints both median times per signing and their ratio. Times are CPU time of the
# signing thread, so that other work on a shared machine does not skew the comparison.
# Usage: bench/signer-vs-botocore.sh [build dir] [botocore iterations]
set -euo pipefail
build=${1:-build}
iterations=${2:-20000}
exe="$build/bench/bench_signer"
[ -x "$exe" ] || { echo "no $exe; build the bench_signer target first" >&2; exit 1; }

python=python3
if /usr/bin/python3 -c 'import botocore' 2>/dev/null; then
    python=/usr/bin/python3
elif ! python3 -c 'import botocore' 2>/dev/null; then
    echo "botocore is not installed (apt-get install python3-botocore); skipping the comparison"
    exit 0
fi

ours_json=$(mktemp)
trap 'rm -f "$ours_json"' EXIT
example=$("$exe" --print-example-request)
"$exe" --benchmark_filter='^BM_SignCredentialsRequest$' --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_format=json >"$ours_json"

EXAMPLE="$example" OURS_JSON="$ours_json" ITERATIONS="$iterations" "$python" - <<'PY'
import datetime, json, os, statistics, sys, time

import botocore
import botocore.auth
from botocore.auth import SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials

method, url, our_authorization = os.environ["EXAMPLE"].splitlines()
iterations = int(os.environ["ITERATIONS"])

# The same instant, key pair (AWS's published example, not a real one), region and service
# as bench_signer.
instant = datetime.datetime(2015, 8, 30, 12, 36, 0)

_timezone, _timedelta = datetime.timezone, datetime.timedelta

class FixedClock:
    @staticmethod
    def utcnow():
        return instant

    @staticmethod
    def now(tz=None):
        return instant.replace(tzinfo=tz) if tz else instant

class FixedDatetimeModule:
    datetime = FixedClock
    timezone = _timezone
    timedelta = _timedelta

botocore.auth.datetime = FixedDatetimeModule
if hasattr(botocore.auth, "get_current_datetime"):
    botocore.auth.get_current_datetime = lambda *args, **kwargs: instant

credentials = Credentials("AKIDEXAMPLE", "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY")
signer = SigV4Auth(credentials, "redshift", "us-west-2")

def signed():
    request = AWSRequest(method=method, url=url)
    signer.add_auth(request)
    return request

botocore_authorization = signed().headers["Authorization"]
if botocore_authorization != our_authorization:
    # Both use the published example key only.
    print("Authorization differs:\n  botocore: %s\n  iamlink:  %s" % (botocore_authorization, our_authorization))
    sys.exit(1)
print("Authorization headers match (botocore %s)" % botocore.__version__)

for _ in range(min(1000, iterations)):
    signed()
samples = []
for _ in range(iterations):
    request = AWSRequest(method=method, url=url)
    start = time.thread_time_ns()
    signer.add_auth(request)
    samples.append(time.thread_time_ns() - start)
botocore_us = statistics.median(samples) / 1000

with open(os.environ["OURS_JSON"]) as f:
    report = json.load(f)
scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
ours_us = next(b["cpu_time"] * scale[b["time_unit"]] for b in report["benchmarks"]
               if b.get("aggregate_name") == "median")

print("median CPU time per signing: iamlink %.2f us, botocore %.2f us (%d signings)" % (ours_us, botocore_us, iterations))
print("botocore / iamlink: %.1fx" % (botocore_us / ours_us))
PY
