#!/usr/bin/env python3
"""A loopback stand-in for the AWS endpoints iamlink calls, refusing what AWS refuses.

Redshift's query API (POST /, parameters in the query, Version=2012-12-01, Action last):
GetClusterCredentials for the expected ClusterIdentifier and DbUser, and DescribeClusters for
that cluster, whose endpoint is 127.0.0.1 at the port E2E_PG_PORT names. Redshift Serverless
(POST / with a JSON body, X-Amz-Target and Content-Type application/x-amz-json-1.1):
GetCredentials for the expected workgroup and database. STS AssumeRole (POST / with a form
body) and the SSO portal's GetRoleCredentials (GET /federation/credentials with a bearer
token) hand out temporary keys that later requests may sign with. Every signed request must
carry an AWS Signature Version 4 Authorization header for a known access key (and its session
token, if it has one), the expected region and service, whose signature botocore recomputes
at the request's own X-Amz-Date. Anything else gets the error document the service sends (403
for signature faults, else 400 or 404).

The known keys: the configured one, or those in the file E2E_KEYS_FILE, re-read for each
request, as `aws configure export-credentials --format process` writes them (plus "Services",
by default Redshift only), and those handed out. AssumeRole for a role whose ARN holds "mfa"
wants the TokenCode E2E_MFA_CODE; the SSO portal the bearer token E2E_SSO_TOKEN.

The port is chosen by the kernel and written to --port-file once the socket listens. The
secret key and the password to hand out come from the environment, not the command line.
Each request leaves one line in --log: the status and the action or error code, no secret.
"""

import argparse
import hmac
import http.server
import json
import os
import secrets
import urllib.parse
from xml.sax.saxutils import escape

import botocore.auth
import botocore.awsrequest
import botocore.credentials

NAMESPACE = "http://redshift.amazonaws.com/doc/2012-12-01/"


class Refusal(Exception):
    def __init__(self, status, code, message):
        super().__init__(message)
        self.status, self.code, self.message = status, code, message


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass  # the request line holds the query; the --log line suffices

    def do_GET(self):
        self.answer()

    do_POST = do_PUT = do_DELETE = do_GET

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        if "X-Amz-Target" in self.headers:
            return self.answer_json(body)
        try:
            split = urllib.parse.urlsplit(self.path)
            if self.command == "GET" and split.path == "/federation/credentials":
                return self.reply(200, get_role_credentials(self, split), "GetRoleCredentials")
            if self.command == "POST" and body.startswith(b"Action=AssumeRole&"):
                return self.reply(200, assume_role(self, body), "AssumeRole")
            if self.command != "POST" or split.path != "/":
                raise Refusal(400, "InvalidAction", "Only POST / is answered here.")
            try:
                items = urllib.parse.parse_qsl(split.query, keep_blank_values=True,
                                               strict_parsing=bool(split.query))
            except ValueError:
                raise Refusal(400, "MalformedQueryString", "The query could not be parsed.")
            if not items or items[-1][0] != "Action":
                raise Refusal(400, "MissingAction", "Action must be the last query item.")
            if len({name for name, _ in items}) != len(items):
                raise Refusal(400, "InvalidParameterCombination", "A query item is repeated.")
            self.verify_signature("redshift", split.path, items, body)
            action = ACTIONS.get(items[-1][1])
            if not action:
                raise Refusal(400, "InvalidAction", "Unknown action.")
            self.reply(200, action(self.server.options, dict(items)), items[-1][1])
        except Refusal as refusal:
            self.reply(refusal.status,
                       f'<ErrorResponse xmlns="{NAMESPACE}"><Error><Type>Sender</Type>'
                       f"<Code>{escape(refusal.code)}</Code><Message>{escape(refusal.message)}"
                       "</Message></Error><RequestId>0</RequestId></ErrorResponse>", refusal.code)

    def verify_signature(self, service, path, items, body, region=None):
        options = self.server.options
        algorithm, _, rest = self.headers.get("Authorization", "").partition(" ")
        if algorithm != "AWS4-HMAC-SHA256":
            raise Refusal(403, "MissingAuthenticationToken", "No AWS4-HMAC-SHA256 signature.")
        fields = dict(part.strip().partition("=")[::2] for part in rest.split(","))
        credential = fields.get("Credential", "").split("/")
        key, region = known_keys(self.server).get(credential[0], {}), region or options.region
        if (credential[2:] != [region, service, "aws4_request"] or not key
                or service not in key.get("services", [service])):
            raise Refusal(403, "InvalidClientTokenId", "The credential scope is not the expected one.")
        if self.headers.get("X-Amz-Security-Token") != key.get("token"):
            raise Refusal(403, "InvalidClientTokenId", "The security token is not the expected one.")
        amz_date = self.headers.get("X-Amz-Date", "")
        signed = fields.get("SignedHeaders", "").split(";")
        if not amz_date.startswith(credential[1]) or not {"host", "x-amz-date"} <= set(signed):
            raise Refusal(403, "IncompleteSignature", "Host and X-Amz-Date must be signed.")
        if key.get("token") and "x-amz-security-token" not in signed:
            raise Refusal(403, "IncompleteSignature", "The security token must be signed.")
        if any(self.headers.get(name) is None for name in signed):
            raise Refusal(403, "IncompleteSignature", "A signed header is missing.")
        # botocore signs what arrived, at the time it names, so any difference is the client's.
        headers = {name: self.headers[name] for name in signed}
        request = botocore.awsrequest.AWSRequest(
            method=self.command, url=f"http://{headers['host']}{path}", params=items,
            headers=headers, data=body)
        request.context["timestamp"] = amz_date
        signer = botocore.auth.SigV4Auth(
            botocore.credentials.Credentials(credential[0], key["secret"], key.get("token")),
            service, region)
        expected = signer.signature(
            signer.string_to_sign(request, signer.canonical_request(request)), request)
        if not hmac.compare_digest(expected, fields.get("Signature", "")):
            raise Refusal(403, "SignatureDoesNotMatch", "The request signature we calculated "
                          "does not match the signature you provided.")

    def answer_json(self, body):
        """Redshift Serverless, a JSON API: errors are JSON documents too."""
        target = self.headers["X-Amz-Target"]
        try:
            if self.command != "POST" or self.path != "/":
                raise Refusal(400, "UnknownOperationException", "Only POST / is answered here.")
            if self.headers.get("Content-Type") != "application/x-amz-json-1.1":
                raise Refusal(400, "SerializationException", "Expected application/x-amz-json-1.1.")
            self.verify_signature("redshift-serverless", "/", [], body)
            signed = self.headers["Authorization"].partition("SignedHeaders=")[2].split(",")[0]
            if "x-amz-target" not in signed.split(";"):
                raise Refusal(403, "IncompleteSignature", "X-Amz-Target must be signed.")
            action = JSON_ACTIONS.get(target)
            if not action:
                raise Refusal(400, "UnknownOperationException", "Unknown operation.")
            try:
                request = json.loads(body)
            except ValueError:
                raise Refusal(400, "SerializationException", "The body is not JSON.")
            self.reply(200, json.dumps(action(self.server.options, request)), target,
                       "application/x-amz-json-1.1")
        except Refusal as refusal:
            document = {"__type": f"com.amazonaws.redshiftserverless#{refusal.code}",
                        "message": refusal.message}
            self.reply(refusal.status, json.dumps(document), refusal.code,
                       "application/x-amz-json-1.1")

    def reply(self, status, document, outcome, content_type="text/xml"):
        data = document.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
        if self.server.options.log:
            with open(self.server.options.log, "a", encoding="utf-8") as log:
                log.write(f"{status} {outcome}\n")


def redshift_query_action(action):
    """Refuses a call of the Redshift query API without its version, as the service may."""
    def checked(options, query):
        if query.get("Version") != "2012-12-01":
            raise Refusal(400, "MissingParameter",
                          "The request must contain the parameter Version=2012-12-01.")
        return action(options, query)
    return checked


@redshift_query_action
def get_cluster_credentials(options, query):
    if query.get("ClusterIdentifier") != options.cluster:
        raise Refusal(404, "ClusterNotFound", "No such cluster.")
    if query.get("DbUser") != options.db_user:
        raise Refusal(400, "InvalidParameterValue", "Unexpected DbUser.")
    return (f'<GetClusterCredentialsResponse xmlns="{NAMESPACE}"><GetClusterCredentialsResult>'
            f"<DbUser>{escape('IAM:' + options.db_user)}</DbUser>"
            f"<DbPassword>{escape(os.environ['E2E_DB_PASSWORD'])}</DbPassword>"
            "<Expiration>2030-01-01T00:00:00Z</Expiration></GetClusterCredentialsResult>"
            "</GetClusterCredentialsResponse>")


@redshift_query_action
def describe_clusters(options, query):
    if query.get("ClusterIdentifier") != options.cluster:
        raise Refusal(404, "ClusterNotFound", "No such cluster.")
    return (f'<DescribeClustersResponse xmlns="{NAMESPACE}"><DescribeClustersResult><Clusters>'
            f"<Cluster><ClusterIdentifier>{escape(options.cluster)}</ClusterIdentifier>"
            "<ClusterStatus>available</ClusterStatus><Endpoint><Address>127.0.0.1</Address>"
            f"<Port>{int(os.environ['E2E_PG_PORT'])}</Port></Endpoint></Cluster></Clusters>"
            "</DescribeClustersResult></DescribeClustersResponse>")


def get_serverless_credentials(options, request):
    if request.get("workgroupName") != options.workgroup:
        raise Refusal(404, "ResourceNotFoundException", "No such workgroup.")
    if request.get("dbName") != "dev":
        raise Refusal(400, "ValidationException", "Unexpected dbName.")
    # The database user follows from the IAM identity that signed the call.
    return {"dbUser": "IAM:" + options.db_user, "dbPassword": os.environ["E2E_DB_PASSWORD"],
            "expiration": 1893456000, "nextRefreshTime": 1893456000}


ACTIONS = {"GetClusterCredentials": get_cluster_credentials, "DescribeClusters": describe_clusters}
JSON_ACTIONS = {"RedshiftServerless.GetCredentials": get_serverless_credentials}


def known_keys(server):
    path = os.environ.get("E2E_KEYS_FILE")
    if path:
        with open(path, encoding="utf-8") as file:
            exported = json.load(file)
        keys = {exported["AccessKeyId"]: {"secret": exported["SecretAccessKey"],
                                          "token": exported.get("SessionToken") or None,
                                          "services": exported.get("Services", ["redshift"])}}
    else:
        keys = {server.options.access_key_id: {"secret": server.secret_key}}
    return {**keys, **server.issued}


def issue(server):
    """New temporary keys, good for every service from now on."""
    key = "ASIA" + secrets.token_hex(8).upper()
    server.issued[key] = {"secret": secrets.token_urlsafe(30), "token": secrets.token_urlsafe(60)}
    return key, server.issued[key]


def assume_role(handler, body):
    handler.verify_signature("sts", "/", [], body, "us-east-1")
    query = dict(urllib.parse.parse_qsl(body.decode("utf-8"), keep_blank_values=True))
    if query.get("Version") != "2011-06-15" or not query.get("RoleSessionName") or \
            not query.get("RoleArn", "").startswith("arn:aws:iam::"):
        raise Refusal(400, "ValidationError", "Version, RoleArn and RoleSessionName are required.")
    if "mfa" in query["RoleArn"] and (not query.get("SerialNumber") or
                                      query.get("TokenCode") != os.environ.get("E2E_MFA_CODE")):
        raise Refusal(403, "AccessDenied", "MultiFactorAuthentication failed.")
    key, issued = issue(handler.server)
    return ('<AssumeRoleResponse xmlns="https://sts.amazonaws.com/doc/2011-06-15/">'
            f"<AssumeRoleResult><Credentials><AccessKeyId>{key}</AccessKeyId><SecretAccessKey>"
            f"{issued['secret']}</SecretAccessKey><SessionToken>{issued['token']}</SessionToken>"
            "<Expiration>2030-01-01T00:00:00Z</Expiration></Credentials></AssumeRoleResult>"
            "</AssumeRoleResponse>")


def get_role_credentials(handler, split):
    query = dict(urllib.parse.parse_qsl(split.query))
    if handler.headers.get("x-amz-sso_bearer_token") != os.environ.get("E2E_SSO_TOKEN", "") or \
            not query.get("role_name") or not query.get("account_id"):
        raise Refusal(401, "UnauthorizedException", "Session token not found or invalid")
    key, issued = issue(handler.server)
    return json.dumps({"roleCredentials": {"accessKeyId": key, "secretAccessKey": issued["secret"],
                                           "sessionToken": issued["token"],
                                           "expiration": 1893456000000}})


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log")
    parser.add_argument("--access-key-id", default="AKIDEXAMPLE")
    parser.add_argument("--region", default="us-west-2")
    parser.add_argument("--cluster", default="examplecluster")
    parser.add_argument("--db-user", default="alice")
    parser.add_argument("--workgroup", default="default-wg")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.options = parser.parse_args()
    server.secret_key = os.environ["E2E_SECRET_ACCESS_KEY"]
    server.issued = {}
    # Written beside and renamed, so that a reader never sees a half-written port.
    with open(server.options.port_file + ".part", "w", encoding="ascii") as out:
        out.write(f"{server.server_address[1]}\n")
    os.replace(server.options.port_file + ".part", server.options.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
