#!/usr/bin/python3
"""A proxy for the tests that records every handshake and relays to loopback only.

    python3 recording_proxy.py --kind http|socks4|socks5 --log SEEN.jsonl
                               [--user U --password P]

Listens on a free port of 127.0.0.1 and prints it on standard output. Whatever host a
client asks for, the relay goes to 127.0.0.1 at the asked port: test host names need not
resolve, and nothing leaves the machine. Each handshake, granted or refused, is appended to
SEEN.jsonl as one JSON object:
    {"kind", "targetHost", "targetPort", "user", "password", "proxyAuthorization",
     "method", "accepted"}
With --user/--password the proxy requires those credentials (HTTP: Proxy-Authorization
Basic, else 407; SOCKS 5: the user name/password method; SOCKS 4: the user id).
"""

import argparse
import base64
import json
import os
import socket
import socketserver
import struct
import sys
import threading

CHUNK = 1 << 20
HEAD_LIMIT = 65536


class Refused(Exception):
    pass


def recv_exactly(sock, size):
    data = b""
    while len(data) < size:
        part = sock.recv(size - len(data))
        if not part:
            raise Refused("client went away")
        data += part
    return data


def recv_until_null(sock, limit=1024):
    data = b""
    while True:
        byte = recv_exactly(sock, 1)
        if byte == b"\0":
            return data
        data += byte
        if len(data) > limit:
            raise Refused("field too long")


def text(data):
    return data.decode("utf-8", "replace")


def pump(source, target):
    try:
        while True:
            data = source.recv(CHUNK)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    finally:
        try:
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def connect_loopback(port):
    try:
        return socket.create_connection(("127.0.0.1", port), timeout=10)
    except OSError:
        return None


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.record = {"kind": "", "targetHost": "", "targetPort": 0, "user": "", "password": "",
                       "proxyAuthorization": "", "method": "", "accepted": False}
        self.request.settimeout(30)
        upstream = None
        try:
            kind = self.server.kind
            if kind == "http":
                upstream, leftover = self.http_connect()
            elif kind == "socks4":
                upstream, leftover = self.socks4()
            else:
                upstream, leftover = self.socks5()
        except (Refused, OSError, ValueError, struct.error):
            upstream = None
        finally:
            if self.record["kind"]:
                self.server.log(self.record)
        if upstream is None:
            return
        self.request.settimeout(None)
        upstream.settimeout(None)
        if leftover:
            upstream.sendall(leftover)
        back = threading.Thread(target=pump, args=(upstream, self.request), daemon=True)
        back.start()
        pump(self.request, upstream)
        back.join()
        upstream.close()

    # HTTP CONNECT ----------------------------------------------------------------------
    def http_connect(self):
        buffer = b""
        for _ in range(4):   # a client may retry with credentials after a 407
            self.record["kind"] = "http"
            while b"\r\n\r\n" not in buffer:
                part = self.request.recv(4096)
                if not part:
                    raise Refused("client went away")
                buffer += part
                if len(buffer) > HEAD_LIMIT:
                    raise Refused("head too long")
            head, _, buffer = buffer.partition(b"\r\n\r\n")
            lines = text(head).split("\r\n")
            method, target = (lines[0].split(" ") + ["", ""])[:2]
            headers = {}
            for line in lines[1:]:
                name, _, value = line.partition(":")
                headers.setdefault(name.strip().lower(), value.strip())
            host, _, port = target.rpartition(":")
            self.record.update({
                "method": method, "targetHost": host.strip("[]"),
                "targetPort": int(port) if port.isdigit() else 0,
                "proxyAuthorization": headers.get("proxy-authorization", ""),
                "user": "", "password": ""})
            auth = self.record["proxyAuthorization"]
            if auth[:6].lower() == "basic ":
                try:
                    user, _, password = text(base64.b64decode(auth[6:].strip())).partition(":")
                    self.record.update({"user": user, "password": password})
                except ValueError:
                    pass
            if method != "CONNECT":
                self.request.sendall(b"HTTP/1.1 405 Method Not Allowed\r\n"
                                     b"Content-Length: 0\r\nConnection: close\r\n\r\n")
                raise Refused("not CONNECT")
            if self.server.required is not None and \
                    (self.record["user"], self.record["password"]) != self.server.required:
                self.server.log(dict(self.record))
                self.record["kind"] = ""   # logged; the next try gets a record of its own
                self.request.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                                     b"Proxy-Authenticate: Basic realm=\"qvu\"\r\n"
                                     b"Content-Length: 0\r\n\r\n")
                continue
            upstream = connect_loopback(self.record["targetPort"])
            if upstream is None:
                self.request.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
                raise Refused("target refused")
            self.request.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            self.record["accepted"] = True
            return upstream, buffer
        raise Refused("no credentials")

    # SOCKS 4 and 4A ----------------------------------------------------------------------
    def socks4(self):
        version, command, port = struct.unpack("!BBH", recv_exactly(self.request, 4))
        address = recv_exactly(self.request, 4)
        if version != 4:
            self.record["kind"] = "unknown"
            raise Refused("not SOCKS 4")
        user = text(recv_until_null(self.request))
        if address[:3] == b"\0\0\0" and address[3] != 0:
            self.record["kind"] = "socks4a"
            host = text(recv_until_null(self.request, 255))
        else:
            self.record["kind"] = "socks4"
            host = socket.inet_ntoa(address)
        self.record.update({"targetHost": host, "targetPort": port, "user": user})

        def reply(code):
            self.request.sendall(struct.pack("!BBH", 0, code, port) + b"\x7f\0\0\1")

        if self.server.required is not None and user != self.server.required[0]:
            reply(0x5D)
            raise Refused("wrong user id")
        return self.open_relay(command, port, reply, granted=0x5A, unsupported=0x5B,
                               unreachable=0x5B)

    # SOCKS 5 ----------------------------------------------------------------------------
    def socks5(self):
        version, count = struct.unpack("!BB", recv_exactly(self.request, 2))
        if version != 5:
            self.record["kind"] = "unknown"
            raise Refused("not SOCKS 5")
        self.record["kind"] = "socks5"
        methods = recv_exactly(self.request, count)
        if self.server.required is not None:
            chosen = 2 if 2 in methods else 0xFF
        else:
            chosen = 0 if 0 in methods else (2 if 2 in methods else 0xFF)
        self.request.sendall(bytes([5, chosen]))
        if chosen == 0xFF:
            raise Refused("no acceptable method")
        if chosen == 2:
            _, size = struct.unpack("!BB", recv_exactly(self.request, 2))
            user = text(recv_exactly(self.request, size))
            size = recv_exactly(self.request, 1)[0]
            password = text(recv_exactly(self.request, size))
            self.record.update({"user": user, "password": password})
            if self.server.required is not None and (user, password) != self.server.required:
                self.request.sendall(b"\x01\x01")
                raise Refused("wrong credentials")
            self.request.sendall(b"\x01\x00")
        version, command, _, kind = struct.unpack("!BBBB", recv_exactly(self.request, 4))
        if kind == 1:
            host = socket.inet_ntoa(recv_exactly(self.request, 4))
        elif kind == 3:
            host = text(recv_exactly(self.request, recv_exactly(self.request, 1)[0]))
        elif kind == 4:
            host = socket.inet_ntop(socket.AF_INET6, recv_exactly(self.request, 16))
        else:
            raise Refused("unknown address type")
        port = struct.unpack("!H", recv_exactly(self.request, 2))[0]
        self.record.update({"targetHost": host, "targetPort": port})

        def reply(code):
            self.request.sendall(bytes([5, code, 0, 1]) + b"\x7f\0\0\1" + struct.pack("!H", port))

        return self.open_relay(command, port, reply, granted=0, unsupported=7, unreachable=5)

    def open_relay(self, command, port, reply, granted, unsupported, unreachable):
        """Answers a SOCKS request with the reply code that fits; only CONNECT (1) is served."""
        if command != 1:
            reply(unsupported)
            raise Refused("not CONNECT")
        upstream = connect_loopback(port)
        if upstream is None:
            reply(unreachable)
            raise Refused("target refused")
        reply(granted)
        self.record["accepted"] = True
        return upstream, b""


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, kind, required, log_path):
        self.kind = kind
        self.required = required
        self._log_fd = os.open(log_path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        self._lock = threading.Lock()
        super().__init__(("127.0.0.1", 0), Handler)

    def log(self, record):
        line = (json.dumps(record, ensure_ascii=False) + "\n").encode("utf-8")
        with self._lock:
            view = memoryview(line)
            while view:
                view = view[os.write(self._log_fd, view):]

    def handle_error(self, request, client_address):
        kind, value = sys.exc_info()[:2]
        if kind is not None and not issubclass(kind, (ConnectionError, TimeoutError)):
            print("recording_proxy: %s: %s" % (kind.__name__, value), file=sys.stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kind", choices=["http", "socks4", "socks5"], required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--user")
    parser.add_argument("--password")
    args = parser.parse_args()
    required = None
    if args.user is not None or args.password is not None:
        required = (args.user or "", args.password or "")
    server = Server(args.kind, required, args.log)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
