#!/usr/bin/env python3
"""A remote signing service on 127.0.0.1 for the tests and the benchmark.

It speaks the JSON remote signing interface under /csc/v2 (info, auth/login,
credentials/list, credentials/info, credentials/authorize,
signatures/signHash) with real keys: each --credential ID=FILE.p12 is a
PKCS#12 store (password --store-password) whose key signs the hashes it is
given, RSA or EC. It binds a free port, prints the port number as its first
line, and serves until --max-requests requests were answered or --lifetime
seconds passed (the test that started it normally stops it first).

It enforces what such a service enforces: a bearer access token on every
method but info and auth/login (--token, or one that auth/login issued for
the basic credentials --user and --password), the credential PIN when --pin
is set, numSignatures and the authorised hashes, and the SAD's lifetime
(--sad-lifetime seconds; the first --expired-sads SADs are issued expired).
--latency adds milliseconds to every answer. --fault makes the method named by
--fault-on (signatures/signHash by default) misbehave:

  other-key   signatures by another key      short    values cut to half
  empty       empty values                   fewer    one signature less
  more        one signature more             raw      EC values as r||s, not DER
  badjson     a reply that is not JSON       big      a reply of 5 MiB
  http401, http403, http500   that status    error    an error body (400)
  echo        an error body that repeats the request's secrets
  silent      no answer at all

Every request is logged as one JSON line to --log: its method, the scheme of
its Authorization header, numSignatures and the number of hashes, and the
secrets the service issued for it (tokens and SADs), so that a test can look
for them where they must never appear.
"""
import argparse
import base64
import http.server
import json
import os
import secrets
import socketserver
import sys
import threading
import time

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa, utils
from cryptography.hazmat.primitives.serialization import pkcs12

args = None
lock = threading.Lock()
credentials = {}   # id -> {"key", "chain"}
tokens = set()
sads = {}          # SAD -> {"credential", "hashes", "left", "expires"}
issued = 0

HASHES = {
    "1.3.14.3.2.26": hashes.SHA1(), "2.16.840.1.101.3.4.2.4": hashes.SHA224(),
    "2.16.840.1.101.3.4.2.1": hashes.SHA256(), "2.16.840.1.101.3.4.2.2": hashes.SHA384(),
    "2.16.840.1.101.3.4.2.3": hashes.SHA512(),
}
RSA_ALGOS = {"1.2.840.113549.1.1.1": None, "1.2.840.113549.1.1.5": "1.3.14.3.2.26",
             "1.2.840.113549.1.1.11": "2.16.840.1.101.3.4.2.1", "1.2.840.113549.1.1.12": "2.16.840.1.101.3.4.2.2",
             "1.2.840.113549.1.1.13": "2.16.840.1.101.3.4.2.3", "1.2.840.113549.1.1.14": "2.16.840.1.101.3.4.2.4"}
EC_ALGOS = {"1.2.840.10045.2.1": None, "1.2.840.10045.4.1": "1.3.14.3.2.26",
            "1.2.840.10045.4.3.2": "2.16.840.1.101.3.4.2.1", "1.2.840.10045.4.3.3": "2.16.840.1.101.3.4.2.2",
            "1.2.840.10045.4.3.4": "2.16.840.1.101.3.4.2.3", "1.2.840.10045.4.3.1": "2.16.840.1.101.3.4.2.4"}
METHODS = ["info", "auth/login", "credentials/list", "credentials/info", "credentials/authorize",
           "signatures/signHash"]


class Refusal(Exception):
    def __init__(self, status, error, description):
        super().__init__(description)
        self.status, self.error, self.description = status, error, description


def algos_of(key):
    return RSA_ALGOS if isinstance(key, rsa.RSAPrivateKey) else EC_ALGOS


def sign_hash(key, digest, algorithm):
    prehashed = utils.Prehashed(algorithm)
    if isinstance(key, rsa.RSAPrivateKey):
        return key.sign(digest, padding.PKCS1v15(), prehashed)
    return key.sign(digest, ec.ECDSA(prehashed))


def other_key(key):
    if isinstance(key, rsa.RSAPrivateKey):
        return rsa.generate_private_key(public_exponent=65537, key_size=key.key_size)
    return ec.generate_private_key(key.curve)


def as_raw(key, value):
    r, s = utils.decode_dss_signature(value)
    size = (key.curve.key_size + 7) // 8
    return r.to_bytes(size, "big") + s.to_bytes(size, "big")


def load_credentials():
    for given in args.credential:
        name, path = given.split("=", 1)
        with open(path, "rb") as f:
            key, cert, extra = pkcs12.load_key_and_certificates(f.read(), args.store_password.encode())
        credentials[name] = {"key": key, "chain": [cert] + list(extra or [])}


def der_b64(cert):
    return base64.b64encode(cert.public_bytes(serialization.Encoding.DER)).decode()


def credential_info(body):
    credential = credentials.get(body.get("credentialID"))
    if credential is None:
        raise Refusal(400, "invalid_request", "Invalid parameter credentialID")
    key, chain = credential["key"], credential["chain"]
    which = body.get("certificates", "single")
    shown = {"none": [], "single": chain[:1], "chain": chain}.get(which)
    if shown is None:
        raise Refusal(400, "invalid_request", "Invalid parameter certificates")
    cert = chain[0]
    mode = "explicit" if args.pin else "implicit"
    described = {"status": "enabled", "algo": list(algos_of(key)), "len": key.key_size}
    if isinstance(key, ec.EllipticCurvePrivateKey):
        described["curve"] = {"secp256r1": "1.2.840.10045.3.1.7", "secp384r1": "1.3.132.0.34"}.get(key.curve.name, "")
    return {"description": "Test credential", "key": described,
            "cert": {"status": "valid", "certificates": [der_b64(c) for c in shown],
                     "issuerDN": cert.issuer.rfc4514_string(), "subjectDN": cert.subject.rfc4514_string(),
                     "serialNumber": format(cert.serial_number, "x")},
            "auth": {"mode": mode}, "authMode": mode, "PIN": {"presence": "true" if args.pin else "false"},
            "SCAL": "1", "multisign": args.multisign, "lang": "en-US"}


def decoded_hashes(body, algorithm_oid):
    algorithm = HASHES.get(algorithm_oid)
    if algorithm is None:
        raise Refusal(400, "invalid_request", "Invalid parameter hashAlgorithmOID")
    try:
        values = [base64.b64decode(h, validate=True) for h in body.get("hashes", [])]
    except (ValueError, TypeError):
        raise Refusal(400, "invalid_request", "Invalid Base64 hash string parameter")
    if not values or any(len(v) != algorithm.digest_size for v in values):
        raise Refusal(400, "invalid_request", "Invalid parameter hashes")
    return values, algorithm


def authorize(body):
    global issued
    if body.get("credentialID") not in credentials:
        raise Refusal(400, "invalid_request", "Invalid parameter credentialID")
    if args.pin and body.get("PIN") != args.pin:
        raise Refusal(400, "invalid_pin", "The PIN is invalid")
    values, _ = decoded_hashes(body, body.get("hashAlgorithmOID"))
    count = body.get("numSignatures")
    if not isinstance(count, int) or count < 1 or count != len(values):
        raise Refusal(400, "invalid_request", "Invalid parameter numSignatures")
    if count > args.multisign:
        raise Refusal(400, "invalid_request", "numSignatures is more than the credential allows")
    sad = secrets.token_urlsafe(24)
    with lock:
        lifetime = -1 if issued < args.expired_sads else args.sad_lifetime
        issued += 1
        sads[sad] = {"credential": body["credentialID"], "hashes": set(values), "left": count,
                     "expires": time.monotonic() + lifetime}
    return {"SAD": sad, "expiresIn": max(lifetime, 0)}, [sad]


def sign_hashes(body):
    credential = credentials.get(body.get("credentialID"))
    with lock:
        grant = sads.get(body.get("SAD"))
        if credential is None or grant is None or grant["credential"] != body.get("credentialID"):
            raise Refusal(400, "invalid_request", "Invalid parameter SAD")
        if time.monotonic() > grant["expires"]:
            raise Refusal(400, "invalid_request", "SAD expired")
        key = credential["key"]
        implied = algos_of(key).get(body.get("signAlgo"), "unknown")
        if implied == "unknown":
            raise Refusal(400, "invalid_request", "Invalid parameter signAlgo")
        values, algorithm = decoded_hashes(body, implied or body.get("hashAlgorithmOID"))
        if len(values) > grant["left"] or not set(values) <= grant["hashes"]:
            raise Refusal(400, "invalid_request", "The hashes were not authorised with this SAD")
        grant["left"] -= len(values)
    signer = other_key(key) if args.fault == "other-key" else key
    signatures = [sign_hash(signer, v, algorithm) for v in values]
    if args.fault == "short":
        signatures = [s[:len(s) // 2] for s in signatures]
    elif args.fault == "empty":
        signatures = [b"" for _ in signatures]
    elif args.fault == "fewer":
        signatures = signatures[:-1]
    elif args.fault == "more":
        signatures.append(signatures[-1])
    elif args.fault == "raw":
        signatures = [as_raw(key, s) for s in signatures]
    return {"signatures": [base64.b64encode(s).decode() for s in signatures]}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *unused):
        pass

    def reply(self, status, body, content_type="application/json"):
        data = body if isinstance(body, bytes) else json.dumps(body).encode()
        try:
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError):
            pass  # a client that stopped reading, as one does past its cap

    def record(self, method, body, issued_secrets, status):
        scheme = self.headers.get("Authorization", "").split(" ")[0]
        entry = {"method": method, "authorization": scheme, "numSignatures": body.get("numSignatures"),
                 "hashes": len(body.get("hashes", [])), "status": status, "issued": issued_secrets}
        with lock, open(args.log, "a") as f:
            f.write(json.dumps(entry) + "\n")

    def bearer_ok(self):
        header = self.headers.get("Authorization", "")
        return header.startswith("Bearer ") and header[len("Bearer "):] in tokens

    def basic_ok(self):
        expected = "Basic " + base64.b64encode(f"{args.user}:{args.password}".encode()).decode()
        return bool(args.user) and self.headers.get("Authorization") == expected

    def answer(self, method, body):
        if method not in METHODS:
            raise Refusal(404, "invalid_request", "Unknown method")
        if method == "info":
            return {"specs": "2.0.0.2", "name": "Quillseal test signing service", "logo": "", "region": "DE",
                    "lang": "en-US", "description": "A remote signing service for tests",
                    "authType": ["basic"], "methods": METHODS}, []
        if method == "auth/login":
            if not self.basic_ok():
                raise Refusal(401, "unauthorized_client", "Invalid user name or password")
            token = secrets.token_urlsafe(32)
            with lock:
                tokens.add(token)
            return {"access_token": token, "expires_in": 3600}, [token]
        if not self.bearer_ok():
            raise Refusal(401, "invalid_token", "The access token is not valid")
        if method == "credentials/list":
            return {"credentialIDs": list(credentials)}, []
        if method == "credentials/info":
            return credential_info(body), []
        if method == "credentials/authorize":
            return authorize(body)
        return sign_hashes(body), []

    def misbehave(self, body):
        fault = args.fault
        if fault == "silent":
            time.sleep(args.lifetime)
            return True
        if fault == "badjson":
            self.reply(200, b'{"signatures": ["', "application/json")
        elif fault == "big":
            self.reply(200, b" " * (5 << 20))
        elif fault in ("http401", "http403"):
            self.reply(int(fault[4:]), {"error": "access_denied", "error_description": "Access denied"})
        elif fault == "http500":
            self.reply(500, b"<html><body>Internal Server Error</body></html>", "text/html")
        elif fault == "error":
            self.reply(400, {"error": "invalid_request", "error_description": "The service refuses this request"})
        elif fault == "echo":
            header = self.headers.get("Authorization", "")
            said = " ".join(str(body.get(k, "")) for k in ("PIN", "SAD")) + " " + header
            self.reply(400, {"error": "invalid_request", "error_description": "Refused: " + said})
        else:
            return False
        return True

    def do_POST(self):
        time.sleep(args.latency / 1000.0)
        method = self.path[len("/csc/v2/"):] if self.path.startswith("/csc/v2/") else ""
        raw = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        try:
            body = json.loads(raw or b"{}")
        except ValueError:
            body = None
        if not isinstance(body, dict):
            self.record(method, {}, [], 400)
            return self.reply(400, {"error": "invalid_request", "error_description": "The body is not JSON"})
        if args.fault and method == args.fault_on and self.misbehave(body):
            return self.record(method, body, [], 0)
        try:
            result, issued_secrets = self.answer(method, body)
        except Refusal as refusal:
            self.record(method, body, [], refusal.status)
            return self.reply(refusal.status, {"error": refusal.error, "error_description": refusal.description})
        self.record(method, body, issued_secrets, 200)
        self.reply(200, result)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 64


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("--credential", action="append", default=[])
    parser.add_argument("--store-password", default="demo-pass")
    parser.add_argument("--token", action="append", default=[])
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--pin", default="")
    parser.add_argument("--latency", type=float, default=0)
    parser.add_argument("--fault", default="")
    parser.add_argument("--fault-on", default="signatures/signHash")
    parser.add_argument("--sad-lifetime", type=float, default=60)
    parser.add_argument("--expired-sads", type=int, default=0)
    parser.add_argument("--multisign", type=int, default=1000)
    parser.add_argument("--log", required=True)
    parser.add_argument("--max-requests", type=int, default=200)
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()
    load_credentials()
    tokens.update(args.token)

    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.timeout = 0.2
    deadline = time.monotonic() + args.lifetime
    while time.monotonic() < deadline:
        server.handle_request()
        if os.path.exists(args.log) and sum(1 for _ in open(args.log)) >= args.max_requests:
            break
    time.sleep(0.5)
    server.server_close()


if __name__ == "__main__":
    sys.exit(main())
