#!/usr/bin/env python3
"""A small HTTP(S) service on 127.0.0.1 for the network tests.

It binds a free port, prints the port number as its first line, and serves
until it has answered --max-requests requests or --lifetime seconds have
passed (the test that started it normally stops it first). Every request is
logged as one JSON line to --log: method, path, headers in order, body length,
the client's port (one per connection: requests on a kept-alive connection
share it), the requests in flight when it came, this one included, and for
TLS whether the session was resumed. Connections are kept alive (HTTP/1.1);
--latency adds that many seconds before every answer; --close ends the
connection after every answer.

Timestamp replies come from OpenSSL's own time-stamp responder (the code of
`openssl ts -reply`), set up once from --tsa-config the way that command sets
it up, and called in this process for every query.

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
import ctypes
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
log_file = None
served = 0
in_flight = 0
done = threading.Event()

P = ctypes.c_void_p
crypto = ctypes.CDLL("libcrypto.so.3")
for name, restype, argtypes in [
        ("NCONF_new", P, [P]), ("NCONF_load", ctypes.c_int, [P, ctypes.c_char_p, ctypes.POINTER(ctypes.c_long)]),
        ("TS_RESP_CTX_new", P, []), ("TS_RESP_CTX_set_serial_cb", None, [P, P, P]),
        ("TS_RESP_create_response", P, [P, P]), ("i2d_TS_RESP", ctypes.c_int, [P, ctypes.POINTER(P)]),
        ("TS_RESP_free", None, [P]), ("BIO_new_mem_buf", P, [ctypes.c_char_p, ctypes.c_int]),
        ("BIO_free", ctypes.c_int, [P]), ("CRYPTO_free", None, [P, ctypes.c_char_p, ctypes.c_int]),
        ("ASN1_INTEGER_new", P, []), ("ASN1_INTEGER_set", ctypes.c_int, [P, ctypes.c_long]),
        ("TS_CONF_get_tsa_section", ctypes.c_char_p, [P, ctypes.c_char_p])]:
    getattr(crypto, name).restype = restype
    getattr(crypto, name).argtypes = argtypes
SERIAL_CB = ctypes.CFUNCTYPE(P, P, P)

# The settings `openssl ts -reply` reads from its configuration section, in its order.
TS_SETTINGS = ["signer_cert", "certs", "signer_key", "signer_digest", "ess_cert_id_digest", "def_policy",
               "policies", "digests", "accuracy", "clock_precision_digits", "ordering", "tsa_name",
               "ess_cert_id_chain"]


class Responder:
    """OpenSSL's time-stamp responder for one section of the configuration."""

    def __init__(self, config, section):
        conf = crypto.NCONF_new(None)
        line = ctypes.c_long(0)
        if crypto.NCONF_load(conf, config.encode(), ctypes.byref(line)) <= 0:
            raise RuntimeError("cannot read " + config)
        section = crypto.TS_CONF_get_tsa_section(conf, section.encode() if section else None).decode()
        self.ctx = crypto.TS_RESP_CTX_new()
        self.serial = 0
        self.callback = SERIAL_CB(self.next_serial)
        crypto.TS_RESP_CTX_set_serial_cb(self.ctx, self.callback, None)
        for setting in TS_SETTINGS:
            function = getattr(crypto, "TS_CONF_set_" + setting)
            function.restype = ctypes.c_int
            if setting in ("signer_cert", "certs", "signer_digest", "def_policy"):
                ok = function(P(conf), section.encode(), None, P(self.ctx))
            elif setting == "signer_key":
                ok = function(P(conf), section.encode(), None, None, P(self.ctx))
            else:
                ok = function(P(conf), section.encode(), P(self.ctx))
            if not ok:
                raise RuntimeError("section %s: %s not usable" % (section, setting))

    def next_serial(self, unused_ctx, unused_data):
        self.serial += 1
        number = crypto.ASN1_INTEGER_new()
        crypto.ASN1_INTEGER_set(number, self.serial)
        return number

    def reply(self, query):
        with tsa_lock:  # the responder keeps the request it works on in its context
            bio = crypto.BIO_new_mem_buf(query, len(query))
            response = crypto.TS_RESP_create_response(self.ctx, bio)
            crypto.BIO_free(bio)
        if not response:
            raise RuntimeError("no time-stamp response")
        out = P()
        length = crypto.i2d_TS_RESP(response, ctypes.byref(out))
        der = ctypes.string_at(out, length)
        crypto.CRYPTO_free(out, b"", 0)
        crypto.TS_RESP_free(response)
        return der


responders = {}


def openssl_reply(query, section=None):
    with log_lock:
        if section not in responders:
            responders[section] = Responder(args.tsa_config, section)
    return responders[section].reply(query)


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
    protocol_version = "HTTP/1.1"

    def log_message(self, *unused):
        pass

    def record(self, body):
        global served, in_flight
        resumed = getattr(self.connection, "session_reused", None)
        self.counted = True
        with log_lock:
            served += 1
            in_flight += 1
            entry = {"method": self.command, "path": self.path, "headers": list(self.headers.items()),
                     "body_length": len(body), "connection": self.client_address[1], "in_flight": in_flight,
                     "tls_resumed": resumed}
            log_file.write(json.dumps(entry) + "\n")
            log_file.flush()
            if args.save_body:
                with open(args.save_body, "wb") as f:
                    f.write(body)
        if args.latency > 0:
            time.sleep(args.latency)

    def answered(self):
        global in_flight
        with log_lock:
            in_flight -= 1
            if served >= args.max_requests:
                done.set()

    def handle_one_request(self):
        self.counted = False
        try:
            super().handle_one_request()
        finally:
            if self.counted:
                self.answered()

    def answer(self, status, body, content_type="application/timestamp-reply", sized=True):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        if sized:
            self.send_header("Content-Length", str(len(body)))
        if not sized or args.close:
            self.send_header("Connection", "close")
            self.close_connection = True
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
                self.close_connection = True
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
            self.close_connection = True
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
    request_queue_size = 256


def main():
    global args, log_file
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
    parser.add_argument("--latency", type=float, default=0)
    parser.add_argument("--close", action="store_true")
    args = parser.parse_args()
    log_file = open(args.log, "a")

    server = Server(("127.0.0.1", 0), Handler)
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()
    done.wait(args.lifetime)
    # Give the last answer time to leave before the process ends.
    time.sleep(0.5)
    server.shutdown()
    server.server_close()


if __name__ == "__main__":
    sys.exit(main())
