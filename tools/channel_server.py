#!/usr/bin/env python3
"""Loopback stand-in for the channel's web servers, for tests and the demo.

One HTTP/1.1 server on 127.0.0.1 plays all three servers the launcher talks to:
the configuration document, the game package (whole or from a byte offset),
the entry page and the two statistics paths. Every request is logged, every
statistics report is recorded, and per-path fault switches let a test make the
server misbehave (error status, dropped or stalled connection, slow trickle,
200 to a Range request, redirects).

Use it in-process:

    with ChannelServer() as srv:
        srv.add_package("/packages/qorn_1.0.0.1.zip", "build/qorn.zip")
        srv.set_config({"ClientVersion": "1.0.0.1",
                        "ClientDownloadUrl": srv.url("/packages/qorn_{version}.zip")})
        srv.add_fault("/packages/qorn_1.0.0.1.zip", drop_after=600, times=1)
        ...
        srv.wait_for_reports(2)

or as a program (see --help); out-of-process tests then drive it through the
/_control/ endpoints and read the JSON-lines logs.

Bodies of the configuration document and the entry page may contain the token
@BASE_URL@, replaced by the server's own base URL (http or https) when served, because with
--port 0 the port is not known when those files are written.
"""

import argparse
import dataclasses
import http.server
import json
import os
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

try:  # imported as part of a package
    from .channel_http import (MAX_HOLD_SECONDS, Fault, ResponseBody, build_config,
                               config_path_for, first_param, parse_query, parse_range)
except ImportError:  # run as a script, or imported with tools/ on sys.path
    from channel_http import (MAX_HOLD_SECONDS, Fault, ResponseBody, build_config,
                              config_path_for, first_param, parse_query, parse_range)

# Re-exported so users of the server need import only this module.
__all__ = ["ChannelServer", "Fault", "build_config", "config_path_for", "first_param",
           "parse_query", "parse_range", "main", "MAX_HOLD_SECONDS", "INFO_REPORT_PATH",
           "ERROR_REPORT_PATH", "DEFAULT_ENTRY_PATH"]

INFO_REPORT_PATH = "/api/laucher_info.php"
ERROR_REPORT_PATH = "/api/laucher_error.php"
REPORT_KINDS = {INFO_REPORT_PATH: "info", ERROR_REPORT_PATH: "error"}
DEFAULT_ENTRY_PATH = "/entry/index.html"
DEFAULT_ENTRY_HTML = (b"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                      b"<title>Qorn entry page</title></head>\n"
                      b"<body><h1>Qorn entry page</h1></body></html>\n")
BASE_URL_TOKEN = b"@BASE_URL@"
CONTROL_PREFIX = "/_control/"


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"   # keep-alive; every answer carries Content-Length
    server_version = "ChannelServer/1.0"
    timeout = 300                   # idle keep-alive connections do not live forever
    disable_nagle_algorithm = True  # headers and body go in separate writes

    @property
    def owner(self):
        return self.server.owner

    def setup(self):
        context = self.owner.tls_context
        if context is not None:
            # The handshake runs here, on the connection's own thread, never in the accept loop:
            # a client that stalls or refuses the certificate holds up no other connection.
            self.request.settimeout(self.timeout)
            self.request = context.wrap_socket(self.request, server_side=True)
        super().setup()
        self.owner._track(self.connection, True)

    def finish(self):
        try:
            super().finish()
        finally:
            self.owner._track(self.connection, False)

    def log_message(self, fmt, *args):
        if self.owner.verbose:
            super().log_message(fmt, *args)

    def do_GET(self):
        self._dispatch(head=False)

    def do_HEAD(self):
        self._dispatch(head=True)

    def do_POST(self):
        self._dispatch(head=False)

    def _dispatch(self, head):
        path, _, query = self.path.partition("?")
        length = int(self.headers.get("Content-Length") or 0)
        payload = self.rfile.read(length) if length else b""
        if path.startswith(CONTROL_PREFIX):
            self._control(path[len(CONTROL_PREFIX):], query, payload)
        else:
            self._serve(path, query, head)

    # -- the channel's own paths --------------------------------------------

    def _serve(self, path, query, head):
        owner = self.owner
        raw_query = query.encode("latin-1")  # http.server decoded the request line as latin-1
        if path in REPORT_KINDS:
            owner._record_report(self, path, raw_query)
        fault = owner._take_fault(path)
        status, headers, body, start, count = self._answer(path, fault)
        entry = owner._log_request(self, path, query, status, fault)
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        endless = bool(fault and fault.endless) and not head
        if not endless:
            self.send_header("Content-Length", str(count))
        if fault and (fault.drop_after is not None or fault.stall_after is not None or endless):
            self.send_header("Connection", "close")
        self.end_headers()
        self.body_sent = 0
        if head or status in (204, 304):
            count = 0
        try:
            body.send(self, start, count, fault, owner._stopping)
            if endless:
                self._send_without_end(owner._stopping)
        except OSError:
            self.close_connection = True  # the client went away
        finally:
            owner._finish_request(entry, self.body_sent, self.body_sent == count)

    def _send_without_end(self, stopping):
        """Zero bytes after the body until the client hangs up (a write then raises), the
        server stops or MAX_HOLD_SECONDS pass: an answer that would fill a disk."""
        self.close_connection = True
        zeros = bytes(64 * 1024)
        deadline = time.monotonic() + MAX_HOLD_SECONDS
        while not stopping.is_set() and time.monotonic() < deadline:
            self.wfile.write(zeros)
            self.body_sent += len(zeros)

    def _answer(self, path, fault):
        """(status, headers, body, start, count) for this request."""
        owner = self.owner
        if fault and fault.redirect_to:
            target = fault.redirect_to
            location = owner.url(target) if target.startswith("/") else target
            return self._text(fault.redirect_code, f"see {location}\n", [("Location", location)])
        if fault and fault.status:
            return self._text(fault.status, f"{fault.status} (injected fault)\n")
        if path == owner.config_path:
            return self._bytes(200, owner._config_bytes(), "text/plain")
        if path == owner.entry_path:
            return self._bytes(200, owner._entry_bytes(), "text/html; charset=utf-8")
        if path in REPORT_KINDS:
            return self._text(200, "ok\n")
        body = owner._package(path)
        if body is None:
            return self._text(404, "not found\n")
        size = body.size()
        kind = "application/zip" if path.endswith(".zip") else "application/octet-stream"
        headers = [("Content-Type", kind), ("Accept-Ranges", "bytes")]
        etag, last_modified = body.validators()
        if fault and fault.weak_etag:
            etag = "W/" + etag
        if fault and fault.hide_last_modified:
            last_modified = None
        if fault and fault.hide_validators:
            etag = last_modified = None
        headers += [(name, value) for name, value in (("ETag", etag), ("Last-Modified", last_modified)) if value]
        # If-Range: the range only when the client's validator still names this body. A weak
        # ETag never matches: If-Range compares strongly.
        if_range = self.headers.get("If-Range")
        strong = [v for v in (etag, last_modified) if v and not v.startswith("W/")]
        stale = if_range is not None and if_range not in strong
        wanted = None if (fault and fault.ignore_range) or stale else parse_range(self.headers.get("Range"), size)
        if wanted == "unsatisfiable":
            return self._text(416, "range not satisfiable\n", [("Content-Range", f"bytes */{size}")])
        if wanted is None:
            return 200, headers, body, 0, size
        start, end = wanted
        headers.append(("Content-Range", f"bytes {start}-{end - 1}/{size}"))
        return 206, headers, body, start, end - start

    @staticmethod
    def _bytes(status, data, kind, headers=()):
        return status, [("Content-Type", kind), *headers], ResponseBody(data=data), 0, len(data)

    def _text(self, status, text, headers=()):
        return self._bytes(status, text.encode(), "text/plain; charset=utf-8", headers)

    # -- control endpoints ----------------------------------------------------

    def _control(self, name, query, payload):
        owner = self.owner
        args = dict(urllib.parse.parse_qsl(query))
        try:
            if name == "ping":
                result = {"ok": True, "port": owner.port}
            elif name == "reports":
                result = owner.reports[int(args.get("since", 0)):]
            elif name == "requests":
                result = owner.requests[int(args.get("since", 0)):]
            elif name == "clear":
                owner.clear_logs()
                result = {"ok": True}
            elif name == "faults":
                result = owner.faults()
            elif name in ("faults/set", "faults/add"):
                fields = json.loads(payload or b"{}")
                path = fields.pop("path")
                (owner.set_fault if name == "faults/set" else owner.add_fault)(path, **fields)
                result = owner.faults()
            elif name == "faults/clear":
                owner.clear_faults(json.loads(payload or b"{}").get("path"))
                result = owner.faults()
            elif name == "config":
                owner.set_config(payload)
                result = {"ok": True, "length": len(payload)}
            elif name == "entry":
                owner.set_entry_page(payload)
                result = {"ok": True, "length": len(payload)}
            elif name == "package":
                fields = json.loads(payload)
                owner.add_package(fields["path"], fields["file"])
                result = {"ok": True}
            else:
                return self._reply_json(404, {"error": f"no control endpoint {name!r}"})
        except (ValueError, KeyError, TypeError) as exc:
            return self._reply_json(400, {"error": str(exc)})
        self._reply_json(200, result)

    def _reply_json(self, status, value):
        data = json.dumps(value, ensure_ascii=False).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


class _HTTPServer(http.server.ThreadingHTTPServer):
    # Connections are closed by ChannelServer.stop() instead; joining threads
    # would hang on keep-alive clients that never hang up.
    block_on_close = False
    daemon_threads = True

    def server_bind(self):
        # HTTPServer.server_bind would look up a host name for the address,
        # which can wait on DNS; the name is never used here.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def handle_error(self, request, client_address):
        # A client that goes away, or ends a TLS handshake it does not like, is no server error.
        if not isinstance(sys.exc_info()[1], (ConnectionError, ssl.SSLError, socket.timeout)):
            super().handle_error(request, client_address)


class ChannelServer:
    """The channel's servers on 127.0.0.1. Thread-safe; start() or use as a context manager."""

    def __init__(self, port=0, ditch="palmet", config=None, entry_path=DEFAULT_ENTRY_PATH,
                 entry_html=None, reports_log=None, requests_log=None, verbose=False, tls_context=None):
        # With a server-side ssl.SSLContext, every connection is https with its certificate.
        self.tls_context = tls_context
        self.ditch = ditch
        self.config_path = config_path_for(ditch)
        self.entry_path = entry_path
        self.verbose = verbose
        self._requested_port = port
        self._lock = threading.Condition()
        self._stopping = threading.Event()
        self._config = None
        self._entry = DEFAULT_ENTRY_HTML
        self._packages = {}
        self._faults = {}
        self._reports = []
        self._requests = []
        self._connections = set()
        self._reports_file = open(reports_log, "a", encoding="utf-8") if reports_log else None
        self._requests_file = open(requests_log, "a", encoding="utf-8") if requests_log else None
        self._httpd = None
        self._thread = None
        if config is not None:
            self.set_config(config)
        if entry_html is not None:
            self.set_entry_page(entry_html)

    # -- lifecycle --------------------------------------------------------------

    def start(self):
        self._httpd = _HTTPServer(("127.0.0.1", self._requested_port), _Handler)
        self._httpd.owner = self
        # A short poll keeps stop() quick; serve_forever only notices shutdown between polls.
        self._thread = threading.Thread(target=self._httpd.serve_forever, args=(0.05,),
                                        name="channel-server", daemon=True)
        self._thread.start()
        return self

    def stop(self):
        """Stop serving and end every open connection, stalled ones included."""
        if self._httpd is None or self._stopping.is_set():
            return
        self._stopping.set()
        self._httpd.shutdown()
        with self._lock:
            for conn in list(self._connections):
                try:
                    conn.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
            # Let handlers finish their bookkeeping, so the logs are complete once stop() returns.
            self._lock.wait_for(lambda: not self._connections, timeout=5)
        self._httpd.server_close()
        self._thread.join()
        with self._lock:
            for f in (self._reports_file, self._requests_file):
                if f:
                    f.close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self):
        return self._httpd.server_address[1]

    @property
    def base_url(self):
        scheme = "https" if self.tls_context is not None else "http"
        return f"{scheme}://127.0.0.1:{self.port}"

    def url(self, path):
        return self.base_url + path

    # -- content ----------------------------------------------------------------

    def set_config(self, body):
        """The configuration document: exact bytes, a str, or a mapping / list of pairs."""
        if isinstance(body, str):
            body = body.encode("utf-8")
        elif not isinstance(body, (bytes, bytearray)):
            body = build_config(body)
        with self._lock:
            self._config = bytes(body)

    def default_config(self):
        """What is served until set_config() is called: points at this server."""
        with self._lock:
            first = next(iter(self._packages), "/packages/qorn_{version}.zip")
        package_url = self.url(first)
        return build_config({
            "ClientVersion": "1.0.0.1",
            "ClientMiniUpdateVersion": "0.0.0.0",
            "ClientDownloadUrl": package_url,
            "Client32DownloadUrl": package_url,
            "EntryUrl": self.url(self.entry_path),
            "CustomParameters": f"ditch={self.ditch}",
        })

    def set_entry_page(self, html, path=None):
        if isinstance(html, str):
            html = html.encode("utf-8")
        with self._lock:
            self._entry = bytes(html)
            if path:
                self.entry_path = path

    def add_package(self, path, source):
        """Serve source at path: bytes are kept in memory, a str or PathLike names a file."""
        if not path.startswith("/"):
            raise ValueError(f"package path must start with '/': {path!r}")
        if isinstance(source, (bytes, bytearray, memoryview)):
            body = ResponseBody(data=bytes(source))
        else:
            body = ResponseBody(path=os.fspath(source))
            if not os.path.isfile(body.path):
                raise ValueError(f"no such package file: {body.path}")
        with self._lock:
            self._packages[path] = body

    def remove_package(self, path):
        with self._lock:
            self._packages.pop(path, None)

    def _package(self, path):
        with self._lock:
            return self._packages.get(path) or self._packages.get(urllib.parse.unquote(path))

    def _config_bytes(self):
        with self._lock:
            body = self._config
        body = self.default_config() if body is None else body
        return body.replace(BASE_URL_TOKEN, self.base_url.encode())

    def _entry_bytes(self):
        with self._lock:
            return self._entry.replace(BASE_URL_TOKEN, self.base_url.encode())

    # -- faults -------------------------------------------------------------------

    def set_fault(self, path, **fields):
        """Replace the faults of path ("*" for every path) by this one; see Fault."""
        fault = Fault.from_dict(fields)
        with self._lock:
            self._faults[path] = [fault]

    def add_fault(self, path, **fields):
        """Queue a fault behind those already set for path; a fault with times
        applies to that many requests, then the next one in the queue takes over."""
        fault = Fault.from_dict(fields)
        with self._lock:
            self._faults.setdefault(path, []).append(fault)

    def clear_faults(self, path=None):
        with self._lock:
            if path is None:
                self._faults.clear()
            else:
                self._faults.pop(path, None)

    def faults(self):
        with self._lock:
            return {p: [f.to_dict() for f in q] for p, q in self._faults.items() if q}

    def _take_fault(self, path):
        with self._lock:
            for key in (path, "*"):
                queue = self._faults.get(key)
                if queue:
                    fault = queue[0]
                    if fault.times is not None:
                        fault.times -= 1
                        if fault.times == 0:
                            queue.pop(0)
                    return dataclasses.replace(fault, times=None)
        return None

    # -- logs -------------------------------------------------------------------

    @property
    def reports(self):
        """Statistics reports received, oldest first (copies)."""
        with self._lock:
            return [dict(r) for r in self._reports]

    @property
    def requests(self):
        """Every non-control request, oldest first (copies). status is set
        before the body is sent; bytes_sent, complete and end_time (the moment the last
        byte was handed to the socket, or the connection ended) when it is done."""
        with self._lock:
            return [dict(r) for r in self._requests]

    def requests_for(self, path):
        return [r for r in self.requests if r["path"] == path]

    def clear_logs(self):
        with self._lock:
            self._reports.clear()
            self._requests.clear()

    def wait_for_reports(self, count, timeout=10.0):
        """Reports arrive from fire-and-forget requests; wait until there are count."""
        with self._lock:
            self._lock.wait_for(lambda: len(self._reports) >= count, timeout)
            return [dict(r) for r in self._reports]

    def wait_for_requests(self, predicate, timeout=10.0):
        """Wait until some finished-or-not request satisfies predicate; return it or None."""
        def find():
            return next((dict(r) for r in self._requests if predicate(r)), None)
        with self._lock:
            self._lock.wait_for(find, timeout)
            return find()

    def _record_report(self, handler, path, raw_query):
        report = {
            "time": time.time(),
            "kind": REPORT_KINDS[path],
            "method": handler.command,
            "path": path,
            "query": raw_query.decode("latin-1"),  # one char per byte: exact wire bytes
            "params": parse_query(raw_query),
            "headers": [[k, v] for k, v in handler.headers.items()],
        }
        with self._lock:
            self._reports.append(report)
            self._write_line(self._reports_file, report)
            self._lock.notify_all()

    def _log_request(self, handler, path, query, status, fault):
        entry = {
            "time": time.time(),
            "method": handler.command,
            "path": path,
            "query": query,
            "range": handler.headers.get("Range"),
            "status": status,
            "fault": fault.to_dict() if fault else None,
            "peer_port": handler.client_address[1],
            "headers": [[k, v] for k, v in handler.headers.items()],
            "bytes_sent": None,
            "complete": None,
            "end_time": None,
        }
        with self._lock:
            self._requests.append(entry)
            self._lock.notify_all()
        return entry

    def _finish_request(self, entry, sent, complete):
        with self._lock:
            entry["bytes_sent"] = sent
            entry["complete"] = bool(complete)
            entry["end_time"] = time.time()
            self._write_line(self._requests_file, entry)
            self._lock.notify_all()

    @staticmethod
    def _write_line(f, record):
        # Flushed per line so a test in another process sees it at once.
        if f and not f.closed:
            f.write(json.dumps(record, ensure_ascii=False) + "\n")
            f.flush()

    def _track(self, conn, add):
        with self._lock:
            (self._connections.add if add else self._connections.discard)(conn)
            self._lock.notify_all()


# -- command line ------------------------------------------------------------------


def _split_assignment(text, what):
    left, sep, right = text.partition("=")
    if not sep or not (left.startswith("/") or left == "*" and what == "--fault"):
        raise argparse.ArgumentTypeError(f"{what} must look like /url/path=VALUE: {text!r}")
    return left, right


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Loopback channel server (configuration, packages, entry page, "
                    "statistics) for launcher tests and the demo.",
        epilog="Control endpoints (not logged): GET /_control/ping, /_control/reports[?since=N], "
               "/_control/requests[?since=N], /_control/faults; POST /_control/clear, "
               "/_control/faults/set|add (JSON {\"path\": ..., fault fields}), "
               "/_control/faults/clear (JSON {\"path\": ...} or nothing for all), "
               "/_control/config and /_control/entry (raw body), "
               "/_control/package (JSON {\"path\": ..., \"file\": ...}).")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--ditch", default="palmet", help="channel code in the configuration path")
    parser.add_argument("--config-file", help="raw configuration document (sent byte for byte; "
                                              "@BASE_URL@ becomes this server's URL)")
    parser.add_argument("--package", action="append", default=[], metavar="/PATH=FILE",
                        type=lambda s: _split_assignment(s, "--package"))
    parser.add_argument("--entry-page", help="HTML file for the entry page")
    parser.add_argument("--entry-path", default=DEFAULT_ENTRY_PATH)
    parser.add_argument("--fault", action="append", default=[], metavar="/PATH=JSON",
                        type=lambda s: _split_assignment(s, "--fault"),
                        help='e.g. /packages/q.zip={"status": 500, "times": 1}; the path "*" '
                             "stands for every path")
    parser.add_argument("--reports-log", help="append every statistics report as a JSON line")
    parser.add_argument("--requests-log", help="append every finished request as a JSON line")
    parser.add_argument("--port-file", help="write the port number here once listening")
    parser.add_argument("--verbose", action="store_true", help="log requests to stderr")
    args = parser.parse_args(argv)

    config = None
    if args.config_file:
        with open(args.config_file, "rb") as f:
            config = f.read()
    entry = None
    if args.entry_page:
        with open(args.entry_page, "rb") as f:
            entry = f.read()
    server = ChannelServer(port=args.port, ditch=args.ditch, config=config,
                           entry_path=args.entry_path, entry_html=entry,
                           reports_log=args.reports_log, requests_log=args.requests_log,
                           verbose=args.verbose)
    for path, file in args.package:
        server.add_package(path, file)
    for path, text in args.fault:
        server.add_fault(path, **json.loads(text))

    stop = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stop.set())
    server.start()
    if args.port_file:
        # Written whole then renamed, so a reader never sees a half-written number.
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"{server.port}\n")
        os.replace(tmp, args.port_file)
    print(f"channel server listening on {server.base_url} "
          f"(config {server.config_path})", flush=True)
    try:
        stop.wait()
    finally:
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
