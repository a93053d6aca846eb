"""HTTP pieces of the channel server: the configuration text, query and
Range parsing, fault descriptions and the body sender that applies them.

Kept apart from channel_server.py so that file holds only the server itself.
"""

import contextlib
import dataclasses
import email.utils
import hashlib
import os
import re
import time
import urllib.parse

CHUNK = 1 << 20
MAX_HOLD_SECONDS = 120.0   # no fault may keep a client waiting longer than this


def config_path_for(ditch):
    return f"/api/merth/ditches/{ditch}/client_config_{ditch}.php"


def build_config(items, encoding="utf-8"):
    """key=value lines, each ended by LF. A list of pairs may repeat keys."""
    pairs = items.items() if hasattr(items, "items") else items
    return b"".join(f"{k}={v}\n".encode(encoding) for k, v in pairs)


def parse_query(raw):
    """Split a raw query (bytes) into ordered (key, value) pairs.

    Pure percent-decoding: '+' stays '+', because the launcher escapes its
    values as path segments, not as form data. Bytes that are not UTF-8 come
    out as U+FFFD; the raw query keeps the exact bytes.
    """
    pairs = []
    for part in raw.split(b"&") if raw else []:
        key, _, value = part.partition(b"=")
        pairs.append([urllib.parse.unquote_to_bytes(x).decode("utf-8", "replace")
                      for x in (key, value)])
    return pairs


def first_param(report, key, default=None):
    return next((v for k, v in report["params"] if k == key), default)


_RANGE_RE = re.compile(r"bytes=(\d*)-(\d*)")


def parse_range(header, size):
    """None to send the whole body, "unsatisfiable", or (start, end) with end exclusive.

    Malformed and multi-range headers are ignored (a full 200 answer is a
    valid reply to them), so only the single-range forms clients use matter.
    """
    m = _RANGE_RE.fullmatch(header.strip()) if header else None
    if not m or m[1] == m[2] == "":
        return None
    if m[1] == "":
        suffix = int(m[2])
        return (max(0, size - suffix), size) if suffix and size else "unsatisfiable"
    start = int(m[1])
    if start >= size:
        return "unsatisfiable"
    end = int(m[2]) + 1 if m[2] else size
    return (start, min(end, size)) if end > start else None


@dataclasses.dataclass
class Fault:
    """What to do wrong for one path. Several fields may combine, e.g.
    ignore_range with drop_after. times=None means until cleared."""
    status: int = None            # answer this status with a short text body
    redirect_to: str = None       # path or absolute URL for a Location header
    redirect_code: int = 302
    ignore_range: bool = False    # 200 with the whole body even when Range was asked
    hide_validators: bool = False  # no ETag or Last-Modified (If-Range then never matches)
    weak_etag: bool = False       # the ETag as a weak one, W/"..." (If-Range never matches it)
    hide_last_modified: bool = False  # no Last-Modified
    drop_after: int = None        # close the connection after this many body bytes
    trickle_bytes: int = None     # send this many bytes ...
    trickle_interval: float = 0.1  # ... every this many seconds,
    trickle_limit: float = MAX_HOLD_SECONDS  # then the rest at full speed
    stall_after: int = None       # send this many body bytes, then go silent ...
    stall_seconds: float = 30.0   # ... this long with the socket open, then close
    endless: bool = False         # no Content-Length; after the body, zero bytes until the client hangs up
    times: int = None             # apply to the next N requests only

    @classmethod
    def from_dict(cls, d):
        types = {f.name: f.type for f in dataclasses.fields(cls)}
        unknown = set(d) - set(types)
        if unknown:
            raise ValueError(f"unknown fault fields: {sorted(unknown)}")
        # Values from JSON or a command line may come as text ("500").
        fault = cls(**{k: v if v is None else types[k](v) for k, v in d.items()})
        for name, low in (("times", 1), ("trickle_bytes", 1), ("drop_after", 0), ("stall_after", 0)):
            if getattr(fault, name) is not None and getattr(fault, name) < low:
                raise ValueError(f"{name} must be at least {low}")
        for name in ("status", "redirect_code"):
            if getattr(fault, name) is not None and not 100 <= getattr(fault, name) <= 599:
                raise ValueError(f"{name} must be an HTTP status code")
        fault.stall_seconds = min(float(fault.stall_seconds), MAX_HOLD_SECONDS)
        fault.trickle_limit = min(float(fault.trickle_limit), MAX_HOLD_SECONDS)
        return fault

    def to_dict(self):
        """Only the fields that differ from a harmless default."""
        default = Fault()
        return {k: v for k, v in dataclasses.asdict(self).items()
                if v != getattr(default, k)}


class ResponseBody:
    """A response body from memory or from a file, sent without loading files."""

    def __init__(self, data=None, path=None):
        self.data, self.path = data, path

    def size(self):
        return len(self.data) if self.path is None else os.path.getsize(self.path)

    def validators(self):
        """(ETag, Last-Modified) of the body as it is now: they change when the bytes (in
        memory) or the file's size or modification time change."""
        if self.path is None:
            if getattr(self, "_etag_of", None) is not self.data:
                self._etag_of, self._etag = self.data, '"%s"' % hashlib.sha1(self.data).hexdigest()[:20]
            return self._etag, "Thu, 01 Jan 1970 00:00:00 GMT"
        st = os.stat(self.path)
        return '"%x-%x"' % (st.st_size, st.st_mtime_ns), email.utils.formatdate(st.st_mtime, usegmt=True)

    def send(self, handler, start, count, fault, stopping):
        """Send body bytes [start, start+count) through handler as the fault allows.

        handler.body_sent counts what went out, so the caller still knows it
        when the client hangs up in the middle and a write raises. Waits end
        early once the stopping event is set.
        """
        limit, stall = count, False
        if fault and fault.drop_after is not None:
            limit = min(limit, fault.drop_after)
        if fault and fault.stall_after is not None and fault.stall_after < limit:
            limit, stall = fault.stall_after, True
        with (open(self.path, "rb") if self.path is not None else contextlib.nullcontext()) as f:
            if fault and fault.trickle_bytes:
                self._trickle(handler, f, start, limit, fault, stopping)
            else:
                self._copy(handler, f, start, limit)
        if handler.body_sent < count:
            # Content-Length promised more: the client must see the connection end.
            handler.close_connection = True
            if stall and handler.body_sent == limit:
                stopping.wait(fault.stall_seconds)

    def _copy(self, handler, f, start, count):
        if count <= 0:
            return
        if f is None:
            view = memoryview(self.data)
            for pos in range(start, start + count, CHUNK):
                piece = view[pos:min(pos + CHUNK, start + count)]
                handler.wfile.write(piece)
                handler.body_sent += len(piece)
            return
        try:
            handler.connection.sendfile(f, start, count)
        finally:
            # sendfile leaves the file position just after what went out, error or not.
            handler.body_sent += f.tell() - start

    def _trickle(self, handler, f, start, count, fault, stopping):
        sent = 0
        deadline = time.monotonic() + fault.trickle_limit
        while sent < count:
            if time.monotonic() >= deadline:
                return self._copy(handler, f, start + sent, count - sent)
            n = min(fault.trickle_bytes, count - sent)
            if f is None:
                handler.wfile.write(self.data[start + sent:start + sent + n])
            else:
                f.seek(start + sent)
                handler.wfile.write(f.read(n))
            sent += n
            handler.body_sent += n
            if sent < count and stopping.wait(fault.trickle_interval):
                return
