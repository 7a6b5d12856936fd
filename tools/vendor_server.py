#!/usr/bin/env python3
"""Stand-in vendor download server: HTTPS (HTTP/1.1) on 127.0.0.1 for the installer's tests.

As a module: VendorServer(port, certfile) serves on threads from start() to stop() (or in a with
block). route(path, **behaviour) sets what a path answers; a route for the path with its query
wins, then one for the path alone. requests, requests_for(path) (query ignored) and
wait_for_requests(path, count, timeout) read what was asked: {"path", "method", "user_agent"}.
localhost_origin is "https://localhost:PORT", the name Wine's WinHTTP checks the certificate for.

Behaviours: status (1xx, 204 and 304 go without a body), body (bytes or str), headers, location
(sent as raw UTF-8), chunked, content_length (the raw Content-Length text; the connection closes
after the body), send (only this many body bytes, then close), stall_at with stall_seconds (45),
pace (bytes per second), pause_at (a fraction of the body; waits up to 60 s for resume()).

Built-in routes pick a behaviour by path alone, any query ignored; bodies have byte i = i % 251:
  /t/status/CODE    /t/redirect/CODE?to=URL    /t/bytes/N    /t/chunked/N    /t/paced/N?bps=B
  /t/truncated/N    announces N, sends N // 2, closes
  /t/stall/N?seconds=S    announces N, stalls S seconds (45) after N // 2
  /t/bad-length/TEXT    Content-Length: TEXT (percent-decoded), 1000 bytes, closes
  /t/long-body/N    announces N, sends 2 * N + 100 bytes, closes
  /t/location-len/N?scheme=S&status=C    a Location of exactly N characters (S://localhost/aaa...)

As a program (tools/background.sh starts it): vendor_server.py --port N --cert PEM [--log FILE]
[--serve PATH=FILE ...]; each request is logged as a JSON line before it is answered.
"""

import argparse
import http.server
import json
import signal
import socket
import ssl
import sys
import threading
import urllib.parse


def pattern_bytes(count):
    return (bytes(range(251)) * (count // 251 + 1))[:count]


def _arg(query, name, default=None):
    return urllib.parse.parse_qs(query, keep_blank_values=True).get(name, [default])[0]


def _body(text):
    return {"body": pattern_bytes(int(text))}


# /t/KIND/ARG: the behaviour for ARG and the query string.
_BUILTIN = {
    "status": lambda arg, query: {"status": int(arg)},
    "redirect": lambda arg, query: {"status": int(arg), "location": _arg(query, "to")},
    "bytes": lambda arg, query: _body(arg),
    "chunked": lambda arg, query: dict(_body(arg), chunked=True),
    "paced": lambda arg, query: dict(_body(arg), pace=int(_arg(query, "bps", "262144"))),
    "truncated": lambda arg, query: dict(_body(arg), send=int(arg) // 2),
    "stall": lambda arg, query: dict(_body(arg), stall_at=int(arg) // 2,
                                     stall_seconds=float(_arg(query, "seconds", "45"))),
    "bad-length": lambda arg, query: dict(_body(1000), content_length=urllib.parse.unquote(arg)),
    "long-body": lambda arg, query: dict(_body(2 * int(arg) + 100), content_length=int(arg)),
    "location-len": lambda arg, query: {
        "status": int(_arg(query, "status", "302")),
        "location": (_arg(query, "scheme", "http") + "://localhost/").ljust(int(arg), "a")},
}
_KEYS = {"status", "body", "headers", "location", "chunked", "content_length", "send",
         "stall_at", "stall_seconds", "pace", "pause_at"}


def _behaviour(**behaviour):
    if set(behaviour) - _KEYS:
        raise TypeError("unknown behaviour: %s" % sorted(set(behaviour) - _KEYS))
    return dict({"status": 200, "body": b"", "headers": {}}, **behaviour)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        target = self.path
        # Through a proxy's tunnel some clients send the absolute form (RFC 9112, 3.2.2).
        if target.lower().startswith(("http://", "https://")):
            target = urllib.parse.urlsplit(target)._replace(scheme="", netloc="").geturl() or "/"
        owner = self.server.owner
        owner._record(self.command, target, self.headers.get("User-Agent", ""))
        try:
            self._respond(owner._lookup(target))
        except OSError:
            self.close_connection = True

    def _respond(self, b):
        status, body = b["status"], b["body"]
        body = body.encode() if isinstance(body, str) else body
        cut = "content_length" in b or "send" in b
        self.send_response_only(status)
        self.send_header("Date", self.date_time_string())
        for name, value in b["headers"].items():
            self.send_header(name, value)
        if b.get("location") is not None:
            self.send_header("Location", b["location"].encode().decode("latin-1"))
        if status < 200 or status in (204, 304):
            body = None
        elif b.get("chunked"):
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", b.get("content_length", len(body)))
        if cut:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if body is not None:
            self._send_body(body[:b.get("send")], b)
            if cut:
                self.connection.shutdown(socket.SHUT_RDWR)

    def _send_body(self, body, b):
        owner, chunked, pace = self.server.owner, b.get("chunked"), b.get("pace")
        piece = 4096 if chunked else 65536
        if pace:
            piece = max(1, min(piece, pace // 10))
        stops = {}
        if b.get("stall_at") is not None:
            stops[b["stall_at"]] = lambda: owner._stopping.wait(b.get("stall_seconds", 45))
        if b.get("pause_at") is not None:
            stops[int(len(body) * b["pause_at"])] = lambda: owner._resume.wait(60)
        sent = 0
        while True:
            if sent in stops:
                stops.pop(sent)()
            if sent >= len(body):
                break
            end = min([len(body), sent + piece] + [stop for stop in stops if stop > sent])
            data = body[sent:end]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data) if chunked else data)
            sent = end
            if pace and owner._stopping.wait(len(data) / pace):
                return
        if chunked:
            self.wfile.write(b"0\r\n\r\n")


class _TlsServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    # The handshake runs on the request's thread, so a client that never finishes it
    # cannot hold up accepting the others.
    def finish_request(self, request, client_address):
        request.settimeout(120)
        try:
            with self.context.wrap_socket(request, server_side=True) as tls:
                self.RequestHandlerClass(tls, client_address, self)
        except OSError:
            pass


class VendorServer:
    """An HTTPS server on 127.0.0.1 whose answers the tests set per path (see the module)."""

    def __init__(self, port=0, certfile=None, log_path=None):
        self._server = _TlsServer(("127.0.0.1", port), _Handler)
        self._server.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self._server.context.load_cert_chain(certfile)
        self._server.owner = self
        self._log = open(log_path, "w", encoding="utf-8") if log_path else None
        self._lock = threading.Condition()
        self._requests, self._routes = [], {}
        self._resume, self._stopping = threading.Event(), threading.Event()
        self._thread = None

    def start(self):
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        self._stopping.set()
        self._resume.set()
        if self._thread is not None:
            self._server.shutdown()
            self._thread.join(timeout=10)
        self._server.server_close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self):
        return self._server.server_address[1]

    @property
    def localhost_origin(self):
        return "https://localhost:%d" % self.port

    @property
    def requests(self):
        with self._lock:
            return [dict(r) for r in self._requests]

    def requests_for(self, path):
        return [r for r in self.requests if r["path"].split("?", 1)[0] == path]

    def wait_for_requests(self, path, count, timeout):
        with self._lock:
            return self._lock.wait_for(lambda: len(self.requests_for(path)) >= count, timeout)

    def route(self, path, **behaviour):
        with self._lock:
            self._routes[path] = _behaviour(**behaviour)

    def route_proxy_script(self, path, proxy, rules=""):
        """Serves at path a proxy auto-config script that sends every URL through proxy
        ("host:port"), or as the JavaScript statements in rules say first."""
        self.route(path, body='function FindProxyForURL(url, host) { %s return "PROXY %s"; }\n'
                   % (rules, proxy), headers={"Content-Type": "application/x-ns-proxy-autoconfig"})

    def resume(self):
        self._resume.set()

    def _lookup(self, target):
        path, _, query = target.partition("?")
        with self._lock:
            found = self._routes.get(target) or self._routes.get(path)
        if found is not None:
            return found
        kind, arg = (path.split("/") + ["", "", ""])[2:4] if path.startswith("/t/") else ("", "")
        try:
            return _behaviour(**_BUILTIN[kind](arg, query))
        except (KeyError, ValueError):
            return _behaviour(status=404, body=b"not found\n")

    def _record(self, method, path, user_agent):
        entry = {"path": path, "method": method, "user_agent": user_agent}
        with self._lock:
            self._requests.append(entry)
            self._lock.notify_all()
            if self._log is not None:
                self._log.write(json.dumps(entry) + "\n")
                self._log.flush()


def main(argv):
    parser = argparse.ArgumentParser(description="Stand-in vendor HTTPS download server")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--log")
    parser.add_argument("--serve", action="append", default=[], metavar="PATH=FILE")
    args = parser.parse_args(argv)
    server = VendorServer(args.port, args.cert, args.log)
    for item in args.serve:
        path, _, filename = item.partition("=")
        with open(filename, "rb") as f:
            server.route(path, body=f.read())
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    server._server.serve_forever()


if __name__ == "__main__":
    main(sys.argv[1:])
