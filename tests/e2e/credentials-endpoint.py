#!/usr/bin/env python3
"""A stand-in for the Redshift GetClusterCredentials endpoint, on 127.0.0.1 only.

It answers one kind of request: POST / with Action=GetClusterCredentials as the last
query item, the expected ClusterIdentifier and DbUser, and an AWS Signature Version 4
Authorization header for the expected access key, region and service, whose signature
botocore recomputes with the same X-Amz-Date. Anything else gets the ErrorResponse
document Redshift sends, with a 400 (or 403 for signature faults).

The port is chosen by the kernel and written to --port-file once the socket listens, so
that parallel runs never race for a port. The secret key and the password to hand out
come from the environment, not the command line, to keep them out of process lists.
Each request leaves one line in --log (status and error code, never a secret).
"""

import argparse
import datetime
import hmac
import http.server
import os
import sys
import urllib.parse
import uuid
from xml.sax.saxutils import escape

import botocore.auth
import botocore.awsrequest
import botocore.credentials

NAMESPACE = "http://redshift.amazonaws.com/doc/2012-12-01/"


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "iamlink-e2e-endpoint"
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass  # the access log would repeat the request line; the --log line suffices

    def do_GET(self):
        self.drain()
        self.fail(400, "InvalidAction", "Only POST is answered here.")

    do_PUT = do_DELETE = do_HEAD = do_GET

    def do_POST(self):
        body = self.drain()
        split = urllib.parse.urlsplit(self.path)
        if split.path != "/":
            return self.fail(400, "InvalidAction", "The path must be /.")
        try:
            items = urllib.parse.parse_qsl(split.query, keep_blank_values=True,
                                           strict_parsing=bool(split.query))
        except ValueError:
            return self.fail(400, "MalformedQueryString", "The query could not be parsed.")
        if not items or items[-1] != ("Action", "GetClusterCredentials"):
            return self.fail(400, "InvalidAction",
                             "Action=GetClusterCredentials must be the last query item.")
        names = [name for name, _ in items]
        if len(names) != len(set(names)):
            return self.fail(400, "InvalidParameterCombination", "A query item is repeated.")
        query = dict(items)
        options = self.server.options
        if query.get("ClusterIdentifier") != options.cluster:
            return self.fail(400, "ClusterNotFound", "No such cluster.")
        if query.get("DbUser") != options.db_user:
            return self.fail(400, "InvalidParameterValue", "Unexpected DbUser.")

        problem = self.signature_problem(split.path, query, body)
        if problem:
            return self.fail(403, *problem)

        expiration = (datetime.datetime.now(datetime.timezone.utc)
                      + datetime.timedelta(minutes=15)).strftime("%Y-%m-%dT%H:%M:%SZ")
        document = (
            f'<GetClusterCredentialsResponse xmlns="{NAMESPACE}">'
            "<GetClusterCredentialsResult>"
            f"<DbUser>{escape('IAM:' + options.db_user)}</DbUser>"
            f"<DbPassword>{escape(self.server.password)}</DbPassword>"
            f"<Expiration>{expiration}</Expiration>"
            "</GetClusterCredentialsResult>"
            f"<ResponseMetadata><RequestId>{uuid.uuid4()}</RequestId></ResponseMetadata>"
            "</GetClusterCredentialsResponse>")
        self.reply(200, document, "GetClusterCredentials")

    def signature_problem(self, path, query, body):
        """None when the Authorization header is a valid SigV4 signature, else (code, message)."""
        options = self.server.options
        authorization = self.headers.get("Authorization", "")
        algorithm, _, rest = authorization.partition(" ")
        if algorithm != "AWS4-HMAC-SHA256":
            return "MissingAuthenticationToken", "No AWS4-HMAC-SHA256 Authorization header."
        fields = {}
        for part in rest.split(","):
            name, _, value = part.strip().partition("=")
            fields[name] = value
        credential = fields.get("Credential", "").split("/")
        if (len(credential) != 5 or credential[0] != options.access_key_id
                or credential[2:] != [options.region, "redshift", "aws4_request"]):
            return "InvalidClientTokenId", "The credential scope is not the expected one."
        amz_date = self.headers.get("X-Amz-Date", "")
        if len(amz_date) != 16 or not amz_date.startswith(credential[1]):
            return "IncompleteSignature", "X-Amz-Date is missing or does not match the scope."
        signed = fields.get("SignedHeaders", "").split(";")
        if "host" not in signed or "x-amz-date" not in signed:
            return "IncompleteSignature", "Host and X-Amz-Date must be signed."
        headers = {}
        for name in signed:
            value = self.headers.get(name)
            if value is None:
                return "IncompleteSignature", "A signed header is missing."
            headers[name] = value

        # botocore signs what it is given: the received headers, query and body, at the
        # received time, so any difference from the client's signature is the client's.
        request = botocore.awsrequest.AWSRequest(
            method=self.command, url=f"http://{headers['host']}{path}", params=query,
            headers=headers, data=body)
        request.context["timestamp"] = amz_date
        signer = botocore.auth.SigV4Auth(
            botocore.credentials.Credentials(options.access_key_id, self.server.secret_key),
            "redshift", options.region)
        canonical = signer.canonical_request(request)
        expected = signer.signature(signer.string_to_sign(request, canonical), request)
        if not hmac.compare_digest(expected, fields.get("Signature", "")):
            return ("SignatureDoesNotMatch",
                    "The request signature we calculated does not match the signature you provided.")
        return None

    def drain(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def fail(self, status, code, message):
        document = (f'<ErrorResponse xmlns="{NAMESPACE}"><Error><Type>Sender</Type>'
                    f"<Code>{escape(code)}</Code><Message>{escape(message)}</Message></Error>"
                    f"<RequestId>{uuid.uuid4()}</RequestId></ErrorResponse>")
        self.reply(status, document, code)

    def reply(self, status, document, outcome):
        data = document.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
        if self.server.options.log:
            with open(self.server.options.log, "a", encoding="utf-8") as log:
                log.write(f"{status} {outcome}\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log")
    parser.add_argument("--access-key-id", default="AKIDEXAMPLE")
    parser.add_argument("--region", default="us-west-2")
    parser.add_argument("--cluster", default="examplecluster")
    parser.add_argument("--db-user", default="alice")
    options = parser.parse_args()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.options = options
    server.secret_key = os.environ["E2E_SECRET_ACCESS_KEY"]
    server.password = os.environ["E2E_DB_PASSWORD"]

    # Written beside and renamed, so a reader never sees a half-written port.
    partial = options.port_file + ".partial"
    with open(partial, "w", encoding="ascii") as out:
        out.write(f"{server.server_address[1]}\n")
    os.replace(partial, options.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
