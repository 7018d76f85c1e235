#!/usr/bin/python3
"""A small fleet server for the agent's tests: the upload protocol over TLS
(or plain HTTP) on loopback, with its store in a folder so that it can be
killed and started again. Standard library only.

Usage: fleet_test_server.py --store DIR --port-file FILE [--port N]
           [--cert FILE --key FILE] [--mode MODE] [--busy N]
MODE: normal; refuse-secret (403 at enrolment); revoked (401 for every key);
hang-scans (reads an upload, then never answers: for a kill mid-upload);
refuse-scans (400 for every upload).
--busy N answers the first N uploads with 503 and Retry-After: 1.
"""
import argparse
import gzip
import hashlib
import http.server
import json
import os
import secrets
import ssl
import sys
import threading
import time
import uuid
import zlib

LONGEST_BODY = 8 * 1024 * 1024
LONGEST_SNAPSHOT = 64 * 1024 * 1024


class Store:
    """keys.json (hash of each key -> agent id) and scans/<digest>.json."""

    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()
        os.makedirs(os.path.join(folder, "scans"), exist_ok=True)
        self.keys_file = os.path.join(folder, "keys.json")
        self.log_file = os.path.join(folder, "requests.log")

    def keys(self):
        try:
            with open(self.keys_file) as f:
                return json.load(f)
        except FileNotFoundError:
            return {}

    def enrol(self, machine):
        key = secrets.token_urlsafe(32)
        agent = str(uuid.uuid4())
        with self.lock:
            keys = self.keys()
            keys[hashlib.sha256(key.encode()).hexdigest()] = {"agent-id": agent, "machine": machine}
            with open(self.keys_file + ".tmp", "w") as f:
                json.dump(keys, f)
            os.replace(self.keys_file + ".tmp", self.keys_file)
        return agent, key

    def agent_of(self, key):
        entry = self.keys().get(hashlib.sha256(key.encode()).hexdigest())
        return entry["agent-id"] if entry else None

    def add(self, body, agent):
        digest = hashlib.sha256(body).hexdigest()
        path = os.path.join(self.folder, "scans", digest + ".json")
        with self.lock:
            if os.path.exists(path):
                return False, digest
            with open(path + ".tmp", "wb") as f:
                f.write(body)
            os.replace(path + ".tmp", path)
        return True, digest

    def log(self, line):
        with self.lock, open(self.log_file, "a") as f:
            f.write(line + "\n")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "fleet-test"

    def log_message(self, fmt, *args):
        pass

    def answer(self, status, document, headers=()):
        body = json.dumps(document).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)
        self.server.store.log("%s %s %d" % (self.command, self.path, status))

    def read_body(self):
        length = int(self.headers.get("Content-Length", "0"))
        if length > LONGEST_BODY:
            return None
        return self.rfile.read(length)

    def do_GET(self):
        if self.path == "/api/v1/health":
            return self.answer(200, {"status": "ok"})
        self.answer(404, {"error": "no such resource"})

    def do_POST(self):
        options = self.server.options
        body = self.read_body()
        if body is None:
            return self.answer(413, {"error": "the body is too large"})
        if self.path == "/api/v1/enrol":
            try:
                request = json.loads(body)
                secret = request["secret"]
                machine = request["machine"]
                if not isinstance(machine, dict):
                    raise ValueError
            except (ValueError, KeyError, TypeError):
                return self.answer(400, {"error": "not an enrolment request"})
            if options.mode == "refuse-secret" or secret != options.secret:
                return self.answer(403, {"error": "unknown or revoked enrolment secret"})
            agent, key = self.server.store.enrol(machine)
            return self.answer(201, {"agent-id": agent, "key": key})
        if self.path != "/api/v1/scans":
            return self.answer(404, {"error": "no such resource"})
        authorization = self.headers.get("Authorization", "")
        if not authorization.startswith("Bearer "):
            return self.answer(401, {"error": "no key"})
        agent = self.server.store.agent_of(authorization[7:])
        if agent is None or options.mode == "revoked":
            return self.answer(401, {"error": "unknown or revoked key"})
        with self.server.counter_lock:
            self.server.uploads += 1
            attempt = self.server.uploads
        if attempt <= options.busy:
            return self.answer(503, {"error": "store unavailable"}, [("Retry-After", "1")])
        if options.mode == "hang-scans":
            self.server.store.log("HANG %s" % self.path)
            time.sleep(3600)
            return
        if options.mode == "refuse-scans":
            return self.answer(400, {"error": "not a snapshot"})
        if self.headers.get("Content-Encoding") != "gzip":
            return self.answer(400, {"error": "the body must be gzip"})
        try:
            snapshot = zlib.decompressobj(16 + 15).decompress(body, LONGEST_SNAPSHOT)
            document = json.loads(snapshot)
            if document.get("veltrix-snapshot") not in (1, 2):
                raise ValueError
        except (zlib.error, ValueError, AttributeError):
            return self.answer(400, {"error": "not a snapshot"})
        new, digest = self.server.store.add(snapshot, agent)
        number = int(digest[:8], 16)
        self.answer(201 if new else 200, {"scan-id": number, "machine-id": 1})


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--store", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--secret", default="fleet-secret")
    parser.add_argument("--mode", default="normal",
                        choices=["normal", "refuse-secret", "revoked", "hang-scans", "refuse-scans"])
    parser.add_argument("--busy", type=int, default=0)
    options = parser.parse_args()

    server = Server(("127.0.0.1", options.port), Handler)
    server.options = options
    server.store = Store(options.store)
    server.uploads = 0
    server.counter_lock = threading.Lock()
    if options.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(options.cert, options.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    with open(options.port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(options.port_file + ".tmp", options.port_file)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
