#!/usr/bin/python3
"""Local stand-in for the vendor's update server, for tests, benchmarks and the demo.

Serves the files under --root by URL path (store/<token>/Quorvel30/version.txt and the
package beside it), on 127.0.0.1 only. Wine reaches it as an HTTP proxy, so requests may
carry absolute URLs; only their path is used.

Each response can be steered by a sidecar "<file>.behave.json" next to the served file,
read afresh on every request (the served file itself need not exist). Its fields:

  status               int; default 200 if the file exists or a body is given, else 404
                       (302 with redirect_to)
  body / body_hex      the body as a UTF-8 string / as hex bytes, instead of the file
  headers              object of extra headers; replaces a default of the same name
  content_length       Content-Length to announce instead of the real length (the
                       body itself is still sent as it is)
  omit_content_length  true: no Content-Length, "Connection: close", body ends at close
  delay_headers_ms     pause before anything is sent (reset_before_headers included)
  reset_before_headers true: reset the connection (RST) instead of answering
  stall_after_bytes    send this many body bytes, pause stall_ms (default 3600000), go on
  drip                 {"bytes": N, "every_ms": T}: N body bytes at a time, T ms apart
  reason               the reason phrase of the status line (default the status's own);
                       a long one makes a status line that takes long to drip
  drip_status_line     {"bytes": N, "every_ms": T}: the status line N bytes at a time, T ms
                       apart, its line end included
  drip_headers         {"bytes": N, "every_ms": T}: the header lines after the status line,
                       and the empty line that ends them, N bytes at a time, T ms apart
  endless              true: the body never ends: once sent it is sent again, and again,
                       until the client goes away, the server stops or ENDLESS_LIMIT_S has
                       passed. Announces no length ("Connection: close") unless
                       content_length is given (a length larger than the body, say);
                       paced by drip or chunk_size like any body
  record_sent          a file name beside the served file: the count of body bytes written
                       to the connection so far, as a decimal line, replaced whole while
                       the body goes out (every RECORD_EVERY_S, and whenever the client is
                       not taking more at the moment) and once more when the response ends
                       (whole, cut, reset or abandoned by the client), so a test can tell
                       how far a transfer went before the client stopped it, to within one
                       piece while a client that stopped reading holds the connection
  close_after_bytes    send this many body bytes (at most the body), then close cleanly
  reset_after_bytes    send this many body bytes (at most the body), then reset (RST)
  redirect_to          Location header; body empty unless body/body_hex is given
  chunk_size           write size for the body; without it and without any pacing the
                       file goes out with sendfile
  refuse_connections_ms  stop listening for this long from this request on, and close
                       its connection after the answer: the next connection is refused, as
                       by a server that went away (a client's proxy settings stay as they
                       were)
  held_by              a file name beside the served file: each pause asked for above
                       (delay_headers_ms, stall_ms, refuse_connections_ms; not the drip's)
                       lasts its own time and then for as long as that file exists (at
                       most HOLD_LIMIT_S more), so a pause of 0 ms lasts until the file is
                       removed. A test removes it once it has seen what it waits for,
                       instead of guessing how long that takes.

Whenever the connection cannot carry a further response (short body, announced length
not sent, no Content-Length), it is closed after the response.

Every request line is appended to --log as "<request line> | UA: <User-Agent>".

Signed releases: with --signing-key (the build's development key; --freshness-key, the
build's key for the freshness part, defaults to it), a test publishes a release the way
a vendor does, with tools/publish.py, by posting a JSON object to /__control/stage (this
exact path only; it never serves a file, and is not logged):

  folder        the product folder under the root, e.g. "store/q7k2m9x4/Quorvel30"
  version       the version line ("3.0.1.3")
  packages      names of files in that folder to list; default every file there but
                version.txt, sidecars and hidden files
  key           the key of the release part: "dev" (--signing-key), "freshness"
                (--freshness-key, which an updater may trust for the freshness part only)
                or "other" (a throwaway key the server makes, which no updater holds);
                default "dev"
  freshness_key the key of the freshness part, as `key`; default "freshness"
  expires_in_seconds  the expiry, from now; may be negative (already expired); default
                seven days
  release_expires_in_seconds  the release part's own expiry, from now; may be negative;
                default 365 days. The vendor's tool refuses an expiry later than it
  product       the product line; default "Quorvel30"
  extra_lines   further signed lines of the release part
  form          "two-part" (default: as the vendor's tool stages it), or a file the
                updater must refuse: "freshness-altered" (the expiry moved on to the
                release expiry after the file was signed), "expires-in-release-part" (an expires line in
                the release part too, signed), "single-signature" (the older format: the
                version and package lines and one signature by `key`),
                "no-release-expiry" (two parts, but no release-expires line: the format
                before it), "freshness-beyond-release" (both parts signed by their keys,
                the freshness expiry as given even where it is later than the release
                expiry: what the holder of the freshness key alone makes of an old
                release part it replays)

The answer is 200 with the version file written, or 400 with the reason.
"""

import argparse
import base64
import fcntl
import io
import json
import os
import random
import select
import shutil
import signal
import socket
import socketserver
import struct
import sys
import tempfile
import termios
import threading
import time
import urllib.parse
from http import HTTPStatus

import publish
from http.server import BaseHTTPRequestHandler

SIDECAR_SUFFIX = ".behave.json"
STAGE_PATH = "/__control/stage"
STAGE_FIELDS = {"folder", "version", "packages", "key", "freshness_key", "expires_in_seconds",
                "release_expires_in_seconds", "product", "extra_lines", "form"}
STAGE_FORMS = ("two-part", "freshness-altered", "expires-in-release-part", "single-signature", "no-release-expiry",
               "freshness-beyond-release")
DEFAULT_CHUNK_SIZE = 64 * 1024
DEFAULT_STALL_MS = 3_600_000
# Not a power of two, so a dropped or repeated transfer block shifts the pattern.
PACKAGE_PATTERN_PERIOD = 1024 * 1024 + 7
CONTENT_TYPES = {".txt": "text/plain", ".json": "application/json"}
# How long a reset waits for the bytes already written to reach the client.
RESET_DRAIN_LIMIT_S = 1.0
# The longest a held pause goes on after its own time, should a test never let it go.
HOLD_LIMIT_S = 600.0
# How often the count of bytes sent is brought up to date while a body goes out.
RECORD_EVERY_S = 0.05
# The longest an endless body goes on, should the client never stop reading it.
ENDLESS_LIMIT_S = 600.0


class BehaviourError(ValueError):
    """A sidecar that cannot be honoured; answered with 500 and the reason."""


def _is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def _is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def _is_file_name(value):
    return isinstance(value, str) and value not in ("", ".", "..") and not set(value) & set("/\\\0")


def _require(condition, message):
    if not condition:
        raise BehaviourError(message)


class Behaviour:
    """The validated contents of one sidecar; every field optional."""

    FIELDS = {
        "status", "body", "body_hex", "headers", "content_length", "omit_content_length",
        "delay_headers_ms", "reset_before_headers", "stall_after_bytes", "stall_ms", "held_by", "drip",
        "close_after_bytes", "reset_after_bytes", "redirect_to", "chunk_size",
        "refuse_connections_ms", "endless", "record_sent", "reason", "drip_status_line", "drip_headers",
    }

    def __init__(self, fields=None):
        fields = fields or {}
        # A misspelt field would silently do nothing, which makes for tests that pass
        # without testing anything.
        unknown = sorted(set(fields) - self.FIELDS)
        _require(not unknown, "unknown field(s): " + ", ".join(unknown))

        self.status = fields.get("status")
        _require(self.status is None or (_is_int(self.status) and 100 <= self.status <= 999),
                 "status must be an integer 100..999")

        _require(not ("body" in fields and "body_hex" in fields), "give body or body_hex, not both")
        self.body = None
        if "body" in fields:
            _require(isinstance(fields["body"], str), "body must be a string")
            self.body = fields["body"].encode("utf-8")
        if "body_hex" in fields:
            _require(isinstance(fields["body_hex"], str), "body_hex must be a string")
            try:
                self.body = bytes.fromhex(fields["body_hex"])
            except ValueError as error:
                raise BehaviourError("body_hex: %s" % error) from None

        self.headers = fields.get("headers", {})
        _require(isinstance(self.headers, dict)
                 and all(isinstance(v, (str, int)) and not isinstance(v, bool)
                         for v in self.headers.values()),
                 "headers must be an object of strings")
        self.headers = {str(k): str(v) for k, v in self.headers.items()}

        self.content_length = self._count(fields, "content_length")
        self.omit_content_length = self._flag(fields, "omit_content_length")
        _require(not (self.omit_content_length and self.content_length is not None),
                 "give content_length or omit_content_length, not both")
        self.endless = self._flag(fields, "endless")
        # An endless body has no length of its own to announce.
        if self.endless and self.content_length is None:
            self.omit_content_length = True

        self.delays_headers = "delay_headers_ms" in fields
        self.delay_headers_s = self._millis(fields, "delay_headers_ms", 0)
        self.reset_before_headers = self._flag(fields, "reset_before_headers")
        self.stall_after_bytes = self._count(fields, "stall_after_bytes")
        self.stall_s = self._millis(fields, "stall_ms", DEFAULT_STALL_MS)
        self.close_after_bytes = self._count(fields, "close_after_bytes")
        self.reset_after_bytes = self._count(fields, "reset_after_bytes")
        _require(self.close_after_bytes is None or self.reset_after_bytes is None,
                 "give close_after_bytes or reset_after_bytes, not both")

        self.drip_bytes, self.drip_pause_s = self._drip(fields, "drip")
        self.status_line_drip = self._drip(fields, "drip_status_line")
        self.header_drip = self._drip(fields, "drip_headers")
        self.reason = fields.get("reason")
        _require(self.reason is None or (isinstance(self.reason, str) and self.reason.isprintable()
                                         and self.reason.isascii()),
                 "reason must be a string of printable ASCII")

        self.redirect_to = fields.get("redirect_to")
        _require(self.redirect_to is None or isinstance(self.redirect_to, str),
                 "redirect_to must be a string")

        self.chunk_size = self._count(fields, "chunk_size")
        _require(self.chunk_size is None or self.chunk_size > 0, "chunk_size must be > 0")
        self.refuses_connections = "refuse_connections_ms" in fields
        self.refuse_connections_s = self._millis(fields, "refuse_connections_ms", 0)

        self.held_by = fields.get("held_by")
        if self.held_by is not None:
            _require(_is_file_name(self.held_by), "held_by must be a file name")
            _require(self.delays_headers or self.stall_after_bytes is not None or self.refuses_connections,
                     "held_by needs delay_headers_ms, stall_after_bytes or refuse_connections_ms")
        self.record_sent = fields.get("record_sent")
        _require(self.record_sent is None or _is_file_name(self.record_sent), "record_sent must be a file name")
        # Set by load_behaviour, which knows the folder.
        self.hold_path = None
        self.record_path = None

    @staticmethod
    def _count(fields, name):
        value = fields.get(name)
        _require(value is None or (_is_int(value) and value >= 0),
                 "%s must be a non-negative integer" % name)
        return value

    @staticmethod
    def _flag(fields, name):
        value = fields.get(name, False)
        _require(isinstance(value, bool), "%s must be true or false" % name)
        return value

    @classmethod
    def _drip(cls, fields, name):
        """(bytes, pause in seconds) of a drip field, or (None, 0.0) without it."""
        if name not in fields:
            return None, 0.0
        drip = fields[name]
        _require(isinstance(drip, dict) and set(drip) <= {"bytes", "every_ms"},
                 '%s must be {"bytes": N, "every_ms": T}' % name)
        _require(_is_int(drip.get("bytes")) and drip["bytes"] > 0, "%s.bytes must be > 0" % name)
        return drip["bytes"], cls._millis(drip, "every_ms", 0)

    @staticmethod
    def _millis(fields, name, default_ms):
        value = fields.get(name, default_ms)
        _require(_is_number(value) and value >= 0, "%s must be a non-negative number" % name)
        return value / 1000.0

    @property
    def paced(self):
        return (self.drip_bytes is not None or self.chunk_size is not None or self.endless
                or self.record_sent is not None or self.stall_after_bytes is not None or self.close_after_bytes is not None
                or self.reset_after_bytes is not None)


def load_behaviour(sidecar_path):
    """Reads a sidecar; no file means default behaviour. Raises BehaviourError."""
    try:
        with open(sidecar_path, "rb") as sidecar:
            raw = sidecar.read()
    except FileNotFoundError:
        return Behaviour()
    except IsADirectoryError:
        raise BehaviourError("%s is a directory" % sidecar_path) from None
    try:
        fields = json.loads(raw)
    except ValueError as error:
        raise BehaviourError("%s: %s" % (sidecar_path, error)) from None
    _require(isinstance(fields, dict), "%s must hold a JSON object" % sidecar_path)
    try:
        behaviour = Behaviour(fields)
    except BehaviourError as error:
        raise BehaviourError("%s: %s" % (sidecar_path, error)) from None
    if behaviour.held_by is not None:
        behaviour.hold_path = os.path.join(os.path.dirname(sidecar_path), behaviour.held_by)
    if behaviour.record_sent is not None:
        behaviour.record_path = os.path.join(os.path.dirname(sidecar_path), behaviour.record_sent)
    return behaviour


def make_package_file(path, size, seed=0):
    """Writes `size` bytes of a deterministic pseudo-random pattern; a different seed
    gives different content of the same size (an old and a new package, say)."""
    if size < 0:
        raise ValueError("size must not be negative")
    pattern = memoryview(random.Random(seed).randbytes(PACKAGE_PATTERN_PERIOD))
    with open(path, "wb") as package:
        remaining = size
        while remaining:
            piece = pattern[:min(remaining, len(pattern))]
            package.write(piece)
            remaining -= len(piece)


def _read_package(path):
    with open(path, "rb") as package:
        return package.read()


def _write_atomically(path, text):
    # Handlers of several responses may write records at once.
    temporary = "%s.tmp.%d.%d" % (path, os.getpid(), threading.get_ident())
    with open(temporary, "w", encoding="ascii") as out:
        out.write(text)
    os.replace(temporary, path)


def _wait_while_held(stopping, seconds, hold_path):
    """Waits `seconds`, then while the file at `hold_path` (if any) exists, at most
    HOLD_LIMIT_S more; True when the server is stopping."""
    if stopping.wait(seconds):
        return True
    if hold_path is None:
        return False
    deadline = time.monotonic() + HOLD_LIMIT_S
    while os.path.exists(hold_path) and time.monotonic() < deadline:
        if stopping.wait(0.02):
            return True
    return False


def _unsent_byte_count(sock):
    try:
        raw = fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, struct.pack("i", 0))
    except OSError:
        return 0
    return struct.unpack("i", raw)[0]


def _can_send_now(sock):
    try:
        return bool(select.select([], [sock], [], 0)[1])
    except (OSError, ValueError):
        return False


class _ConnectionGone(Exception):
    """The connection was reset or the server is stopping: nothing more to send."""


class UpdateRequestHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def version_string(self):
        return "SeekwellUpdateServer/1.0"

    def parse_request(self):
        parsed = super().parse_request()
        headers = getattr(self, "headers", None)
        agent = headers.get("User-Agent", "") if parsed and headers is not None else ""
        # The tests' own staging requests are not what the updater asked for.
        if not (parsed and self.command == "POST" and self.path == STAGE_PATH):
            self.server.log_request_line(self.requestline, agent)
        return parsed

    def log_request(self, code="-", size="-"):
        pass

    def log_message(self, format, *args):
        sys.stderr.write("update_server: %s\n" % (format % args))

    def do_GET(self):
        self._respond(include_body=True)

    def do_HEAD(self):
        self._respond(include_body=False)

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        request = self.rfile.read(length) if length > 0 else b""
        if self.path != STAGE_PATH:
            self._send_text(HTTPStatus.NOT_FOUND, "only %s takes a POST\n" % STAGE_PATH, True)
            return
        try:
            version_file = self.server.stage_release(json.loads(request.decode("utf-8")))
        except (ValueError, KeyError, TypeError, publish.PublishError) as error:
            self._send_text(HTTPStatus.BAD_REQUEST, "cannot stage: %s\n" % error, True)
            return
        self.send_response(HTTPStatus.OK)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(version_file)))
        self.end_headers()
        self.wfile.write(version_file)

    def _respond(self, include_body):
        try:
            self._respond_or_raise(include_body)
        except _ConnectionGone:
            self.close_connection = True
        except (BrokenPipeError, ConnectionResetError):
            # The client went away; nothing left to tell it.
            self.close_connection = True

    def _target_path(self):
        """The file the URL names under the root, or None for a path that leaves it."""
        url_path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        segments = [s for s in url_path.split("/") if s]
        if not segments or any(s in (".", "..") or "\0" in s for s in segments):
            return None
        return os.path.join(self.server.root, *segments)

    def _respond_or_raise(self, include_body):
        target = self._target_path()
        try:
            behaviour = load_behaviour(target + SIDECAR_SUFFIX) if target else Behaviour()
        except BehaviourError as error:
            self.log_message("%s", error)
            self._send_text(HTTPStatus.INTERNAL_SERVER_ERROR, "bad sidecar: %s\n" % error,
                            include_body)
            return

        if behaviour.refuses_connections:
            # Before the answer goes out, so that no client can connect again after it.
            self.server.refuse_connections(behaviour.refuse_connections_s, behaviour.hold_path)
            self.close_connection = True
        if behaviour.delays_headers:
            self._pause(behaviour.delay_headers_s, behaviour.hold_path)
        if behaviour.reset_before_headers:
            self._reset_connection()
            return

        body = None
        if behaviour.body is not None:
            body, length = io.BytesIO(behaviour.body), len(behaviour.body)
        elif behaviour.redirect_to is not None:
            body, length = io.BytesIO(b""), 0
        elif target is not None and os.path.isfile(target):
            try:
                body = open(target, "rb")
                length = os.fstat(body.fileno()).st_size
            except OSError:
                # Removed or replaced by a test between the check and the open.
                body = None
        try:
            status = behaviour.status
            if status is None:
                if behaviour.redirect_to is not None:
                    status = HTTPStatus.FOUND
                elif body is not None:
                    status = HTTPStatus.OK
                else:
                    status = HTTPStatus.NOT_FOUND
            if body is None:
                text = "%d %s\n" % (status, self.responses.get(status, ("",))[0])
                body = io.BytesIO(text.encode("ascii"))
                length = len(text)
                content_type = "text/plain"
            else:
                content_type = CONTENT_TYPES.get(
                    os.path.splitext(target or "")[1].lower(), "application/octet-stream")
            self._send_response(status, content_type, body, length, behaviour, include_body)
        finally:
            body.close()

    def _send_response(self, status, content_type, body, length, behaviour, include_body):
        headers = [("Content-Type", content_type)]
        if behaviour.omit_content_length:
            headers.append(("Connection", "close"))
        else:
            announced = behaviour.content_length if behaviour.content_length is not None else length
            headers.append(("Content-Length", str(announced)))
            if behaviour.refuses_connections:
                headers.append(("Connection", "close"))
        if behaviour.redirect_to is not None:
            headers.append(("Location", behaviour.redirect_to))
        for name, value in behaviour.headers.items():
            headers = [(n, v) for n, v in headers if n.lower() != name.lower()]
            headers.append((name, value))

        self.send_response(status, behaviour.reason)
        for name, value in headers:
            self.send_header(name, value)
        self._end_head(behaviour)
        if behaviour.omit_content_length:
            self.close_connection = True
        if not include_body:
            return

        sent = self._send_body(body, length, behaviour)
        if sent is None:
            return
        announced = dict((n.lower(), v) for n, v in headers).get("content-length")
        if announced is None or announced.strip() != str(sent):
            self.close_connection = True

    def _end_head(self, behaviour):
        """Sends the status line and headers, each part dripped when asked."""
        if behaviour.status_line_drip[0] is None and behaviour.header_drip[0] is None:
            self.end_headers()
            return
        self._headers_buffer.append(b"\r\n")
        head = b"".join(self._headers_buffer)
        self._headers_buffer = []
        status_line_end = head.index(b"\r\n") + 2
        self._drip_out(head[:status_line_end], *behaviour.status_line_drip)
        self._drip_out(head[status_line_end:], *behaviour.header_drip)

    def _drip_out(self, data, piece_size, pause_s):
        if piece_size is None:
            self.wfile.write(data)
            return
        for start in range(0, len(data), piece_size):
            if start > 0:
                self._pause(pause_s)
            self.wfile.write(data[start:start + piece_size])

    def _send_body(self, body, length, behaviour):
        """Sends the body as steered; returns the byte count, or None after a reset."""
        if not behaviour.paced and not isinstance(body, io.BytesIO):
            return self.connection.sendfile(body, 0, length) if length else 0

        # Written also when the client goes away mid-body: that is when it matters most.
        counter = [0]
        try:
            return self._send_paced_body(body, length, behaviour, counter)
        finally:
            if behaviour.record_path is not None:
                _write_atomically(behaviour.record_path, "%d\n" % counter[0])

    def _send_paced_body(self, body, length, behaviour, counter):
        """The body in pieces, as steered; counts what was written in counter[0] and,
        now and then, in the record file."""
        end = length
        if behaviour.endless and length > 0:
            end = float("inf")
        if behaviour.close_after_bytes is not None:
            end = min(end, behaviour.close_after_bytes)
        if behaviour.reset_after_bytes is not None:
            end = min(end, behaviour.reset_after_bytes)
        stall_at = behaviour.stall_after_bytes
        piece_size = behaviour.drip_bytes or behaviour.chunk_size or DEFAULT_CHUNK_SIZE
        endless_until = time.monotonic() + ENDLESS_LIMIT_S
        recorded_at = time.monotonic()
        record = behaviour.record_path

        sent = 0
        while True:
            if stall_at is not None and sent == stall_at:
                stall_at = None
                self._pause(behaviour.stall_s, behaviour.hold_path)
            if sent >= end:
                break
            want = min(piece_size, end - sent)
            if stall_at is not None and stall_at > sent:
                want = min(want, stall_at - sent)
            data = body.read(want)
            if record is not None and (time.monotonic() - recorded_at >= RECORD_EVERY_S
                                       or not _can_send_now(self.connection)):
                # Before a write that may wait for a client that stopped reading.
                _write_atomically(record, "%d\n" % sent)
                recorded_at = time.monotonic()
            if not data and behaviour.endless:
                # The body once more from its start.
                if self.server.stopping.is_set() or time.monotonic() >= endless_until:
                    break
                body.seek(0)
                data = body.read(want)
            if not data:
                break
            self.wfile.write(data)
            sent += len(data)
            counter[0] = sent
            if behaviour.drip_bytes is not None and sent < end:
                self._pause(behaviour.drip_pause_s)

        if behaviour.reset_after_bytes is not None:
            self._reset_connection()
            return None
        if behaviour.close_after_bytes is not None or sent != length:
            self.close_connection = True
        return sent

    def _send_text(self, status, text, include_body):
        data = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if include_body:
            self.wfile.write(data)

    def _pause(self, seconds, hold=None):
        if (seconds > 0 or hold is not None) and _wait_while_held(self.server.stopping, seconds, hold):
            raise _ConnectionGone()

    def _reset_connection(self):
        """Closes with an RST (SO_LINGER 0) after what was written has reached the peer."""
        # An RST discards whatever still sits in our send queue; let it drain first so
        # the client really receives the bytes that came before the reset.
        deadline = time.monotonic() + RESET_DRAIN_LIMIT_S
        while _unsent_byte_count(self.connection) and time.monotonic() < deadline:
            if self.server.stopping.wait(0.005):
                break
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True
        # The socket closes only once its reading file object is closed too; the writer
        # holds no reference and stays open for the base class's final flush.
        self.rfile.close()
        self.connection.close()


class UpdateServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    # Stalled handlers must not hold up the exit.
    block_on_close = False
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, port, root, log_path, signing_key=None, freshness_key=None):
        self.root = os.path.abspath(root)
        self.log_path = log_path
        self.signing_key = signing_key
        self.freshness_key = freshness_key or signing_key
        self._other_key = None
        self.other_key_folder = None
        self._stage_lock = threading.Lock()
        self.stopping = threading.Event()
        self._log_lock = threading.Lock()
        self._listening_lock = threading.Lock()
        super().__init__(("127.0.0.1", port), UpdateRequestHandler)

    def start_serving(self):
        threading.Thread(target=self.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()

    def stop_serving(self):
        with self._listening_lock:
            self.shutdown()
            self.server_close()

    def refuse_connections(self, seconds, hold_path=None):
        """Closes the listening socket now and opens it again on the same port after
        `seconds` and, with `hold_path`, once that file is gone."""
        with self._listening_lock:
            self.shutdown()
            self.server_close()

        def listen_again():
            if _wait_while_held(self.stopping, seconds, hold_path):
                return
            with self._listening_lock:
                if self.stopping.is_set():
                    return
                self.socket = socket.socket(self.address_family, self.socket_type)
                self.server_bind()
                self.server_activate()
                self.start_serving()

        threading.Thread(target=listen_again, daemon=True).start()

    def _key_path(self, which):
        if which in ("dev", "freshness"):
            path = self.signing_key if which == "dev" else self.freshness_key
            if not path:
                raise ValueError("the server was started without --signing-key")
            return path
        if which == "other":
            if self._other_key is None:
                self.other_key_folder = tempfile.mkdtemp(prefix="seekwell-other-key-")
                self._other_key = publish.generate_key(self.other_key_folder, "other")[0]
            return self._other_key
        raise ValueError("a key must be \"dev\", \"freshness\" or \"other\"")

    def stage_release(self, request):
        """Publishes a signed release in a served folder; returns the version file."""
        folder = os.path.realpath(os.path.join(self.root, request["folder"]))
        if os.path.commonpath([folder, os.path.realpath(self.root)]) != os.path.realpath(self.root):
            raise ValueError("the folder leaves the served root")
        unknown = sorted(set(request) - STAGE_FIELDS)
        if unknown:
            raise ValueError("unknown field(s): " + ", ".join(unknown))
        os.makedirs(folder, exist_ok=True)
        names = request.get("packages")
        if names is None:
            names = sorted(name for name in os.listdir(folder)
                           if os.path.isfile(os.path.join(folder, name)) and not name.startswith(".")
                           and name != publish.VERSION_FILE and not name.endswith(SIDECAR_SUFFIX))
        paths = [os.path.join(folder, name) for name in names]
        release_key = self._key_path(request.get("key", "dev"))
        freshness_key = self._key_path(request.get("freshness_key", "freshness"))
        now = time.time()
        expiries = {}
        for field, days in (("expires_in_seconds", publish.DEFAULT_EXPIRES_IN_DAYS),
                            ("release_expires_in_seconds", publish.DEFAULT_RELEASE_EXPIRES_IN_DAYS)):
            seconds = request.get(field, days * 86400)
            if not _is_number(seconds):
                raise ValueError("%s must be a number" % field)
            expiries[field] = int(now + seconds)
        expires, release_expires = expiries["expires_in_seconds"], expiries["release_expires_in_seconds"]
        product = request.get("product", publish.DEFAULT_PRODUCT)
        extra_lines = request.get("extra_lines", [])
        form = request.get("form", "two-part")
        if form not in STAGE_FORMS:
            raise ValueError("form must be one of " + ", ".join(STAGE_FORMS))
        with self._stage_lock:
            if form in ("two-part", "freshness-altered"):
                version_file = publish.stage(release_key, request["version"], paths, folder, extra_lines,
                                             freshness_key_path=freshness_key, product=product, expires=expires,
                                             release_expires=release_expires, now=now)
                if form == "two-part":
                    return version_file
                # What a freezing attacker would like: a later expiry under the old signature,
                # as late as the release part allows.
                manifest = publish.parse_manifest(version_file)
                later = publish.format_timestamp(manifest.release_expires).encode("ascii")
                version_file = version_file.replace(b"\nexpires " + publish.format_timestamp(manifest.expires).encode(
                    "ascii") + b"\n", b"\nexpires " + later + b"\n")
            else:
                packages = [(os.path.basename(path), _read_package(path)) for path in paths]
                if form == "single-signature":
                    lines = [request["version"]] + [publish.package_line(*package) for package in packages]
                    body = "".join(line + "\n" for line in lines + extra_lines).encode("utf-8")
                    version_file = body + b"signature " + base64.b64encode(
                        publish.sign(publish.load_private_key(release_key), body)) + b"\n"
                else:
                    lines = list(extra_lines)
                    if form == "expires-in-release-part":
                        lines.append("expires " + publish.format_timestamp(expires))
                    release = publish.release_part(request["version"], product, packages, release_expires, lines)
                    if form == "no-release-expiry":
                        release = release[:release.rindex(b"release-expires ")]
                    # Signed as they are: the tool's own check of the two expiries is what
                    # the holder of the freshness key alone does not run.
                    version_file = publish.two_part_file(release, publish.load_private_key(release_key),
                                                         publish.load_private_key(freshness_key), expires)
            publish.write_atomically(os.path.join(folder, publish.VERSION_FILE), version_file)
            return version_file

    def log_request_line(self, request_line, agent):
        line = "%s | UA: %s\n" % (request_line.replace("\r", "\\r"), agent)
        with self._log_lock:
            if self.log_path is None:
                sys.stderr.write(line)
                sys.stderr.flush()
                return
            # Opened per line so that a test may remove or truncate the log in between.
            with open(self.log_path, "a", encoding="latin-1", errors="backslashreplace") as log:
                log.write(line)
                log.flush()

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


def serve(root, port, port_file, log_path, max_seconds, signing_key=None, freshness_key=None):
    server = UpdateServer(port, root, log_path, signing_key, freshness_key)
    chosen_port = server.server_address[1]
    if port_file:
        _write_atomically(port_file, "%d\n" % chosen_port)
    print(chosen_port, flush=True)

    def request_stop(signum, frame):
        server.stopping.set()

    signal.signal(signal.SIGTERM, request_stop)
    signal.signal(signal.SIGINT, request_stop)
    server.start_serving()

    deadline = time.monotonic() + max_seconds if max_seconds > 0 else None
    while not server.stopping.wait(0.1):
        if deadline is not None and time.monotonic() >= deadline:
            sys.stderr.write("update_server: --max-seconds %g reached, exiting\n" % max_seconds)
            break
    server.stopping.set()
    server.stop_serving()
    if server.other_key_folder:
        shutil.rmtree(server.other_key_folder, ignore_errors=True)
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Local update server for tests, benchmarks and the demo; or, with "
                    "--make-file, a generator of deterministic package files.")
    parser.add_argument("--root", help="folder to serve (URL path = path under it)")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1; 0 = a free one")
    parser.add_argument("--port-file", help="file to receive the chosen port (written atomically)")
    parser.add_argument("--log", help="request log, appended; default standard error")
    parser.add_argument("--max-seconds", type=float, default=0,
                        help="exit by itself after this long; 0 = run until signalled")
    parser.add_argument("--signing-key", help="private key (PEM) for signed releases staged by the tests")
    parser.add_argument("--freshness-key", help="private key (PEM) of their freshness part; default --signing-key")
    parser.add_argument("--make-file", metavar="PATH", help="write a package file and exit")
    parser.add_argument("--size", type=int, help="size in bytes for --make-file")
    parser.add_argument("--seed", type=int, default=0, help="pattern seed for --make-file")
    args = parser.parse_args(argv)

    if args.make_file is not None:
        if args.size is None or args.size < 0:
            parser.error("--make-file needs --size BYTES (>= 0)")
        make_package_file(args.make_file, args.size, args.seed)
        return 0
    if args.root is None:
        parser.error("--root is required to serve")
    if not os.path.isdir(args.root):
        parser.error("--root %s is not a folder" % args.root)
    if not 0 <= args.port <= 65535:
        parser.error("--port must be 0..65535")
    return serve(args.root, args.port, args.port_file, args.log, args.max_seconds, args.signing_key,
                 args.freshness_key)


if __name__ == "__main__":
    sys.exit(main())
