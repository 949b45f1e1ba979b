#!/usr/bin/python3
"""Local HTTPS stand-in for the shop system's web service, for the demo and the tests.

    python3 tools/demo_service.py --cert C --key K [--port P] [--routes ROUTES.json]
                                  [--files DIR] [--log LOG.jsonl] [--silent]
                                  [--next-cert C2 --next-key K2]

Listens on 127.0.0.1 only (port 0 or no --port: a free one) with TLS 1.2 and nothing else,
and prints the port on a line of its own on standard output once it accepts connections.

ROUTES.json is re-read whenever it changes (write it elsewhere and rename it into place):
    {"routes": [{"method": "GET", "path": "/quelta/api/office/gvermgr",
                 "status": 200, "headers": [["Content-Type", "text/xml"]],
                 "body": "<base64>" | "bodyText": "..." | "bodyFile": "/path",
                 "delayBeforeBodyMs": 0, "silent": false,
                 "closeWithoutAnswer": false, "gzip": false,
                 "repeatUnit": "<base64>", "repeatCount": N, "tail": "<base64>",
                 "trickleMs": 0}]}
A route is matched on method and path (the query is ignored), decoded or as sent. With
repeatUnit the body is made as it goes out: the body, repeatCount times the unit, the tail;
a negative count sends the unit without end, without a Content-Length. With trickleMs the
body goes out one byte at a time, that long apart. Without a
route, GET and HEAD of /zeph/files/file/<name> serve DIR/<name> (name percent-decoded as
UTF-8); anything else is a 404.

Every request is appended to LOG.jsonl before it is answered, one JSON object a line:
    {"method", "rawPath", "path", "query", "headers": [[name, value], ...], "body": base64,
     "connection": N}
Header names keep the letter case they were sent with, and the order. N numbers the TCP
connections from 1; each accepted connection and each completed TLS handshake is a line too:
    {"event": "connection", "connection": N}
    {"event": "handshake", "connection": N, "resumed": false}

What happens to a connection after an answer is the routes file's "connections": "keep"
(the default: HTTP/1.1 keep-alive), "close" (each answer says Connection: close, then the
connection closes), "drop" (closes after each answer without saying so), "dropReused" (a
request that is not the first on its connection is read and logged, then the connection
closes without an answer: a server that closed an idle connection just as it was reused).

With --next-cert, every connection after the first presents that certificate instead.

--silent completes each TLS handshake and then never sends a byte.

Standard library only: the tests start it with Debian's python3.
"""

import argparse
import base64
import gzip
import json
import os
import select
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, HTTPServer

FILE_AREA = "/zeph/files/file/"
CHUNK = 1 << 20            # large writes keep TLS record and syscall overhead out of the way
HANDSHAKE_TIMEOUT = 30.0
MAX_BODY = 1 << 31         # requests are held in memory to be recorded   # a client that connects and never speaks must not hold a thread forever


class Routes:
    """The routes file, parsed again only when the file behind the name has changed."""

    def __init__(self, path):
        self._path = path
        self._key = None
        self._table = {}
        self._connections = "keep"
        self._lock = threading.Lock()

    def connections(self):
        self._current()
        return self._connections

    def find(self, method, paths):
        table = self._current()
        for path in paths:
            route = table.get((method, path))
            if route is not None:
                return route
        return None

    def _current(self):
        if not self._path:
            return {}
        with self._lock:
            try:
                st = os.stat(self._path)
            except OSError:
                self._key, self._table = None, {}
                return self._table
            key = (st.st_ino, st.st_mtime_ns, st.st_size)
            if key != self._key:
                try:
                    with open(self._path, "rb") as f:
                        doc = json.load(f)
                    table = {}
                    for route in doc.get("routes", []):
                        table[(str(route.get("method", "GET")).upper(), route["path"])] = route
                    self._table = table
                    self._connections = str(doc.get("connections", "keep"))
                    self._key = key
                except (OSError, ValueError, KeyError, TypeError, AttributeError) as e:
                    # A half-written or broken file keeps the last good table.
                    print("demo_service: routes file unreadable: %s" % e, file=sys.stderr)
            return self._table


class RequestLog:
    def __init__(self, path):
        self._fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644) if path else None
        self._lock = threading.Lock()

    def append(self, record):
        if self._fd is None:
            return
        line = (json.dumps(record, ensure_ascii=False) + "\n").encode("utf-8")
        with self._lock:
            # One line per write call under the lock, so readers never see two requests mixed.
            view = memoryview(line)
            while view:
                view = view[os.write(self._fd, view):]


def latin1_to_text(value):
    # http.client decodes header bytes as Latin-1; undo that so UTF-8 values read as sent.
    return value.encode("latin-1", "replace").decode("utf-8", "replace")


def hold_silently(sock, server):
    """Keep the connection open without sending anything until the peer goes or we stop."""
    try:
        sock.settimeout(None)
        while not server.stopping:
            readable, _, _ = select.select([sock], [], [], 0.5)
            if readable:
                try:
                    if not sock.recv(65536):
                        return
                except ssl.SSLWantReadError:
                    continue
    except (OSError, ValueError):
        return


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def version_string(self):
        return "QueltaTestService/1.0"

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        self.serve()

    do_HEAD = do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = do_GET

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            parts = []
            while True:
                size_line = self.rfile.readline(65537)
                if not size_line:
                    raise ConnectionError("body cut short")
                size = int(size_line.split(b";", 1)[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline(65537) not in (b"\r\n", b"\n", b""):
                        pass   # trailer fields
                    return b"".join(parts)
                parts.append(self.read_exactly(size))
                self.rfile.readline(65537)
        length = self.headers.get("Content-Length")
        if length is None:
            return b""
        size = int(length)
        if size < 0 or size > MAX_BODY:
            raise ValueError("unusable Content-Length")
        return self.read_exactly(size)

    def read_exactly(self, size):
        data = self.rfile.read(size)
        if len(data) != size:
            raise ConnectionError("body cut short")
        return data

    def serve(self):
        self.served = getattr(self, "served", 0) + 1
        target = self.path
        raw_path, _, query = target.partition("?")
        path = urllib.parse.unquote(raw_path, encoding="utf-8", errors="replace")
        try:
            body = self.read_body()
        except ValueError:
            self.close_connection = True
            self.answer(400, b"bad request body\n", [("Content-Type", "text/plain")])
            return
        self.server.log.append({
            "method": self.command,
            "rawPath": raw_path,
            "path": path,
            "query": query,
            "headers": [[name, latin1_to_text(value)] for name, value in self.headers.items()],
            "body": base64.b64encode(body).decode("ascii"),
            "connection": getattr(self.connection, "qvu_connection", 0),
        })
        mode = self.server.routes.connections()
        if mode == "dropReused" and self.served > 1:
            self.close_connection = True
            return

        route = self.server.routes.find(self.command, [path, raw_path])
        if route is not None:
            self.answer_route(route)
        elif raw_path.startswith(FILE_AREA) and self.command in ("GET", "HEAD"):
            self.answer_file(raw_path[len(FILE_AREA):])
        else:
            self.answer(404, b"Not Found\n", [("Content-Type", "text/plain")])
        if mode in ("close", "drop"):
            self.close_connection = True

    def answer(self, status, body, headers, body_file=None, delay_ms=0):
        if self.server.routes.connections() == "close":
            headers = headers + [("Connection", "close")]
        names = {name.lower() for name, _ in headers}
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        size = os.path.getsize(body_file) if body_file else len(body)
        if "content-length" not in names and "transfer-encoding" not in names:
            self.send_header("Content-Length", str(size))
        if "connection" in names:
            self.close_connection = any(
                name.lower() == "connection" and value.lower() == "close" for name, value in headers)
        self.end_headers()
        if self.command == "HEAD":
            return
        if delay_ms > 0:
            self.wfile.flush()
            time.sleep(delay_ms / 1000.0)
        if body_file:
            self.stream(body_file)
        else:
            for start in range(0, len(body), CHUNK):
                self.wfile.write(body[start:start + CHUNK])

    def answer_generated(self, route):
        status = int(route.get("status", 200))
        head = base64.b64decode(route.get("body", ""))
        unit = base64.b64decode(route["repeatUnit"])
        tail = base64.b64decode(route.get("tail", ""))
        count = int(route.get("repeatCount", 0))
        self.send_response(status)
        for name, value in route.get("headers", []):
            self.send_header(str(name), str(value))
        if count >= 0:
            self.send_header("Content-Length", str(len(head) + len(unit) * count + len(tail)))
        else:
            self.close_connection = True   # the body ends when the client goes
        self.end_headers()
        if self.command == "HEAD":
            return
        self.wfile.write(head)
        per_chunk = max(1, CHUNK // max(1, len(unit)))
        chunk = unit * per_chunk
        sent = 0
        while count < 0 or sent < count:
            n = per_chunk if count < 0 else min(per_chunk, count - sent)
            self.wfile.write(chunk if n == per_chunk else unit * n)
            sent += n
        self.wfile.write(tail)

    def answer_trickle(self, route, body, headers, delay_ms):
        self.send_response(int(route.get("status", 200)))
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        for i in range(len(body)):
            time.sleep(delay_ms / 1000.0)
            self.wfile.write(body[i:i + 1])

    def answer_route(self, route):
        if route.get("repeatUnit"):
            self.answer_generated(route)
            return
        if route.get("closeWithoutAnswer"):
            self.close_connection = True
            return
        if route.get("silent"):
            self.close_connection = True
            hold_silently(self.connection, self.server)
            return
        if "body" in route:
            body = base64.b64decode(route["body"])
        else:
            body = str(route.get("bodyText", "")).encode("utf-8")
        headers = [(str(n), str(v)) for n, v in route.get("headers", [])]
        body_file = route.get("bodyFile") or None
        if int(route.get("trickleMs", 0)) > 0:
            self.answer_trickle(route, body, headers, int(route["trickleMs"]))
            return
        if route.get("gzip"):
            if body_file:
                with open(body_file, "rb") as f:
                    body = f.read()
                body_file = None
            body = gzip.compress(body)
            if not any(n.lower() == "content-encoding" for n, _ in headers):
                headers.append(("Content-Encoding", "gzip"))
        self.answer(int(route.get("status", 200)), body, headers, body_file,
                    int(route.get("delayBeforeBodyMs", 0)))

    def answer_file(self, raw_name):
        file_path = self.server.file_path(raw_name)
        if file_path is None:
            self.answer(404, b"Not Found\n", [("Content-Type", "text/plain")])
            return
        self.answer(200, b"", [("Content-Type", "application/octet-stream")], file_path)

    def stream(self, file_path):
        buffer = bytearray(CHUNK)
        view = memoryview(buffer)
        with open(file_path, "rb", buffering=0) as f:
            while True:
                n = f.readinto(buffer)
                if not n:
                    break
                self.wfile.write(view[:n])


class Server(socketserver.ThreadingMixIn, HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128

    def __init__(self, port, context, next_context, routes, log, files_dir, silent):
        self.context = context
        self.next_context = next_context
        self.connection_count = 0
        self.count_lock = threading.Lock()
        self.routes = routes
        self.log = log
        self.files_dir = os.fsencode(os.path.abspath(files_dir)) if files_dir else None
        self.silent = silent
        self.stopping = False
        super().__init__(("127.0.0.1", port), Handler)

    def file_path(self, raw_name):
        """DIR/<name> for a name inside DIR that names a file; None otherwise."""
        if self.files_dir is None:
            return None
        name = urllib.parse.unquote_to_bytes(raw_name)
        if not name or b"\0" in name or name.startswith(b"/"):
            return None
        if any(part in (b"", b".", b"..") for part in name.split(b"/")):
            return None
        path = os.path.join(self.files_dir, name)
        return path if os.path.isfile(path) else None

    def finish_request(self, request, client_address):
        # The handshake runs in the connection's own thread, so a client that stalls in it
        # never keeps the others from being accepted.
        request.settimeout(HANDSHAKE_TIMEOUT)
        # Headers and body go out in separate writes; without this, Nagle's algorithm holds
        # the body back for the client's delayed acknowledgement (about 40 ms an answer).
        request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with self.count_lock:
            self.connection_count += 1
            number = self.connection_count
        self.log.append({"event": "connection", "connection": number})
        context = self.next_context if number > 1 and self.next_context else self.context
        try:
            tls = context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        tls.qvu_connection = number
        self.log.append({"event": "handshake", "connection": number, "resumed": tls.session_reused})
        try:
            tls.settimeout(None)
            if self.silent:
                hold_silently(tls, self)
            else:
                Handler(tls, client_address, self)
        finally:
            try:
                tls.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            tls.close()

    def handle_error(self, request, client_address):
        kind, value = sys.exc_info()[:2]
        # Clients that hang up mid-answer are part of the tests; anything else is worth a line.
        if kind is not None and not issubclass(kind, (ConnectionError, TimeoutError, ssl.SSLError)):
            print("demo_service: %s: %s" % (kind.__name__, value), file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cert", required=True, help="PEM: server certificate and its chain")
    parser.add_argument("--key", required=True, help="PEM: the certificate's private key")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--routes", default="")
    parser.add_argument("--files", default="")
    parser.add_argument("--log", default="")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--next-cert", default="", help="PEM for every connection after the first")
    parser.add_argument("--next-key", default="")
    args = parser.parse_args()

    def tls_context(cert, key):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.maximum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(cert, key)
        return context

    context = tls_context(args.cert, args.key)
    next_context = tls_context(args.next_cert, args.next_key) if args.next_cert else None
    server = Server(args.port, context, next_context, Routes(args.routes), RequestLog(args.log),
                    args.files, args.silent)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping = True
        server.server_close()


if __name__ == "__main__":
    main()
