#!/usr/bin/env python3
"""A small HTTP server for tests, on 127.0.0.1 only.

Routes come from a JSON file: {"/path": {"status": 200, "body": "...",
"file": "/served/as/it/is", "headers": {"Name": "value"}, "delay": 0.5,
"hang": false, "cut": 100}, ...}, matched on the path without its query;
anything else is a 404. "cut" sends only that many bytes of the body
(the header still announces all of it) and closes. "file" serves that file's bytes instead of the body; "delay"
waits that many seconds before answering. Every request is appended to
the log file as one JSON line: {"method", "target", "decoded" (the
target percent-decoded), "headers"}, in UTF-8. With --tls-certificate and
--tls-key it speaks TLS (1.2 or later); a connection then ends without a
close notice, as a cut one would. The port in use is printed as "PORT n"
once the server listens.
"""
import argparse
import json
import ssl
import sys
import threading
import time
from urllib.parse import unquote_to_bytes
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

log_lock = threading.Lock()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--routes", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--tls-certificate")
    ap.add_argument("--tls-key")
    args = ap.parse_args()
    with open(args.routes, encoding="utf-8") as f:
        routes = json.load(f)

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *a):
            pass

        def do_GET(self):
            raw = self.path.encode("latin-1")  # the request line's bytes as they came
            entry = {"method": "GET",
                     "target": raw.decode("utf-8", "replace"),
                     "decoded": unquote_to_bytes(raw).decode("utf-8", "replace"),
                     "headers": {k: v for k, v in self.headers.items()}}
            with log_lock, open(args.log, "a", encoding="utf-8") as f:
                f.write(json.dumps(entry, ensure_ascii=False) + "\n")
            route = routes.get(self.path.split("?", 1)[0])
            if route is None:
                route = {"status": 404, "body": "<html><body>not found</body></html>"}
            if route.get("hang"):
                time.sleep(3600)
                return
            time.sleep(route.get("delay", 0))
            if "file" in route:
                with open(route["file"], "rb") as f:
                    body = f.read()
            else:
                body = route.get("body", "").encode("utf-8")
            self.send_response(route.get("status", 200))
            for k, v in route.get("headers", {}).items():
                self.send_header(k, v)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body[:route["cut"]] if "cut" in route else body)
            if "cut" in route:
                self.close_connection = True

    ThreadingHTTPServer.daemon_threads = True
    ThreadingHTTPServer.allow_reuse_address = True
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    if args.tls_certificate:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(args.tls_certificate, args.tls_key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
