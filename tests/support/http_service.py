#!/usr/bin/env python3
"""A small HTTP(S) service on 127.0.0.1 for the network tests.

It binds a free port, prints the port number as its first line, and serves
until it has answered --max-requests requests or --lifetime seconds have
passed (the test that started it normally stops it first). Every request is
logged as one JSON line (method, path, headers in order, body length) to --log.

Modes:
  tsa       a time-stamping authority: `openssl ts -reply` with --tsa-config
  reject    the same with the section "reject" of --tsa-config (it accepts
            only MD5 imprints, so every query is refused with status 2)
  mods      a granted reply whose status is changed to 1 (grantedWithMods)
  wrong     a granted reply for another query
  html500   status 500 with an HTML page
  empty     status 200 with no body
  redirect  status 302 to the same server's /moved
  auth      like tsa, but only with the basic credentials --credentials
  silent    reads the request and never answers
  big       --size bytes with a Content-Length
  unsized   --size bytes without a Content-Length, ended by closing
  proxy     an HTTP proxy forwarding to 127.0.0.1 targets only
  revocation  the services a test PKI made by make_ltv_pki.sh names, under
            --pki: POST /ocsp/<ca> answers with `openssl ocsp` from that CA's
            database (nextUpdate --ocsp-days days ahead; 0 leaves it out),
            GET /crl/<name> sends the file crl/<name>; POST /ocsp/silent never answers;
            POST /tsa answers as the mode tsa does (its PKI's tsa/tsa.cnf), POST
            /tsa/own with the section "own" (tokens that carry the TSA's
            certificate alone)
"""
import argparse
import base64
import http.server
import json
import os
import re
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

args = None
log_lock = threading.Lock()
tsa_lock = threading.Lock()


def openssl_reply(query, section=None):
    with tsa_lock, tempfile.TemporaryDirectory() as work:
        qpath = os.path.join(work, "q.tsq")
        rpath = os.path.join(work, "r.tsr")
        with open(qpath, "wb") as f:
            f.write(query)
        command = ["openssl", "ts", "-reply", "-config", args.tsa_config, "-queryfile", qpath, "-out", rpath]
        if section:
            command[3:3] = ["-section", section]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(rpath, "rb") as f:
            return f.read()


def ocsp_reply(ca, request):
    folder = os.path.join(args.pki, ca)
    with tsa_lock, tempfile.TemporaryDirectory() as work:
        qpath = os.path.join(work, "q.der")
        rpath = os.path.join(work, "r.der")
        with open(qpath, "wb") as f:
            f.write(request)
        command = ["openssl", "ocsp", "-index", os.path.join(folder, "index.txt"),
                   "-CA", os.path.join(folder, "ca.pem"), "-rsigner", os.path.join(folder, "responder.pem"),
                   "-rkey", os.path.join(folder, "responder.key"), "-reqin", qpath, "-respout", rpath]
        if args.ocsp_days > 0:
            command += ["-ndays", str(args.ocsp_days)]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(rpath, "rb") as f:
            return f.read()


def other_query():
    with tempfile.TemporaryDirectory() as work:
        data = os.path.join(work, "other")
        with open(data, "wb") as f:
            f.write(b"some other document")
        return subprocess.run(["openssl", "ts", "-query", "-data", data, "-sha1", "-cert", "-no_nonce"],
                              check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *unused):
        pass

    def record(self, body):
        entry = {"method": self.command, "path": self.path, "headers": list(self.headers.items()),
                 "body_length": len(body)}
        with log_lock, open(args.log, "a") as f:
            f.write(json.dumps(entry) + "\n")
        if args.save_body:
            with open(args.save_body, "wb") as f:
                f.write(body)

    def answer(self, status, body, content_type="application/timestamp-reply", sized=True):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        if sized:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self.record(b"")
        if args.mode != "revocation":
            return self.answer(200, b"get")
        name = self.path[len("/crl/"):] if self.path.startswith("/crl/") else ""
        path = os.path.join(args.pki, "crl", name)
        if not re.fullmatch(r"[a-z]+\.crl", name) or not os.path.isfile(path):
            return self.answer(404, b"<html>not found</html>", "text/html")
        with open(path, "rb") as f:
            self.answer(200, f.read(), "application/pkix-crl")

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        self.record(body)
        mode = args.mode
        if mode == "proxy":
            return self.forward(body)
        if mode == "revocation":
            ca = self.path[len("/ocsp/"):] if self.path.startswith("/ocsp/") else ""
            if self.path == "/tsa":
                return self.answer(200, openssl_reply(body))
            if self.path == "/tsa/own":
                return self.answer(200, openssl_reply(body, "own"))
            if ca == "silent":
                time.sleep(args.lifetime)
                return
            if not re.fullmatch(r"[a-z]+", ca) or not os.path.isdir(os.path.join(args.pki, ca)):
                return self.answer(404, b"<html>not found</html>", "text/html")
            return self.answer(200, ocsp_reply(ca, body), "application/ocsp-response")
        if mode == "auth":
            expected = "Basic " + base64.b64encode(args.credentials.encode()).decode()
            if self.headers.get("Authorization") != expected:
                return self.answer(401, b"<html>unauthorized</html>", "text/html")
            mode = "tsa"
        if mode == "tsa":
            return self.answer(200, openssl_reply(body))
        if mode == "reject":
            return self.answer(200, openssl_reply(body, "reject"))
        if mode == "mods":
            reply = bytearray(openssl_reply(body))
            # TimeStampResp SEQUENCE { PKIStatusInfo SEQUENCE { INTEGER 0 } ...
            at = reply.find(b"\x30\x03\x02\x01\x00")
            reply[at + 4] = 1
            return self.answer(200, bytes(reply))
        if mode == "wrong":
            return self.answer(200, openssl_reply(other_query()))
        if mode == "html500":
            return self.answer(500, b"<html><body>Internal Server Error</body></html>", "text/html")
        if mode == "empty":
            return self.answer(200, b"")
        if mode == "redirect":
            self.send_response(302)
            self.send_header("Location", "/moved")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if mode == "silent":
            time.sleep(args.lifetime)
            return
        if mode in ("big", "unsized"):
            return self.answer(200, b"x" * args.size, "application/octet-stream", sized=(mode == "big"))
        self.answer(400, b"unknown mode", "text/plain")

    def forward(self, body):
        target = urllib.parse.urlsplit(self.path)
        if target.hostname != "127.0.0.1":
            return self.answer(403, b"only loopback targets", "text/plain")
        headers = {k: v for k, v in self.headers.items() if k.lower() not in ("host", "proxy-connection", "content-length")}
        request = urllib.request.Request(self.path, data=body, headers=headers, method="POST")
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        try:
            with opener.open(request, timeout=30) as reply:
                self.answer(reply.status, reply.read(), reply.headers.get("Content-Type", "application/octet-stream"))
        except urllib.error.HTTPError as error:
            self.answer(error.code, error.read(), "text/plain")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--tsa-config")
    parser.add_argument("--credentials", default="")
    parser.add_argument("--size", type=int, default=0)
    parser.add_argument("--save-body")
    parser.add_argument("--pki")
    parser.add_argument("--ocsp-days", type=int, default=1)
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--max-requests", type=int, default=20)
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()

    server = Server(("127.0.0.1", 0), Handler)
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.timeout = 0.2
    deadline = time.monotonic() + args.lifetime
    served = 0
    while served < args.max_requests and time.monotonic() < deadline:
        server.handle_request()
        served = sum(1 for _ in open(args.log)) if os.path.exists(args.log) else 0
    # Give the last answer time to leave before the process ends.
    time.sleep(0.5)
    server.server_close()


if __name__ == "__main__":
    sys.exit(main())
