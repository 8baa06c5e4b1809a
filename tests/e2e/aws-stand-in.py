#!/usr/bin/env python3
# A loopback stand-in for the AWS endpoints iamlink calls, refusing what AWS refuses.
#
# Redshift's query API (POST /, Version=2012-12-01): GetClusterCredentials for the cluster
# examplecluster and DbUser alice, and DescribeClusters, whose endpoint is 127.0.0.1 at the port
# E2E_PG_PORT. Redshift Serverless (POST /, a JSON body, X-Amz-Target and Content-Type
# application/x-amz-json-1.1): GetCredentials for the workgroup default-wg and database dev. Both
# hand out the password E2E_DB_PASSWORD, and so does GetClusterCredentialsWithIAM for IAM:alice
# (no DbUser, AutoCreate or groups). STS AssumeRole (Version=2011-06-15; a role whose ARN holds
# "mfa" wants TokenCode 123456), AssumeRoleWithSAML (the assertion of the identity provider here)
# and the SSO portal's GetRoleCredentials (GET /federation/credentials, the bearer token
# "sso-token") hand out temporary keys. IAM Identity Center's OIDC gives that token. GET /device
# and /idp are the browser's visits: a device code confirmed, a SAML sign-in posted on.
#
# All but the SSO portal, the OIDC and AssumeRoleWithSAML want an AWS Signature Version 4 by a known key (with its session token,
# if it has one) for region us-west-2 (us-east-1 for STS) and the service, which botocore
# recomputes at the request's own X-Amz-Date. Known are the keys handed out and the one in
# ./keys.json, read for each request, as `aws configure export-credentials --format process`
# writes it, with an optional "Service", the only one that key may call.
#
# Prints its port once it listens; appends to ./requests.log one line per request: the status and
# the action or error code, no secret.

import base64
import hmac
import http.server
import json
import os
import secrets
import time
import urllib.parse
from xml.sax.saxutils import escape

import botocore.auth
import botocore.awsrequest
import botocore.credentials

REDSHIFT = "http://redshift.amazonaws.com/doc/2012-12-01/"
issued = {}


class Refusal(Exception):
    """The status, error code and message of a reply that refuses."""


def check(condition, status, code, message):
    if not condition:
        raise Refusal(status, code, message)


def issue():
    key = "ASIA" + secrets.token_hex(8).upper()
    issued[key] = {"SecretAccessKey": secrets.token_urlsafe(30),
                   "SessionToken": secrets.token_urlsafe(60)}
    return key, *issued[key].values()


def in_15_minutes():
    """The expiration of a database password: 900 s, the default DurationSeconds."""
    return time.time() + 900


def cluster(params, _):
    check(params.get("ClusterIdentifier") == "examplecluster", 404, "ClusterNotFound",
          "No such cluster.")


def get_cluster_credentials(params, headers):
    cluster(params, headers)
    check(params.get("DbUser") == "alice", 400, "InvalidParameterValue", "Unexpected DbUser.")
    return (f'<GetClusterCredentialsResponse xmlns="{REDSHIFT}"><GetClusterCredentialsResult>'
            f"<DbUser>IAM:alice</DbUser><DbPassword>{escape(os.environ['E2E_DB_PASSWORD'])}"
            "</DbPassword><Expiration>"
            f"{time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(in_15_minutes()))}</Expiration>"
            "</GetClusterCredentialsResult></GetClusterCredentialsResponse>")


def describe_clusters(params, headers):
    cluster(params, headers)
    return (f'<DescribeClustersResponse xmlns="{REDSHIFT}"><DescribeClustersResult><Clusters>'
            "<Cluster><ClusterIdentifier>examplecluster</ClusterIdentifier><Endpoint><Address>"
            f"127.0.0.1</Address><Port>{int(os.environ['E2E_PG_PORT'])}</Port></Endpoint>"
            "</Cluster></Clusters></DescribeClustersResult></DescribeClustersResponse>")


def get_credentials(params, _):
    check(params.get("workgroupName") == "default-wg" and params.get("dbName") == "dev", 400,
          "ValidationException", "Unexpected workgroup or database.")
    # The database user follows from the IAM identity that signed the call.
    return {"dbUser": "IAM:alice", "dbPassword": os.environ["E2E_DB_PASSWORD"],
            "expiration": in_15_minutes()}


def assume_role(params, _):
    check(params.get("RoleSessionName") and params.get("RoleArn", "").startswith("arn:aws:iam::"),
          400, "ValidationError", "RoleArn and RoleSessionName are required.")
    check("mfa" not in params["RoleArn"] or (params.get("SerialNumber")
                                             and params.get("TokenCode") == "123456"),
          403, "AccessDenied", "MultiFactorAuthentication failed.")
    key, secret, token = issue()
    return ('<AssumeRoleResponse xmlns="https://sts.amazonaws.com/doc/2011-06-15/">'
            f"<AssumeRoleResult><Credentials><AccessKeyId>{key}</AccessKeyId><SecretAccessKey>"
            f"{secret}</SecretAccessKey><SessionToken>{token}</SessionToken><Expiration>"
            "2030-01-01T00:00:00Z</Expiration></Credentials></AssumeRoleResult></AssumeRoleResponse>")


def get_role_credentials(params, headers):
    check(headers.get("x-amz-sso_bearer_token") == "sso-token"
          and params == {"role_name": "Reader", "account_id": "123456789012"},
          401, "UnauthorizedException", "Session token not found or invalid")
    key, secret, token = issue()
    return {"roleCredentials": {"accessKeyId": key, "secretAccessKey": secret,
                                "sessionToken": token, "expiration": 1893456000000}}


def get_cluster_credentials_with_iam(params, headers):
    cluster(params, headers)
    check(not {"DbUser", "AutoCreate"} & params.keys() and not any(
        name.startswith("DbGroups") for name in params), 400, "InvalidParameterCombination",
        "The database user follows from the IAM identity.")
    return get_cluster_credentials({**params, "DbUser": "alice"}, headers).replace(
        "GetClusterCredentials", "GetClusterCredentialsWithIAM")


# IAM Identity Center's OIDC (unsigned JSON): one registration, device codes confirmed by a GET of
# their page (the browser), and the token "sso-token" with a refresh token.
OIDC_ACTIONS = {"/client/register": "RegisterClient", "/token": "CreateToken",
                "/device_authorization": "StartDeviceAuthorization"}
DEVICES, SSO_CLIENT = {}, {"clientId": "iamlink-client", "clientSecret": "client-SECRET"}
SSO_TOKEN = {"accessToken": "sso-token", "tokenType": "Bearer", "expiresIn": 28800,
             "refreshToken": "refresh-SECRET"}


def oidc(path, params, headers):
    if path == "/client/register":
        check(params.get("clientType") == "public", 400, "invalid_client_metadata",
              "clientType must be public.")
        return {**SSO_CLIENT, "clientSecretExpiresAt": 4102444800}
    check(all(params.get(name) == value for name, value in SSO_CLIENT.items()), 401,
          "invalid_client", "Unknown client.")
    if path == "/device_authorization":
        check(params.get("startUrl") == "https://corp.awsapps.example/start", 400,
              "invalid_request", "Unknown start URL.")
        code = f"WXYZ-{len(DEVICES):04}"
        DEVICES[code] = False
        page = f"http://{headers['host']}/device?user_code={code}"
        return {"deviceCode": "device-SECRET-" + code, "userCode": code, "expiresIn": 600,
                "interval": 1, "verificationUri": page, "verificationUriComplete": page}
    if params.get("grantType") == "refresh_token":
        check(params.get("refreshToken") == SSO_TOKEN["refreshToken"], 400, "invalid_grant",
              "Unknown refresh token.")
        return SSO_TOKEN
    code = params.get("deviceCode", "").removeprefix("device-SECRET-")
    check(code in DEVICES, 400, "invalid_grant", "Unknown device code.")
    check(DEVICES[code], 400, "authorization_pending", "Not confirmed yet.")
    return SSO_TOKEN


def browse(split):
    """The browser's visit: a device code confirmed, or a SAML sign-in at the identity provider,
    whose form the browser is to post on to 127.0.0.1 at the port of the listen item."""
    query = dict(urllib.parse.parse_qsl(split.query))
    if split.path == "/device":
        check(query.get("user_code") in DEVICES, 404, "NotFound", "No such code.")
        DEVICES[query["user_code"]] = True
        return "Confirmed."
    return json.dumps({"action": f"http://127.0.0.1:{int(query['listen'])}/",
                       "SAMLResponse": base64.b64encode(SAML.encode()).decode()})


SAML = ('<samlp:Response xmlns:samlp="urn:oasis:names:tc:SAML:2.0:protocol" '
        'xmlns:saml="urn:oasis:names:tc:SAML:2.0:assertion"><saml:Assertion>'
        '<saml:AttributeStatement><saml:Attribute Name="https://aws.amazon.com/SAML/Attributes/'
        'Role"><saml:AttributeValue>arn:aws:iam::123456789012:saml-provider/idp,'
        'arn:aws:iam::123456789012:role/analyst</saml:AttributeValue></saml:Attribute>'
        '<saml:Attribute Name="https://redshift.amazon.com/SAML/Attributes/DbUser">'
        '<saml:AttributeValue>alice</saml:AttributeValue></saml:Attribute>'
        '</saml:AttributeStatement></saml:Assertion></samlp:Response>')


def assume_role_with_saml(params, _):
    check(params.get("RoleArn") == "arn:aws:iam::123456789012:role/analyst"
          and params.get("PrincipalArn") == "arn:aws:iam::123456789012:saml-provider/idp"
          and base64.b64decode(params.get("SAMLAssertion", "")) == SAML.encode(), 400,
          "InvalidIdentityToken", "Not the assertion the identity provider gave.")
    return assume_role({"RoleSessionName": "saml", **params}, _).replace(
        "AssumeRole", "AssumeRoleWithSAML")


# action: method, path, service signed for (None: not signed), region, Version, answer
ACTIONS = {
    "GetClusterCredentialsWithIAM": ("POST", "/", "redshift", "us-west-2", "2012-12-01",
                                     get_cluster_credentials_with_iam),
    "AssumeRoleWithSAML": ("POST", "/", None, None, "2011-06-15", assume_role_with_saml),
    "GetClusterCredentials": ("POST", "/", "redshift", "us-west-2", "2012-12-01",
                              get_cluster_credentials),
    "DescribeClusters": ("POST", "/", "redshift", "us-west-2", "2012-12-01", describe_clusters),
    "RedshiftServerless.GetCredentials": ("POST", "/", "redshift-serverless", "us-west-2", None,
                                          get_credentials),
    "AssumeRole": ("POST", "/", "sts", "us-east-1", "2011-06-15", assume_role),
    "GetRoleCredentials": ("GET", "/federation/credentials", None, None, None,
                           get_role_credentials),
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # The head and the body go out in two writes: without this, the client's delayed ACK held
    # each reply on a reused connection some 40 ms.
    disable_nagle_algorithm = True

    def do_POST(self):
        split = urllib.parse.urlsplit(self.path)
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        target = self.headers.get("X-Amz-Target")
        sso_oidc = OIDC_ACTIONS.get(split.path)
        is_json = target or sso_oidc or split.path == "/federation/credentials"
        try:
            try:
                if split.path in ("/device", "/idp"):
                    outcome, document = "browser", browse(split)
                elif sso_oidc:
                    check(self.command == "POST" and self.headers.get("Content-Type")
                          == "application/json", 400, "invalid_request", "Expected JSON.")
                    outcome, document = sso_oidc, oidc(split.path, json.loads(body), self.headers)
                else:
                    outcome, document = self.call(split, body, target, is_json)
            except ValueError:
                raise Refusal(400, "MalformedInput", "The request could not be read.")
            status = 200
        except Refusal as refusal:
            status, outcome, message = refusal.args
            document = ({"error": outcome, "error_description": message} if sso_oidc else
                        {"__type": f"com.amazonaws.redshiftserverless#{outcome}",
                         "message": message} if is_json else
                        f'<ErrorResponse xmlns="{REDSHIFT}"><Error><Type>Sender</Type><Code>'
                        f"{outcome}</Code><Message>{escape(message)}</Message></Error>"
                        "</ErrorResponse>")
        data = (json.dumps(document) if is_json else document).encode()
        # Logged before the reply goes out, so that the log is whole once the client has it.
        with open("requests.log", "a", encoding="utf-8") as log:
            log.write(f"{status} {outcome}\n")
        self.send_response(status)
        self.send_header("Content-Type", "application/x-amz-json-1.1" if is_json else "text/xml")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def call(self, split, body, target, is_json):
        """The action a request of the AWS APIs names, and its answer."""
        if target:
            check(self.headers.get("Content-Type") == "application/x-amz-json-1.1", 400,
                  "SerializationException", "Expected application/x-amz-json-1.1.")
            action, params = target, json.loads(body)
        else:
            params = dict(urllib.parse.parse_qsl(split.query or body.decode(),
                                                 keep_blank_values=True))
            action = "GetRoleCredentials" if is_json else params.get("Action")
        check(action in ACTIONS, 400, "InvalidAction", "Unknown action or operation.")
        method, path, service, region, version, answer = ACTIONS[action]
        check((self.command, split.path) == (method, path), 400, "InvalidAction",
              f"{action} wants {method} {path}.")
        check(params.get("Version") == version, 400, "MissingParameter",
              f"The request must contain the parameter Version={version}.")
        if service:
            self.verify(service, region, split, body)
        return action, answer(params, self.headers)

    do_GET = do_POST

    def verify(self, service, region, split, body):
        algorithm, _, rest = self.headers.get("Authorization", "").partition(" ")
        check(algorithm == "AWS4-HMAC-SHA256", 403, "MissingAuthenticationToken",
              "No AWS4-HMAC-SHA256 signature.")
        fields = dict(part.strip().partition("=")[::2] for part in rest.split(","))
        credential = fields.get("Credential", "").split("/")
        with open("keys.json", encoding="utf-8") as file:
            exported = json.load(file)
        key = {exported["AccessKeyId"]: exported, **issued}.get(credential[0])
        check(key and credential[2:] == [region, service, "aws4_request"]
              and key.get("Service") in (None, "", service),
              403, "InvalidClientTokenId", "Unknown key, or not for this scope.")
        token = key.get("SessionToken") or None
        check(self.headers.get("X-Amz-Security-Token") == token, 403, "InvalidClientTokenId",
              "The security token is not the expected one.")
        date, signed = self.headers.get("X-Amz-Date", ""), fields.get("SignedHeaders", "").split(";")
        must_sign = {"host", "x-amz-date"} | {name.lower() for name in self.headers
                                              if name.lower() in ("x-amz-security-token",
                                                                  "x-amz-target")}
        check(date.startswith(credential[1]) and must_sign <= set(signed)
              and all(self.headers.get(name) is not None for name in signed), 403,
              "IncompleteSignature", "Host, X-Amz-Date and X-Amz- headers sent must be signed.")
        # botocore signs what arrived, at the time it names, so any difference is the client's.
        request = botocore.awsrequest.AWSRequest(
            method=self.command, url=f"http://{self.headers['host']}{split.path}",
            params=urllib.parse.parse_qsl(split.query, keep_blank_values=True),
            headers={name: self.headers[name] for name in signed}, data=body)
        request.context["timestamp"] = date
        signer = botocore.auth.SigV4Auth(
            botocore.credentials.Credentials(credential[0], key["SecretAccessKey"], token),
            service, region)
        expected = signer.signature(
            signer.string_to_sign(request, signer.canonical_request(request)), request)
        check(hmac.compare_digest(expected, fields.get("Signature", "")), 403,
              "SignatureDoesNotMatch",
              "The request signature we calculated does not match the signature you provided.")


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
