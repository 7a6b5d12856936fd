#!/usr/bin/env python3
"""Stand-in vendor download server: HTTPS (HTTP/1.1) on 127.0.0.1 for the installer's tests.

Python 3 standard library only. Two uses.

As a module (end-to-end tests): VendorServer(port, certfile, log_path=None) listens on
127.0.0.1; .start() serves on threads and returns, .stop() ends it (or use it in a with block).
.origin is "https://127.0.0.1:PORT"; .localhost_origin "https://localhost:PORT", the one Windows
programs under Wine must use (Wine's WinHTTP matches the host against DNS names only).
.route(path, **behaviour) and .route_proxy_script(path, proxy, rules="") set answers;
.requests, .requests_for(path) (query ignored) and .wait_for_requests(path, count, timeout)
read the log of {"path", "method", "user_agent", "time"}; .resume() releases bodies held at
pause_at.

Requests in absolute form ("GET https://localhost:PORT/path", as clients send them inside a
proxy's tunnel) are served and logged by their path, like the usual origin form.

route(path, **behaviour) sets what an exact request path serves (the query string is ignored
unless a route was set for the path with that query). Behaviour keywords, all optional:

    status=200          any status; 204 and 304 are sent without a body or length
    body=b""            the body (bytes or str, UTF-8), or
    file=PATH           the body read from PATH at request time
    headers={}          extra response headers
    location=None       a Location header (redirects: status=302 and location=URL)
    chunked=False       chunked transfer coding, no Content-Length (chunk_size=4096)
    content_length=None the raw Content-Length text sent instead of the true length ("abc",
                        "-5", "99999999999999999999", or a number smaller than the body, in
                        which case the whole body is still sent); the connection is closed after
    send=None           send only this many body bytes after announcing the full length,
                        then close the connection (a body cut short)
    stall_at=None       send this many body bytes, sleep stall_seconds (default 45), then the rest
    pace=None           bytes per second for the body
    pause_at=None       fraction (0..1) of the body after which sending waits for resume(),
                        at most pause_timeout seconds (default 60), then sends the rest

Built-in routes, so a test program can pick a behaviour by path alone (any query string, e.g. a
unique "?id=..." to tell parallel tests apart, is ignored; bodies are pattern_bytes: byte i is
i % 251):

    /t/status/CODE                 that status, empty body
    /t/redirect/CODE?to=URL        that status with Location URL (percent-decoded); no "to": none
    /t/bytes/N                     N bytes with Content-Length
    /t/chunked/N                   N bytes chunked
    /t/paced/N?bps=B               N bytes at B bytes per second (default 262144)
    /t/truncated/N                 announces N, sends N // 2, closes
    /t/stall/N?seconds=S           announces N, sends N // 2, sleeps S (default 45), sends the rest
    /t/bad-length/TEXT             Content-Length: TEXT (percent-decoded), 1000 bytes, closes
    /t/long-body/N                 announces N, sends 2 * N + 100 bytes, closes
    /t/location-len/N?scheme=S&status=C
                                   C (default 302) whose Location is exactly N characters:
                                   S (default http), "://localhost/", then "a" padding

As a program (tools/background.sh starts it so for the downloader tests):

    python3 tools/vendor_server.py --port N --cert server.pem [--log FILE] [--serve PATH=FILE ...]

Each request is logged as one JSON line {"path", "method", "user_agent", "time"} to --log,
flushed before the response is sent.
"""

import argparse
import http.server
import json
import os
import signal
import socket
import ssl
import sys
import threading
import time
import urllib.parse

PATTERN_PERIOD = 251
_PATTERN_BLOCK = bytes(i % PATTERN_PERIOD for i in range(PATTERN_PERIOD * 1024))


def pattern_bytes(count, start=0):
    """The bytes start..start+count of the test pattern, where byte i is i % 251."""
    offset = start % PATTERN_PERIOD
    parts = []
    while count > 0:
        take = min(count, len(_PATTERN_BLOCK) - offset)
        parts.append(_PATTERN_BLOCK[offset:offset + take])
        count -= take
        offset = (offset + take) % PATTERN_PERIOD
    return b"".join(parts)


_BEHAVIOUR_KEYS = {
    "status", "body", "file", "headers", "location", "chunked", "chunk_size", "content_length",
    "send", "stall_at", "stall_seconds", "pace", "pause_at", "pause_timeout",
}


def _behaviour(**behaviour):
    unknown = set(behaviour) - _BEHAVIOUR_KEYS
    if unknown:
        raise TypeError("unknown behaviour: " + ", ".join(sorted(unknown)))
    result = {"status": 200, "headers": {}, "chunk_size": 4096, "stall_seconds": 45.0,
              "pause_timeout": 60.0}
    result.update(behaviour)
    return result


def _query_value(query, name, default=None):
    values = urllib.parse.parse_qs(query, keep_blank_values=True).get(name)
    return values[0] if values else default


def _location_of_length(arg, query):
    prefix = _query_value(query, "scheme", "http") + "://localhost/"
    return _behaviour(status=int(_query_value(query, "status", "302")),
                      location=prefix + "a" * max(0, int(arg) - len(prefix)))


# /t/KIND/ARG: the behaviour for ARG and the query string.
_BUILTIN = {
    "status": lambda arg, query: _behaviour(status=int(arg)),
    "redirect": lambda arg, query: _behaviour(status=int(arg), location=_query_value(query, "to")),
    "bytes": lambda arg, query: _behaviour(body=pattern_bytes(int(arg))),
    "chunked": lambda arg, query: _behaviour(body=pattern_bytes(int(arg)), chunked=True),
    "paced": lambda arg, query: _behaviour(body=pattern_bytes(int(arg)),
                                           pace=int(_query_value(query, "bps", "262144"))),
    "truncated": lambda arg, query: _behaviour(body=pattern_bytes(int(arg)), send=int(arg) // 2),
    "stall": lambda arg, query: _behaviour(
        body=pattern_bytes(int(arg)), stall_at=int(arg) // 2,
        stall_seconds=float(_query_value(query, "seconds", "45"))),
    "bad-length": lambda arg, query: _behaviour(body=pattern_bytes(1000),
                                                content_length=urllib.parse.unquote(arg)),
    "long-body": lambda arg, query: _behaviour(body=pattern_bytes(2 * int(arg) + 100),
                                               content_length=str(int(arg))),
    "location-len": _location_of_length,
}


def _builtin_behaviour(path, query):
    """Behaviour of a /t/... path, or None when the path names none."""
    parts = path.split("/") + ["", "", ""]
    if parts[1] != "t" or parts[2] not in _BUILTIN:
        return None
    try:
        return _BUILTIN[parts[2]](parts[3], query)
    except ValueError:
        return None


def _origin_form(target):
    """The path and query of a request target. Through a proxy's tunnel some clients send the
    absolute form ("https://host:port/path"), which servers must accept (RFC 9112, 3.2.2)."""
    scheme, sep, rest = target.partition("://")
    if not sep or "/" in scheme or scheme.lower() not in ("http", "https"):
        return target
    slash = rest.find("/")
    return rest[slash:] if slash >= 0 else "/"


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VendorServer/1.0"

    def log_message(self, format, *args):  # noqa: A002 - the base class's signature
        pass

    def do_GET(self):
        self._serve(head=False)

    def do_HEAD(self):
        self._serve(head=True)

    def _serve(self, head):
        owner = self.server.owner
        target = _origin_form(self.path)
        owner._record(self.command, target, self.headers.get("User-Agent", ""))
        behaviour = owner._lookup(target)
        if behaviour is None:
            behaviour = _behaviour(status=404, body=b"not found\n")
        try:
            self._respond(behaviour, head)
        except (OSError, ssl.SSLError):
            self.close_connection = True

    def _respond(self, b, head):
        status = b["status"]
        body = b.get("body")
        if b.get("file") is not None:
            with open(b["file"], "rb") as f:
                body = f.read()
        if body is None:
            body = b""
        if isinstance(body, str):
            body = body.encode("utf-8")
        bodiless = status in (204, 304) or 100 <= status < 200
        cut = b.get("content_length") is not None or b.get("send") is not None

        self.send_response_only(status)
        self.send_header("Date", self.date_time_string())
        for name, value in b["headers"].items():
            self.send_header(name, str(value))
        if b.get("location") is not None:
            # Raw UTF-8 on the wire, as a server that does not encode its Location sends it.
            self.send_header("Location", b["location"].encode("utf-8").decode("latin-1"))
        if bodiless:
            pass
        elif b.get("chunked"):
            self.send_header("Transfer-Encoding", "chunked")
        elif b.get("content_length") is not None:
            self.send_header("Content-Length", str(b["content_length"]))
        else:
            self.send_header("Content-Length", str(len(body)))
        if cut:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.flush()
        if head or bodiless:
            return
        if b.get("send") is not None:
            body = body[:b["send"]]
        self._send_body(body, b)
        if cut:
            self.connection.shutdown(socket.SHUT_RDWR)

    def _send_body(self, body, b):
        owner = self.server.owner
        chunked = b.get("chunked")
        piece = b["chunk_size"] if chunked else 65536
        pace = b.get("pace")
        if pace:
            piece = max(1, min(piece, pace // 10))
        stops = {}
        if b.get("stall_at") is not None:
            stops[b["stall_at"]] = "stall"
        if b.get("pause_at") is not None:
            stops[int(len(body) * b["pause_at"])] = "pause"
        sent = 0
        while True:
            if sent in stops:
                if stops.pop(sent) == "stall":
                    owner._stopping.wait(b["stall_seconds"])
                else:
                    owner._wait_resume(b["pause_timeout"])
            if sent >= len(body):
                break
            end = min(len(body), sent + piece)
            for stop in stops:
                if sent < stop < end:
                    end = stop
            data = body[sent:end]
            if chunked:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
            else:
                self.wfile.write(data)
            self.wfile.flush()
            sent = end
            if pace and owner._stopping.wait(len(data) / pace):
                return
        if chunked:
            self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()


class _TlsServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, context, owner):
        self.context = context
        self.owner = owner
        super().__init__(address, _Handler)

    # The handshake runs on the request's thread, so a client that never finishes it
    # cannot hold up accepting the others.
    def finish_request(self, request, client_address):
        request.settimeout(120)
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (OSError, ssl.SSLError):
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        except (OSError, ssl.SSLError):
            pass
        finally:
            try:
                tls.close()
            except OSError:
                pass


class VendorServer:
    """An HTTPS server on 127.0.0.1 whose answers the tests set per path (see the module)."""

    def __init__(self, port=0, certfile=None, keyfile=None, host="127.0.0.1", log_path=None):
        if certfile is None:
            raise ValueError("certfile is required")
        self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self._context.load_cert_chain(certfile, keyfile)
        self._address = (host, port)
        self._log_path = log_path
        self._lock = threading.Condition()
        self._requests = []
        self._routes = {}
        self._resume = threading.Event()
        self._stopping = threading.Event()
        self._server = None
        self._thread = None
        self._log = None

    def listen(self):
        """Binds and listens without serving yet."""
        if self._server is None:
            self._server = _TlsServer(self._address, self._context, self)
            if self._log_path:
                self._log = open(self._log_path, "a", encoding="utf-8")
        return self

    def start(self):
        """Serves on a thread of its own; returns once listening."""
        self._thread = threading.Thread(target=self.listen()._server.serve_forever, daemon=True,
                                        name="vendor-server")
        self._thread.start()
        return self

    def serve_forever(self):
        self.listen()._server.serve_forever()

    def stop(self):
        self._stopping.set()
        self._resume.set()
        if self._server is not None:
            if self._thread is not None:
                self._server.shutdown()
                self._thread.join(timeout=10)
            self._server.server_close()
        if self._log is not None:
            self._log.close()
            self._log = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self):
        self.listen()
        return self._server.server_address[1]

    @property
    def origin(self):
        return "https://127.0.0.1:%d" % self.port

    @property
    def localhost_origin(self):
        return "https://localhost:%d" % self.port

    @property
    def requests(self):
        with self._lock:
            return [dict(r) for r in self._requests]

    def requests_for(self, path):
        with self._lock:
            return [dict(r) for r in self._requests_for(path)]

    def _requests_for(self, path):
        return [r for r in self._requests if r["path"].split("?", 1)[0] == path]

    def wait_for_requests(self, path, count, timeout):
        with self._lock:
            return self._lock.wait_for(lambda: len(self._requests_for(path)) >= count, timeout)

    def route(self, path, **behaviour):
        b = _behaviour(**behaviour)
        with self._lock:
            self._routes[path] = b

    def route_proxy_script(self, path, proxy, rules=""):
        """Serves at path a proxy auto-config script that sends every URL through proxy
        ("host:port"), or as the JavaScript statements in rules say first."""
        script = 'function FindProxyForURL(url, host) { %s return "PROXY %s"; }\n' % (rules, proxy)
        self.route(path, body=script,
                   headers={"Content-Type": "application/x-ns-proxy-autoconfig"})

    def resume(self):
        self._resume.set()

    def _wait_resume(self, timeout):
        self._resume.wait(timeout)

    def _lookup(self, target):
        with self._lock:
            if target in self._routes:
                return self._routes[target]
            path, _, query = target.partition("?")
            if path in self._routes:
                return self._routes[path]
        return _builtin_behaviour(path, query)

    def _record(self, method, path, user_agent):
        entry = {"path": path, "method": method, "user_agent": user_agent, "time": time.time()}
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
    if args.log:
        os.makedirs(os.path.dirname(os.path.abspath(args.log)), exist_ok=True)
        open(args.log, "w").close()
    server = VendorServer(port=args.port, certfile=args.cert, log_path=args.log).listen()
    for item in args.serve:
        path, sep, filename = item.partition("=")
        if not sep or not path.startswith("/"):
            parser.error("--serve wants PATH=FILE, got " + item)
        server.route(path, file=os.path.abspath(filename))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        server.serve_forever()
    finally:
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
