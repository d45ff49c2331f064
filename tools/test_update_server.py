"""Tests of the local update server, run against it as a subprocess on a free port."""

import base64
import hashlib
import http.client
import json
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import publish
import update_server

SERVER_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "update_server.py")
STORE = "store/q7k2m9x4/Quorvel30"
VERSION_PATH = "/" + STORE + "/version.txt"
PACKAGE_PATH = "/" + STORE + "/QuorvelUpdate.exe"


class ServerProcess:
    """The server started on port 0 over a root folder, with a safety time limit."""

    def __init__(self, root, log_path, port_file, max_seconds=60, extra=()):
        self.process = subprocess.Popen(
            [sys.executable, SERVER_SCRIPT, "--root", root, "--log", log_path,
             "--port-file", port_file, "--max-seconds", str(max_seconds)] + list(extra),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], 10)
        if not ready:
            self.stop()
            raise RuntimeError("server printed no port")
        self.port = int(self.process.stdout.readline())

    def connection(self, timeout=10):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()


def raw_exchange(port, request, timeout=10):
    """Sends raw request bytes; returns (bytes received, error raised while reading)."""
    received = bytearray()
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        sock.sendall(request)
        try:
            while True:
                data = sock.recv(65536)
                if not data:
                    return bytes(received), None
                received += data
        except OSError as error:
            return bytes(received), error


def split_response(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    return head.decode("latin-1"), body


def get_request(path, agent="GetURL", method="GET"):
    return ("%s %s HTTP/1.1\r\nHost: updates.brannick.example\r\nUser-Agent: %s\r\n"
            "Connection: close\r\n\r\n" % (method, path, agent)).encode("ascii")


class ServerTestCase(unittest.TestCase):
    """One server for the class; every test writes its own files and sidecars."""

    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory(prefix="update-server-test-")
        cls.root = os.path.join(cls.temp.name, "root")
        cls.log_path = os.path.join(cls.temp.name, "requests.log")
        cls.port_file = os.path.join(cls.temp.name, "port")
        os.makedirs(os.path.join(cls.root, STORE))
        cls.signing_key, cls.public_key = publish.generate_key(cls.temp.name, "dev")
        cls.freshness_key, cls.freshness_public_key = publish.generate_key(cls.temp.name, "dev-freshness")
        cls.server = ServerProcess(cls.root, cls.log_path, cls.port_file,
                                   extra=["--signing-key", cls.signing_key, "--freshness-key", cls.freshness_key])

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.temp.cleanup()

    def setUp(self):
        for name in os.listdir(os.path.join(self.root, STORE)):
            # A response of an earlier test may still be ending and replace its record.
            try:
                os.remove(os.path.join(self.root, STORE, name))
            except FileNotFoundError:
                pass

    def put(self, url_path, data):
        path = os.path.join(self.root, url_path.lstrip("/"))
        with open(path, "wb") as out:
            out.write(data)
        return path

    def steer(self, url_path, **fields):
        self.put(url_path + update_server.SIDECAR_SUFFIX, json.dumps(fields).encode("ascii"))

    def get(self, path, method="GET", headers=None):
        connection = self.server.connection()
        try:
            connection.request(method, path, headers=headers or {})
            response = connection.getresponse()
            return response, response.read()
        finally:
            connection.close()

    def log_lines(self):
        with open(self.log_path, encoding="latin-1") as log:
            return log.read().splitlines()


class ServingTest(ServerTestCase):
    def test_stage_control_publishes_signed_releases_unlogged(self):
        self.put(PACKAGE_PATH, b"package bytes")
        open(self.log_path, "w").close()

        def stage(**request):
            connection = self.server.connection()
            try:
                connection.request("POST", update_server.STAGE_PATH, body=json.dumps(request))
                response = connection.getresponse()
                return response.status, response.read()
            finally:
                connection.close()

        folder = os.path.join(self.root, STORE)
        dev = [publish.load_public_key(self.public_key)]
        fresh = [publish.load_public_key(self.freshness_public_key)]
        status, body = stage(folder=STORE, version="3.0.1.3", extra_lines=["notes"])
        self.assertEqual(200, status, body)
        self.assertTrue(body.startswith(b"3.0.1.3\nproduct Quorvel30\npackage QuorvelUpdate.exe 13 "))
        with open(os.path.join(folder, publish.VERSION_FILE), "rb") as served:
            self.assertEqual(body, served.read())
        self.assertEqual([], publish.verify(folder, dev, "QuorvelUpdate.exe", freshness_keys=fresh))
        manifest = publish.parse_manifest(body)
        self.assertLess(abs(manifest.expires - (time.time() + 7 * 86400)), 60)
        self.assertLess(abs(manifest.release_expires - (time.time() + 365 * 86400)), 60)

        # The files the updater must refuse, each named by the vendor's own check.
        freshness_fault = "the signature does not verify under any of the freshness keys given"
        rows = [
            (dict(key="other"), ["the release signature does not verify under any of the release keys given"]),
            (dict(key="freshness"), ["the release signature does not verify under any of the release keys given"]),
            (dict(freshness_key="dev"), [freshness_fault]),
            (dict(expires_in_seconds=3600), []),
            (dict(expires_in_seconds=-60), ["the file expired at"]),
            (dict(product="Quorvel31"), ["the product is Quorvel31, not Quorvel30"]),
            (dict(form="freshness-altered"), [freshness_fault]),
            (dict(form="expires-in-release-part"), ["version.txt is not well formed: MisplacedLine"]),
            (dict(form="single-signature"), ["version.txt is not well formed: NoReleaseSignature"]),
            (dict(form="no-release-expiry"), ["version.txt is not well formed: NoReleaseExpiry"]),
            (dict(release_expires_in_seconds=-30 * 86400, expires_in_seconds=-31 * 86400),
             ["the file expired at", "the release part expired at"]),
            (dict(form="freshness-beyond-release", release_expires_in_seconds=-30 * 86400,
                  expires_in_seconds=365 * 86400), ["version.txt is not well formed: FreshnessBeyondRelease"]),
            (dict(form="freshness-beyond-release", release_expires_in_seconds=7200, expires_in_seconds=3600), []),
        ]
        for options, faults in rows:
            with self.subTest(**options):
                status, body = stage(folder=STORE, version="3.0.1.3", **options)
                self.assertEqual(200, status, body)
                found = publish.verify(folder, dev, "QuorvelUpdate.exe", freshness_keys=fresh)
                self.assertEqual(len(faults), len(found), found)
                for fault, text in zip(faults, found):
                    self.assertTrue(text.startswith(fault), found)
        single = stage(folder=STORE, version="3.0.1.3", form="single-signature", extra_lines=["notes"])[1]
        self.assertTrue(single.startswith(b"3.0.1.3\npackage QuorvelUpdate.exe 13 "))
        signed, _, signature = single.rpartition(b"signature ")
        self.assertTrue(signed.endswith(b"\nnotes\n"))
        self.assertTrue(publish.signed_by_one_of(dev, base64.b64decode(signature), signed))
        altered = publish.parse_manifest(stage(folder=STORE, version="3.0.1.3", form="freshness-altered")[1])
        self.assertGreater(altered.expires, time.time() + 300 * 86400)
        for request in (dict(folder=STORE, version="3.0.10.3"), dict(folder="../..", version="3.0.1.3"),
                        dict(folder=STORE, version="3.0.1.3", key="stolen"), dict(version="3.0.1.3"),
                        dict(folder=STORE, version="3.0.1.3", form="other"),
                        dict(folder=STORE, version="3.0.1.3", expire_in_seconds=5),
                        dict(folder=STORE, version="3.0.1.3", expires_in_seconds="soon"),
                        dict(folder=STORE, version="3.0.1.3", release_expires_in_seconds=None),
                        # The vendor's tool signs no freshness expiry past the release's.
                        dict(folder=STORE, version="3.0.1.3", expires_in_seconds=7200,
                             release_expires_in_seconds=3600)):
            status, body = stage(**request)
            self.assertEqual(400, status, request)
            self.assertIn(b"cannot stage", body)
        self.assertEqual([], self.log_lines())

    def test_port_file_holds_the_printed_port(self):
        with open(self.port_file) as port_file:
            self.assertEqual(int(port_file.read()), self.server.port)

    def test_listens_on_127_0_0_1_only(self):
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.2", self.server.port), timeout=2).close()

    def test_file_is_served_byte_identical(self):
        package = self.put(PACKAGE_PATH, b"")
        update_server.make_package_file(package, 3 * 1024 * 1024 + 5)
        with open(package, "rb") as source:
            expected = source.read()
        response, body = self.get(PACKAGE_PATH)
        self.assertEqual(response.status, 200)
        self.assertEqual(response.getheader("Content-Length"), str(len(expected)))
        self.assertEqual(response.getheader("Content-Type"), "application/octet-stream")
        self.assertEqual(body, expected)

    def test_responses_by_file_and_sidecar(self):
        rows = [
            # edge, file content or None, sidecar or None, status, body
            ("plain version file", b"3.0.1.5\r\n", None, 200, b"3.0.1.5\r\n"),
            ("empty file", b"", None, 200, b""),
            ("no file, no sidecar", None, None, 404, b"404 Not Found\n"),
            ("sidecar body alone", None, {"body": "3.1"}, 200, b"3.1"),
            ("sidecar body over file", b"3.0.1.5", {"body": "9.9.9.9"}, 200, b"9.9.9.9"),
            ("hex body with NULs", None, {"body_hex": "33 00 2e 00 31"}, 200, b"3\x00.\x001"),
            ("error page", None, {"status": 500, "body": "<h1>oops</h1>"}, 500,
             b"<h1>oops</h1>"),
            ("status on existing file", b"3.0.1.5", {"status": 404}, 404, b"3.0.1.5"),
            ("status, nothing to send", None, {"status": 503}, 503,
             b"503 Service Unavailable\n"),
            ("misspelt field", b"3.0.1.5", {"stall_after_byte": 1}, 500, None),
            ("two bodies", None, {"body": "1", "body_hex": "31"}, 500, None),
            ("wrong type", None, {"drip": {"bytes": 0}}, 500, None),
            ("held_by without a pause", b"3.0.1.5", {"held_by": ".hold"}, 500, None),
            ("held_by naming another folder", b"3.0.1.5", {"held_by": "../x", "stall_after_bytes": 1}, 500,
             None),
            ("record_sent naming another folder", b"3.0.1.5", {"record_sent": "../sent"}, 500, None),
            ("endless as a string", b"3.0.1.5", {"endless": "yes"}, 500, None),
            ("status line drip of no bytes", b"3.0.1.5", {"drip_status_line": {"bytes": 0}}, 500, None),
            ("header drip with a stray field", b"3.0.1.5", {"drip_headers": {"bytes": 1, "every": 5}}, 500,
             None),
            ("reason with a line end", b"3.0.1.5", {"reason": "OK\r\nX-Injected: 1"}, 500, None),
        ]
        for edge, content, sidecar, status, expected_body in rows:
            with self.subTest(edge):
                self.setUp()
                if content is not None:
                    self.put(VERSION_PATH, content)
                if sidecar is not None:
                    self.steer(VERSION_PATH, **sidecar)
                response, body = self.get(VERSION_PATH)
                self.assertEqual(response.status, status)
                if expected_body is None:
                    self.assertIn(b"bad sidecar", body)
                else:
                    self.assertEqual(body, expected_body)

    def test_sidecar_is_read_afresh_on_every_request(self):
        self.put(VERSION_PATH, b"3.0.1.5")
        self.assertEqual(self.get(VERSION_PATH)[1], b"3.0.1.5")
        self.steer(VERSION_PATH, body="3.0.1.6")
        self.assertEqual(self.get(VERSION_PATH)[1], b"3.0.1.6")
        os.remove(os.path.join(self.root, VERSION_PATH.lstrip("/") + update_server.SIDECAR_SUFFIX))
        self.assertEqual(self.get(VERSION_PATH)[1], b"3.0.1.5")

    def test_headers_redirect_and_head(self):
        self.steer(VERSION_PATH, body="3.1", headers={"X-Test": "yes", "Content-Type": "x/y"})
        response, _ = self.get(VERSION_PATH)
        self.assertEqual(response.getheader("X-Test"), "yes")
        self.assertEqual(response.getheader("Content-Type"), "x/y")

        self.steer(PACKAGE_PATH, redirect_to="http://elsewhere.example/p.exe", status=301)
        response, body = self.get(PACKAGE_PATH)
        self.assertEqual((response.status, body), (301, b""))
        self.assertEqual(response.getheader("Location"), "http://elsewhere.example/p.exe")

        self.put(PACKAGE_PATH + update_server.SIDECAR_SUFFIX, b"{}")
        self.put(PACKAGE_PATH, b"x" * 1234)
        response, body = self.get(PACKAGE_PATH, method="HEAD")
        self.assertEqual((response.status, response.getheader("Content-Length"), body),
                         (200, "1234", b""))

    def test_keep_alive_serves_several_requests_on_one_connection(self):
        self.put(VERSION_PATH, b"3.0.1.5")
        connection = self.server.connection()
        try:
            for _ in range(3):
                connection.request("GET", VERSION_PATH)
                self.assertEqual(connection.getresponse().read(), b"3.0.1.5")
        finally:
            connection.close()

    def test_paths_outside_the_root_are_not_served(self):
        secret = os.path.join(self.temp.name, "secret.txt")
        with open(secret, "wb") as out:
            out.write(b"secret")
        for path in ["/../secret.txt", "/store/../../secret.txt", "/%2e%2e/secret.txt", "/"]:
            with self.subTest(path):
                raw, _ = raw_exchange(self.server.port, get_request(path))
                head, body = split_response(raw)
                self.assertTrue(head.startswith("HTTP/1.1 404"), head)
                self.assertNotIn(b"secret", body)


class RequestLogTest(ServerTestCase):
    def test_log_line_holds_the_request_line_and_agent(self):
        self.put(VERSION_PATH, b"3.0.1.5")
        self.get(VERSION_PATH, headers={"User-Agent": "GetURL"})
        self.assertEqual(self.log_lines()[-1],
                         "GET %s HTTP/1.1 | UA: GetURL" % VERSION_PATH)

    def test_absolute_url_of_a_proxy_request_is_served_and_logged(self):
        self.put(VERSION_PATH, b"3.0.1.5")
        url = "http://updates.brannick.example:80" + VERSION_PATH
        raw, error = raw_exchange(self.server.port, get_request(url))
        self.assertIsNone(error)
        head, body = split_response(raw)
        self.assertTrue(head.startswith("HTTP/1.1 200"), head)
        self.assertEqual(body, b"3.0.1.5")
        self.assertEqual(self.log_lines()[-1], "GET %s HTTP/1.1 | UA: GetURL" % url)

    def test_request_without_agent_and_head_request_are_logged(self):
        raw_exchange(self.server.port, b"HEAD /x?y=1 HTTP/1.1\r\nConnection: close\r\n\r\n")
        self.assertEqual(self.log_lines()[-1], "HEAD /x?y=1 HTTP/1.1 | UA: ")


class ShortAndBrokenBodyTest(ServerTestCase):
    def setUp(self):
        super().setUp()
        self.put(PACKAGE_PATH, bytes(range(256)) * 40)

    def test_announced_length_larger_than_the_body(self):
        self.steer(PACKAGE_PATH, content_length=2 * 1024 ** 3, body="short")
        raw, error = raw_exchange(self.server.port, get_request(PACKAGE_PATH))
        head, body = split_response(raw)
        self.assertIsNone(error)
        self.assertIn("Content-Length: 2147483648", head)
        self.assertEqual(body, b"short")

    def test_close_after_bytes_gives_a_short_read(self):
        self.steer(PACKAGE_PATH, close_after_bytes=1000, chunk_size=300)
        connection = self.server.connection()
        try:
            connection.request("GET", PACKAGE_PATH)
            response = connection.getresponse()
            self.assertEqual(response.getheader("Content-Length"), "10240")
            with self.assertRaises(http.client.IncompleteRead) as caught:
                response.read()
            self.assertEqual(caught.exception.partial, (bytes(range(256)) * 4)[:1000])
        finally:
            connection.close()

    def test_missing_content_length_ends_at_close(self):
        self.steer(PACKAGE_PATH, omit_content_length=True)
        raw, error = raw_exchange(self.server.port, get_request(PACKAGE_PATH))
        head, body = split_response(raw)
        self.assertIsNone(error)
        self.assertNotIn("Content-Length", head)
        self.assertIn("Connection: close", head)
        self.assertEqual(body, bytes(range(256)) * 40)

    def test_reset_after_bytes_delivers_them_then_resets(self):
        self.steer(PACKAGE_PATH, reset_after_bytes=3000)
        raw, error = raw_exchange(self.server.port, get_request(PACKAGE_PATH))
        _, body = split_response(raw)
        self.assertIsInstance(error, ConnectionResetError)
        self.assertEqual(body, (bytes(range(256)) * 12)[:3000])

    def test_reset_before_headers_sends_nothing(self):
        self.steer(PACKAGE_PATH, reset_before_headers=True)
        raw, error = raw_exchange(self.server.port, get_request(PACKAGE_PATH))
        self.assertEqual(raw, b"")
        self.assertIsInstance(error, ConnectionResetError)


class EndlessBodyTest(ServerTestCase):
    """A body that never ends, and the count of what went out before the client stopped."""

    BODY = bytes(range(256)) * 40

    def setUp(self):
        super().setUp()
        self.put(PACKAGE_PATH, self.BODY)
        self.record = os.path.join(self.root, STORE, ".sent")

    def read_then_hang_up(self, wanted):
        """Reads the head and `wanted` body bytes, then closes; returns (head, body)."""
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as sock:
            sock.sendall(get_request(PACKAGE_PATH))
            received = b""
            while b"\r\n\r\n" not in received or len(split_response(received)[1]) < wanted:
                data = sock.recv(65536)
                self.assertTrue(data, "the body ended")
                received += data
        return split_response(received)

    def recorded_count(self, name=".sent"):
        path = os.path.join(self.root, STORE, name)
        deadline = time.monotonic() + 10
        while not os.path.exists(path):
            self.assertLess(time.monotonic(), deadline, "nothing recorded")
            time.sleep(0.02)
        with open(path) as record:
            return int(record.read())

    def test_endless_body_repeats_without_length_until_the_client_goes(self):
        self.steer(PACKAGE_PATH, endless=True, chunk_size=4096, record_sent=".sent")
        head, body = self.read_then_hang_up(5 * len(self.BODY))
        self.assertNotIn("Content-Length", head)
        self.assertIn("Connection: close", head)
        whole = len(body) // len(self.BODY) * len(self.BODY)
        self.assertEqual(body[:whole], self.BODY * (whole // len(self.BODY)))
        # The server noticed the client had gone, and went on serving others.
        self.assertGreaterEqual(self.recorded_count(), 5 * len(self.BODY))
        self.assertEqual(self.get(VERSION_PATH)[0].status, 404)

    def test_endless_body_under_an_announced_length(self):
        for announced in [4 * 1024 ** 3 - 1, len(self.BODY)]:
            with self.subTest(announced=announced):
                self.steer(PACKAGE_PATH, endless=True, content_length=announced)
                head, body = self.read_then_hang_up(3 * len(self.BODY))
                self.assertIn("Content-Length: %d" % announced, head)
                self.assertEqual(body[:3 * len(self.BODY)], self.BODY * 3)

    def test_record_of_a_client_that_stopped_reading_but_holds_on(self):
        # A record of its own: the response goes on ending after the test.
        self.steer(PACKAGE_PATH, endless=True, record_sent=".sent-held")
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as sock:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
            sock.sendall(get_request(PACKAGE_PATH))
            self.assertTrue(sock.recv(65536))
            # The server's writes now wait; its count stands still, a few buffers' worth.
            time.sleep(0.5)
            first = self.recorded_count(".sent-held")
            time.sleep(0.3)
            self.assertEqual(self.recorded_count(".sent-held"), first)
            self.assertGreater(first, 0)
            self.assertLess(first, 32 * 1024 * 1024)

    def test_record_of_a_whole_and_a_cut_body(self):
        for sidecar, count in [({}, len(self.BODY)), ({"close_after_bytes": 1000}, 1000),
                               ({"reset_after_bytes": 3000}, 3000)]:
            with self.subTest(sidecar=sidecar):
                if os.path.exists(self.record):
                    os.remove(self.record)
                self.steer(PACKAGE_PATH, record_sent=".sent", **sidecar)
                raw_exchange(self.server.port, get_request(PACKAGE_PATH))
                self.assertEqual(self.recorded_count(), count)


class TimingTest(ServerTestCase):
    def test_delay_before_headers(self):
        self.steer(VERSION_PATH, body="3.1", delay_headers_ms=400)
        started = time.monotonic()
        response, body = self.get(VERSION_PATH)
        elapsed = time.monotonic() - started
        self.assertEqual(body, b"3.1")
        self.assertGreaterEqual(elapsed, 0.39)
        self.assertLess(elapsed, 3)

    def test_drip_sends_pieces_apart(self):
        self.steer(VERSION_PATH, body="0123456789abcdefghij", drip={"bytes": 5, "every_ms": 150})
        arrivals = []
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=5) as sock:
            sock.sendall(get_request(VERSION_PATH))
            received = b""
            while True:
                data = sock.recv(65536)
                if not data:
                    break
                received += data
                arrivals.append(time.monotonic())
        self.assertTrue(received.endswith(b"\r\n\r\n0123456789abcdefghij"))
        # Four pieces, three pauses between the first and the last.
        self.assertGreaterEqual(arrivals[-1] - arrivals[0], 0.44)
        self.assertLess(arrivals[-1] - arrivals[0], 3)

    def test_status_line_and_headers_drip_apart_each_as_asked(self):
        reason = "OK" + "." * 30
        rows = [
            # edge, sidecar, the part that arrives at once, the part that drips
            ("status line", {"drip_status_line": {"bytes": 4, "every_ms": 40}}, b"", b"HTTP/1.1 200 " + reason.encode()),
            ("headers", {"drip_headers": {"bytes": 8, "every_ms": 40}}, b"HTTP/1.1 200 " + reason.encode() + b"\r\n",
             b"Server:"),
        ]
        for edge, sidecar, at_once, dripped in rows:
            with self.subTest(edge):
                self.steer(VERSION_PATH, body="3.0.1.5", reason=reason,
                           headers={"X-Padding": "p" * 40}, **sidecar)
                arrivals = []
                with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as sock:
                    sock.sendall(get_request(VERSION_PATH))
                    received = b""
                    while True:
                        data = sock.recv(65536)
                        if not data:
                            break
                        arrivals.append((time.monotonic(), len(received) + len(data)))
                        received += data
                head, body = split_response(received)
                self.assertEqual(body, b"3.0.1.5")
                self.assertTrue(head.startswith("HTTP/1.1 200 %s\r\n" % reason))
                self.assertIn("X-Padding: " + "p" * 40, head)
                # The part before the drip comes in one piece; the dripped part in many,
                # spread over the pauses between them.
                self.assertTrue(received.startswith(at_once + dripped))
                first_time, first_size = arrivals[0]
                self.assertLessEqual(first_size, len(at_once) + 8)
                head_end = received.index(b"\r\n\r\n") + 4
                pieces = [t for t, size in arrivals if size <= head_end]
                self.assertGreaterEqual(len(pieces), 4)
                self.assertGreaterEqual(pieces[-1] - first_time, 3 * 0.04)

    def test_dripped_status_line_ends_with_the_server(self):
        # A stop mid-drip must not hold the server: SIGTERM ends it while the drip goes on.
        temp = tempfile.TemporaryDirectory(prefix="update-server-drip-")
        try:
            os.makedirs(os.path.join(temp.name, STORE))
            with open(os.path.join(temp.name, STORE, "version.txt.behave.json"), "w") as sidecar:
                json.dump({"reason": "O" * 100, "drip_status_line": {"bytes": 1, "every_ms": 500}}, sidecar)
            server = ServerProcess(temp.name, os.path.join(temp.name, "log"), os.path.join(temp.name, "port"))
            try:
                with socket.create_connection(("127.0.0.1", server.port), timeout=10) as sock:
                    sock.sendall(get_request(VERSION_PATH))
                    self.assertEqual(sock.recv(1), b"H")
                    started = time.monotonic()
                    server.process.send_signal(signal.SIGTERM)
                    self.assertEqual(server.process.wait(5), 0)
                    self.assertLess(time.monotonic() - started, 3)
            finally:
                server.stop()
        finally:
            temp.cleanup()

    def test_stall_ends_and_the_body_goes_on(self):
        self.steer(VERSION_PATH, body="3.0.1.5 notes", stall_after_bytes=7, stall_ms=300)
        started = time.monotonic()
        response, body = self.get(VERSION_PATH)
        self.assertEqual(body, b"3.0.1.5 notes")
        self.assertGreaterEqual(time.monotonic() - started, 0.29)


    def test_held_stall_goes_on_once_its_file_is_removed(self):
        hold = self.put("/%s/.hold" % STORE, b"")
        self.steer(VERSION_PATH, body="3.0.1.5 notes", stall_after_bytes=7, stall_ms=0, held_by=".hold")
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as sock:
            sock.sendall(get_request(VERSION_PATH))
            received = b""
            while not received.endswith(b"3.0.1.5"):
                received += sock.recv(65536)
            sock.settimeout(0.3)
            with self.assertRaises(socket.timeout):
                sock.recv(65536)
            os.remove(hold)
            sock.settimeout(10)
            while data := sock.recv(65536):
                received += data
        self.assertTrue(received.endswith(b"\r\n\r\n3.0.1.5 notes"), received)


class LifetimeTest(unittest.TestCase):
    def setUp(self):
        temp = tempfile.TemporaryDirectory(prefix="update-server-test-")
        self.addCleanup(temp.cleanup)
        self.root = os.path.join(temp.name, "root")
        os.makedirs(os.path.join(self.root, STORE))
        self.log_path = os.path.join(temp.name, "requests.log")
        self.port_file = os.path.join(temp.name, "port")

    def start(self, max_seconds=60):
        server = ServerProcess(self.root, self.log_path, self.port_file, max_seconds)
        self.addCleanup(server.stop)
        return server

    def test_sigterm_ends_a_stalled_transfer_and_the_process(self):
        update_server.make_package_file(os.path.join(self.root, STORE, "QuorvelUpdate.exe"), 100000)
        with open(os.path.join(self.root, STORE, "QuorvelUpdate.exe.behave.json"), "w") as out:
            json.dump({"stall_after_bytes": 10}, out)
        server = self.start()
        with socket.create_connection(("127.0.0.1", server.port), timeout=5) as sock:
            sock.sendall(get_request(PACKAGE_PATH))
            received = b""
            while b"\r\n\r\n" not in received or len(split_response(received)[1]) < 10:
                received += sock.recv(65536)
            sock.settimeout(0.3)
            with self.assertRaises(socket.timeout):
                sock.recv(65536)
            started = time.monotonic()
            server.process.send_signal(signal.SIGTERM)
            self.assertEqual(server.process.wait(5), 0)
            self.assertLess(time.monotonic() - started, 2)
            self.assertEqual(len(split_response(received)[1]), 10)

    def test_max_seconds_ends_the_process_by_itself(self):
        server = self.start(max_seconds=0.5)
        self.assertEqual(server.process.wait(5), 0)

    def test_refusing_connections_after_an_answer_and_listening_again(self):
        with open(os.path.join(self.root, STORE, "version.txt"), "wb") as out:
            out.write(b"3.0.1.5\r\n")
        with open(os.path.join(self.root, STORE, "version.txt.behave.json"), "w") as out:
            json.dump({"refuse_connections_ms": 1000}, out)
        server = self.start()
        connection = server.connection()
        connection.request("GET", VERSION_PATH)
        response = connection.getresponse()
        self.assertEqual((200, b"3.0.1.5\r\n"), (response.status, response.read()))
        self.assertEqual(("9", "close"), (response.getheader("Content-Length"), response.getheader("Connection")))
        connection.close()
        answered = time.monotonic()
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", server.port), timeout=5).close()
        os.remove(os.path.join(self.root, STORE, "version.txt.behave.json"))
        while True:
            try:
                raw, _ = raw_exchange(server.port, get_request(VERSION_PATH))
                break
            except ConnectionRefusedError:
                self.assertLess(time.monotonic() - answered, 3)
                time.sleep(0.05)
        self.assertGreater(time.monotonic() - answered, 0.9)
        self.assertEqual(b"3.0.1.5\r\n", split_response(raw)[1])
        # Stopping while refusing ends the process at once too.
        server.process.send_signal(signal.SIGTERM)
        self.assertEqual(server.process.wait(5), 0)

    def test_held_refusal_lasts_until_its_file_is_removed(self):
        folder = os.path.join(self.root, STORE)
        sidecar = json.dumps({"refuse_connections_ms": 0, "held_by": ".hold"})
        for name, text in (("version.txt", "3.0.1.5\r\n"), (".hold", ""), ("version.txt.behave.json", sidecar)):
            with open(os.path.join(folder, name), "w") as out:
                out.write(text)
        server = self.start()
        raw, _ = raw_exchange(server.port, get_request(VERSION_PATH))
        self.assertEqual(b"3.0.1.5\r\n", split_response(raw)[1])
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", server.port), timeout=5).close()
        os.remove(os.path.join(folder, "version.txt.behave.json"))
        os.remove(os.path.join(folder, ".hold"))
        deadline = time.monotonic() + 30
        while True:
            try:
                raw, _ = raw_exchange(server.port, get_request(VERSION_PATH))
                break
            except ConnectionRefusedError:
                self.assertLess(time.monotonic(), deadline, "still refusing after the hold was removed")
                time.sleep(0.02)
        self.assertEqual(b"3.0.1.5\r\n", split_response(raw)[1])

    def test_large_file_is_streamed_without_holding_it_in_memory(self):
        size = 50 * 1024 * 1024
        package = os.path.join(self.root, STORE, "QuorvelUpdate.exe")
        update_server.make_package_file(package, size)
        with open(package, "rb") as source:
            expected = hashlib.sha256(source.read()).hexdigest()
        server = self.start()
        for sidecar in [None, {"chunk_size": 65536}]:
            with self.subTest(sidecar=sidecar):
                if sidecar is not None:
                    with open(package + update_server.SIDECAR_SUFFIX, "w") as out:
                        json.dump(sidecar, out)
                connection = server.connection()
                connection.request("GET", PACKAGE_PATH)
                response = connection.getresponse()
                digest = hashlib.sha256()
                received = 0
                while data := response.read(1024 * 1024):
                    digest.update(data)
                    received += len(data)
                connection.close()
                self.assertEqual((received, digest.hexdigest()), (size, expected))
        with open("/proc/%d/status" % server.process.pid) as status:
            peak_kib = next(int(line.split()[1]) for line in status if line.startswith("VmHWM"))
        self.assertLess(peak_kib, 40 * 1024)


class PackageFileTest(unittest.TestCase):
    def test_sizes_and_determinism(self):
        with tempfile.TemporaryDirectory() as temp:
            def make(size, seed=0):
                path = os.path.join(temp, "p%d-%d" % (size, seed))
                update_server.make_package_file(path, size, seed)
                with open(path, "rb") as made:
                    return made.read()

            period = update_server.PACKAGE_PATTERN_PERIOD
            for size in [0, 1, period - 1, period, period + 1, 2 * period + 3]:
                with self.subTest(size=size):
                    self.assertEqual(len(make(size)), size)
            self.assertEqual(make(1000), make(period + 1)[:1000])
            self.assertNotEqual(make(1000, seed=1), make(1000, seed=0))
            longer = make(2 * period + 3)
            self.assertEqual(longer[period:period + 1000], longer[:1000])

    def test_command_line_generator(self):
        with tempfile.TemporaryDirectory() as temp:
            path = os.path.join(temp, "QuorvelUpdate.exe")
            subprocess.run([sys.executable, SERVER_SCRIPT, "--make-file", path,
                            "--size", "12345", "--seed", "7"], check=True)
            reference = os.path.join(temp, "reference")
            update_server.make_package_file(reference, 12345, seed=7)
            with open(path, "rb") as made, open(reference, "rb") as expected:
                self.assertEqual(made.read(), expected.read())


if __name__ == "__main__":
    unittest.main()
