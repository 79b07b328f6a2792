#!/usr/bin/env python3
"""A stand-in for the maker's web service, for tests and demonstrations.

HTTPS on 127.0.0.1. Every request to the API is checked as the real service
would: the headers, the MD5 signature (computed here from the texts, not with
the program's code) and, for the gadget's endpoints, the serial number. Replies
are scripted per method and path; files are served from a folder; everything
received is recorded and can be read back.

Control endpoints (no signature):
  POST /_control/script   {"method", "path", "status", "body" (text or JSON),
                           "delay" (s), "never" (bool), "once" (bool, default
                           true: a FIFO entry; false: the default reply),
                           "check" (bool, default true: signature/serial checks)}
  POST /_control/device   {"serial", "key_hex"}: a gadget the service knows
  POST /_control/file     {"name", "base64"}: a file served under /files/NAME
  GET  /_control/requests every request received, oldest first
  POST /_control/reset    forget scripts and requests (devices and files stay)
"""

import argparse
import base64
import hashlib
import json
import os
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit

API = "/en/api/v1/"
# Endpoints that act for one gadget: its serial must be known to the service.
SERIAL_ENDPOINTS = {
    API + "register_device/", API + "device_params/", API + "device_stat/",
    API + "current_jobs/", API + "set_job_state/",
}
# The application updater asks without a signature.
UNSIGNED = {API + "app_version/"}

# What an unscripted endpoint answers: as the service does with nothing to say. Acceptances
# come in the shapes real services send: empty, plain text, JSON with members nobody reads.
DEFAULTS = {
    ("GET", API + "current_jobs/"): (200, {"current_job_list": []}),
    ("POST", API + "set_job_state/"): (200, {"status": "stored", "job": {"seen": True}}),
    ("POST", API + "device_params/"): (200, ""),
    ("POST", API + "device_stat/"): (200, "OK"),
    ("GET", API + "firmware_version/"): (200, {"firmware_versions": []}),
    ("GET", API + "app_version/"): (200, {"app_versions": []}),
    ("GET", API + "banner/"): (200, {"banner": {}}),
}


class State:
    def __init__(self, host_key, devices, files):
        self.lock = threading.Lock()  # guards everything below
        self.host_key = host_key
        self.devices = dict(devices)
        self.files = dict(files)
        self.fifo = {}
        self.defaults = {}
        self.requests = []
        self.stopping = threading.Event()

    def take_reply(self, method, path):
        with self.lock:
            queue = self.fifo.get((method, path))
            if queue:
                return queue.pop(0)
            return self.defaults.get((method, path))


def signature_text(method, host_key, serial):
    text = "Host-Key:" + host_key + ":" + "Serial-Number:" + serial + ":"
    return (":" + text) if method == "POST" else text


def expected_signature(method, body, host_key, serial, key):
    md5 = hashlib.md5()
    if method == "POST":
        md5.update(body)
    md5.update(signature_text(method, host_key, serial).encode("latin-1"))
    md5.update(key)
    return md5.hexdigest()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    state = None

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        self.handle_any("GET")

    def do_POST(self):
        self.handle_any("POST")

    def send(self, status, body, content_type="application/json"):
        if isinstance(body, (dict, list)):
            body = json.dumps(body).encode()
        elif isinstance(body, str):
            try:
                json.loads(body)
            except ValueError:
                content_type = "text/plain" if content_type == "application/json" else content_type
            body = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        return status

    def handle_any(self, method):
        url = urlsplit(self.path)
        path = url.path
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        if path.startswith("/_control/"):
            self.control(method, path, body)
            return
        st = self.state
        reply = st.take_reply(method, path)
        check = reply.get("check", True) if reply else True

        serial = self.headers.get("Serial-Number")
        given = self.headers.get("Signature")
        with st.lock:
            key = st.devices.get(serial or "", b"")
            known_serial = (serial or "") in st.devices
        verdict = "none"
        if given is not None:
            host_key = self.headers.get("Host-Key", "")
            want = expected_signature(method, body, host_key, serial or "", key)
            verdict = "ok" if given == want else "bad"
            if st.host_key is not None and host_key != st.host_key:
                verdict = "bad"
        record = {
            "method": method, "path": path, "query": url.query,
            "headers": {k: v for k, v in self.headers.items()},
            "body": body.decode("utf-8", "replace"), "signature": verdict,
        }

        status = None
        if check and path.startswith(API) and path not in UNSIGNED:
            if verdict != "ok":
                status = self.send(406, "Signature wrong", "text/plain")
            elif path in SERIAL_ENDPOINTS and not known_serial:
                status = self.send(406, "Serial-Number wrong", "text/plain")
        if status is None:
            status = self.answer(method, path, reply)
        record["status"] = status
        with st.lock:
            st.requests.append(record)
        print(f"REQUEST {method} {self.path} signature={verdict} status={status}", flush=True)

    def answer(self, method, path, reply):
        st = self.state
        if reply:
            if reply.get("never"):
                # Hold the connection without a word, as a stalled service does.
                while not st.stopping.wait(0.2):
                    pass
                return 0
            if reply.get("delay"):
                time.sleep(float(reply["delay"]))
            return self.send(int(reply.get("status", 200)), reply.get("body", ""))
        if path.startswith("/files/"):
            with st.lock:
                data = st.files.get(path[len("/files/"):])
            if data is None:
                return self.send(404, {"detail": "no such file"})
            return self.send(200, data, "application/octet-stream")
        if (method, path) in DEFAULTS:
            status, body = DEFAULTS[(method, path)]
            return self.send(status, body)
        return self.send(404, {"detail": "not scripted"})

    def control(self, method, path, body):
        st = self.state
        try:
            args = json.loads(body) if body else {}
        except ValueError:
            self.send(400, {"detail": "control body is not JSON"})
            return
        with st.lock:
            if path == "/_control/requests" and method == "GET":
                out = list(st.requests)
            elif path == "/_control/reset" and method == "POST":
                st.fifo.clear()
                st.defaults.clear()
                st.requests.clear()
                out = {}
            elif path == "/_control/script" and method == "POST":
                key = (args.get("method", "GET").upper(), args["path"])
                if args.get("once", True):
                    st.fifo.setdefault(key, []).append(args)
                else:
                    st.defaults[key] = args
                out = {}
            elif path == "/_control/device" and method == "POST":
                st.devices[args["serial"]] = bytes.fromhex(args.get("key_hex", ""))
                out = {}
            elif path == "/_control/file" and method == "POST":
                st.files[args["name"]] = base64.b64decode(args["base64"])
                out = {}
            else:
                out = None
        if out is None:
            self.send(404, {"detail": "unknown control request"})
        else:
            self.send(200, out)


class TlsServer(ThreadingHTTPServer):
    """Shakes hands in each connection's own thread, so that one silent client never holds up
    the others."""

    daemon_threads = True
    context = None

    def finish_request(self, request, client_address):
        try:
            request = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        self.RequestHandlerClass(request, client_address, self)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cert", required=True, help="server certificate (PEM)")
    parser.add_argument("--key", required=True, help="server private key (PEM)")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--host-key", help="the client's host key in hex; other values are refused")
    parser.add_argument("--device", action="append", default=[], metavar="SERIAL=KEYHEX",
                        help="a gadget the service knows, with its server key in hex")
    parser.add_argument("--files", help="folder whose files are served under /files/")
    parser.add_argument("--script", help="JSON file: a list of script entries as for /_control/script")
    opts = parser.parse_args()

    devices = {}
    for item in opts.device:
        serial, _, key_hex = item.partition("=")
        devices[serial] = bytes.fromhex(key_hex)
    files = {}
    if opts.files:
        for name in os.listdir(opts.files):
            with open(os.path.join(opts.files, name), "rb") as f:
                files[name] = f.read()
    Handler.state = State(opts.host_key, devices, files)
    if opts.script:
        with open(opts.script) as f:
            for entry in json.load(f):
                key = (entry.get("method", "GET").upper(), entry["path"])
                if entry.get("once", True):
                    Handler.state.fifo.setdefault(key, []).append(entry)
                else:
                    Handler.state.defaults[key] = entry

    server = TlsServer(("127.0.0.1", opts.port), Handler)
    server.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server.context.load_cert_chain(opts.cert, opts.key)
    print(f"LISTENING port={server.server_address[1]}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        Handler.state.stopping.set()
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
