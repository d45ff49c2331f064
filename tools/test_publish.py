"""Tests of the vendor's publishing tool: staging, refreshing, verifying, its reader's
agreement with the updater's on the shared vectors, and agreement with openssl."""

import base64
import datetime
import hashlib
import os
import re
import shutil
import stat
import subprocess
import tempfile
import time
import unittest
from unittest import mock

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization

import authenticode
import publish

VECTORS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "vectors", "manifests.txt")
PLACEHOLDERS = {b"{SHA}": b"a" * 64, b"{SHA2}": b"0123456789abcdef" * 4, b"{SIG}": b"AAEC"}
ESCAPE = re.compile(rb"\\(?:x([0-9A-Fa-f]{2})|(.))|\{SHA2?\}|\{SIG\}")


def vector_bytes(text):
    def replace(match):
        if match.group(0) in PLACEHOLDERS:
            return PLACEHOLDERS[match.group(0)]
        if match.group(1) is not None:
            return bytes.fromhex(match.group(1).decode())
        return {b"n": b"\n", b"r": b"\r", b"t": b"\t", b"\\": b"\\"}[match.group(2)]
    return ESCAPE.sub(replace, text)


class ManifestVectorsTest(unittest.TestCase):
    """The tool's reader against the rows the updater's reader is tested with."""

    def test_every_row_reaches_the_updaters_verdict(self):
        with open(VECTORS, "rb") as vectors:
            rows = [line.rstrip(b"\n").split(b"\t") for line in vectors if line.strip() and not line.startswith(b"#")]
        self.assertGreater(len(rows), 50)
        names = {value for name, value in vars(publish.Verdict).items() if name.isupper()}
        for row in rows:
            verdict, what, data = row[0].decode(), row[1].decode(), vector_bytes(row[2])
            with self.subTest(what):
                self.assertIn(verdict, names)
                manifest = publish.parse_manifest(data)
                self.assertEqual(verdict, manifest.verdict)
                if verdict not in (publish.Verdict.VALID, publish.Verdict.FRESHNESS_BEYOND_RELEASE):
                    continue
                held = dict(field.split("=") for field in row[3].decode().split(" "))
                self.assertEqual(held["product"], manifest.product)
                self.assertEqual(int(held["release-expires"]), manifest.release_expires)
                self.assertEqual(int(held["expires"]), manifest.expires)
                self.assertEqual(int(held["packages"]), len(manifest.packages))
                self.assertEqual(b"AAEC", base64.b64encode(manifest.signature))
                self.assertTrue(data.startswith(manifest.signed_part + b"signature "))
                self.assertTrue(manifest.signed_part.startswith(manifest.release_part + b"release-signature "))

    def test_size_limit_and_the_parts_each_signature_covers(self):
        valid = (b"3.0.1.3\r\nproduct Quorvel30\r\nrelease-expires 2027-12-23T00:00:00Z\r\nrelease-signature AAEC\r\n"
                 b"expires 2026-12-23T00:00:00Z\r\nsignature AAEC")
        padded = valid[:8] + b"notes " + b"x" * (publish.MAX_VERSION_FILE_BYTES - len(valid) - 8) + b"\r\n" + valid[8:]
        self.assertEqual(publish.MAX_VERSION_FILE_BYTES, len(padded))
        self.assertEqual(publish.Verdict.VALID, publish.parse_manifest(padded).verdict)
        self.assertEqual(publish.Verdict.TOO_LARGE, publish.parse_manifest(padded + b"\n").verdict)
        manifest = publish.parse_manifest(valid)
        self.assertEqual(b"3.0.1.3\r\nproduct Quorvel30\r\nrelease-expires 2027-12-23T00:00:00Z\r\n",
                         manifest.release_part)
        self.assertEqual(valid[:valid.rfind(b"signature ")], manifest.signed_part)
        self.assertEqual(b"3.0.1.3", manifest.version_line)


class PublishTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.TemporaryDirectory()
        cls.private, cls.public = publish.generate_key(cls.keys.name, "vendor")
        cls.other_private, cls.other_public = publish.generate_key(cls.keys.name, "other")
        cls.long_private, cls.long_public = publish.generate_key(cls.keys.name, "long", bits=4096)

    @classmethod
    def tearDownClass(cls):
        cls.keys.cleanup()

    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.folder = os.path.join(self.work.name, "www", "store", "q7k2m9x4", "Quorvel30")
        self.package = os.path.join(self.work.name, "Quorvel Setup.exe")
        # Beside the site folder, where only the vendor writes.
        self.record = os.path.join(self.work.name, "Quorvel30.record")
        with open(self.package, "wb") as out:
            out.write(os.urandom(70000))

    def tearDown(self):
        self.work.cleanup()

    def stage(self, key=None, version="3.0.1.3", packages=None, lines=("notes: caf\u00e9",), **options):
        options.setdefault("record", self.record)
        return publish.stage(key or self.private, version, packages or [self.package], self.folder, list(lines),
                             **options)

    def served(self):
        with open(os.path.join(self.folder, publish.VERSION_FILE), "rb") as served:
            return served.read()

    def named_package(self, name, data=b"MZ package"):
        path = os.path.join(self.work.name, "named", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
        return path

    def faults(self, name="QUORVEL setup.exe"):
        return publish.verify(self.folder, [publish.load_public_key(self.public)], name)

    def test_staged_folder_verifies_here_and_with_openssl(self):
        version_file = self.stage()
        self.assertEqual([], self.faults())
        self.assertTrue(os.path.isfile(os.path.join(self.folder, "Quorvel Setup.exe")))
        self.assertTrue(version_file.startswith(b"3.0.1.3\nproduct Quorvel30\npackage Quorvel Setup.exe 70000 "))
        paths = {name: os.path.join(self.work.name, name) for name in ("signed", "sig", "public.pem")}
        subprocess.run(["openssl", "pkey", "-pubin", "-inform", "DER", "-in", self.public, "-out", paths["public.pem"]],
                       check=True, capture_output=True)
        release, _, rest = version_file.partition(b"release-signature ")
        everything, _, line = version_file.rpartition(b"\nsignature ")
        for signed, signature in ((release, rest.split(b"\n")[0]), (everything + b"\n", line.strip())):
            with open(paths["signed"], "wb") as out:
                out.write(signed)
            with open(paths["sig"], "wb") as out:
                out.write(base64.b64decode(signature))
            verified = subprocess.run(["openssl", "dgst", "-sha256", "-verify", paths["public.pem"], "-signature",
                                       paths["sig"], paths["signed"]], capture_output=True, text=True)
            self.assertEqual("Verified OK", verified.stdout.strip(), verified.stderr)

    def test_tampering_is_named_by_verify(self):
        def flip_signature(data):
            at = data.rfind(b"signature ") + 20
            return data[:at] + (b"B" if data[at:at + 1] != b"B" else b"C") + data[at + 1:]

        def move_expiry(days):
            def moved(data):
                expires = publish.parse_manifest(data).expires
                return data.replace(b"\nexpires %s\n" % publish.format_timestamp(expires).encode(),
                                    b"\nexpires %s\n" % publish.format_timestamp(expires + days * 86400).encode())
            return moved
        rows = [
            ("version line changed", lambda data: b"3.0.1.4" + data[7:], None, "does not verify"),
            ("signature changed", flip_signature, None, "does not verify"),
            ("line after the signature", lambda data: data + b"notes\n", None, "SignatureNotLast"),
            ("a carriage return before the line end", lambda data: data[:-1] + b"\r\r\n", None, "BadSignatureText"),
            ("the expiry moved on after signing", move_expiry(1), None,
             "the signature does not verify under any of the freshness keys given"),
            ("the expiry moved past the release expiry", move_expiry(400), None, "FreshnessBeyondRelease"),
            ("the release expiry moved on after signing",
             lambda data: re.sub(rb"\nrelease-expires 2\d\d\d", b"\nrelease-expires 2999", data), None,
             "the release signature does not verify"),
            ("a package line added to the freshness part",
             lambda data: data.replace(b"\nexpires ", b"\npackage Q.exe 5 " + b"a" * 64 + b"\nexpires "), None,
             "MisplacedLine"),
            ("package byte changed", None, b"x", "SHA-256"),
            ("package cut short", None, b"", "bytes"),
        ]
        for edge, change_manifest, package_tail, fault in rows:
            with self.subTest(edge):
                version_file = self.stage()
                path = os.path.join(self.folder, publish.VERSION_FILE)
                if change_manifest:
                    with open(path, "wb") as out:
                        out.write(change_manifest(version_file))
                if package_tail is not None:
                    served = os.path.join(self.folder, "Quorvel Setup.exe")
                    with open(served, "r+b") as out:
                        out.seek(0 if package_tail else 69999)
                        out.write(package_tail) if package_tail else out.truncate()
                self.assertTrue(any(fault in text for text in self.faults()), self.faults())
        # Signatures of 4096-bit keys end in one "=": the two bits left over must be zero,
        # though a lenient decoder takes any.
        version_file = self.stage(key=self.long_private)
        alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
        last = alphabet.index(version_file[-3:-2])
        self.assertEqual(0, last & 3)
        padded = version_file[:-3] + alphabet[last | 1:(last | 1) + 1] + b"=\n"
        self.assertEqual(base64.b64decode(version_file.rpartition(b"signature ")[2]),
                         base64.b64decode(padded.rpartition(b"signature ")[2]))
        with open(os.path.join(self.folder, publish.VERSION_FILE), "wb") as out:
            out.write(padded)
        self.assertEqual(["version.txt is not well formed: BadSignatureText"],
                         publish.verify(self.folder, [publish.load_public_key(self.long_public)]))
        self.stage(key=self.other_private)
        self.assertEqual(["the release signature does not verify under any of the release keys given",
                          "the signature does not verify under any of the freshness keys given"], self.faults())
        self.stage()
        self.assertIn("no package line names QuorvelUpdate.exe", self.faults("QuorvelUpdate.exe"))

    def test_bad_input_is_refused_with_nothing_written(self):
        short_key = os.path.join(self.work.name, "short.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out",
                        short_key], check=True, capture_output=True)
        empty = os.path.join(self.work.name, "empty.exe")
        open(empty, "wb").close()
        rows = [
            ("missing key", dict(key=os.path.join(self.work.name, "none.pem")), "cannot read key"),
            ("public key given", dict(key=self.public), "not a PEM private key"),
            ("short key", dict(key=short_key), "2048 bits"),
            ("missing package", dict(packages=[os.path.join(self.work.name, "none.exe")]), "cannot read package"),
            ("empty package", dict(packages=[empty]), "is empty"),
            ("two-digit component", dict(version="3.0.10.1"), "M.m.b.r"),
            ("same name in other case", dict(packages=[self.package, os.path.join(self.work.name, "QUORVEL SETUP.EXE")]),
             "named"),
            ("a line feed in a name", dict(packages=[self.named_package("Q.exe\nsignature AAEC")]), "control"),
            ("a carriage return in a name", dict(packages=[self.named_package("Q.exe\r")]), "control"),
            ("a tab in a name", dict(packages=[self.named_package("Q\t.exe")]), "control"),
            ("a letter outside ASCII", dict(packages=[self.named_package("Qu\u00f6rvel.exe")]), "printable ASCII"),
            ("a backslash", dict(packages=[self.named_package("..\\Q.exe")]), "path separator"),
            ("a leading space", dict(packages=[self.named_package(" Q.exe")]), "start or end with a space"),
            ("a trailing space", dict(packages=[self.named_package("Q.exe ")]), "start or end with a space"),
            ("a line feed in a further line", dict(lines=["notes\nsignature AAEC"]), "control character"),
            ("a further expires line", dict(lines=["expires 2999-01-01T00:00:00Z"]), "read as part of the manifest"),
            ("a further product line", dict(lines=["product Quorvel31"]), "read as part of the manifest"),
            ("a product with a space", dict(product="Quorvel 30"), "product"),
            ("expired already", dict(expires_in_days=0), "more than 0 days"),
            ("a release expiry of no days", dict(release_expires_in_days=0), "more than 0 and at most 3650"),
            ("a release expiry beyond ten years", dict(release_expires_in_days=3650.5), "at most 3650"),
            ("a release expiry given beyond ten years", dict(release_expires=int(time.time()) + 3651 * 86400),
             "more than 3650 days away"),
            ("a freshness expiry after the release expiry", dict(expires_in_days=8, release_expires_in_days=7),
             "later than the release expiry"),
            ("a further release-expires line", dict(lines=["release-expires 2999-01-01T00:00:00Z"]),
             "read as part of the manifest"),
            ("the record inside the site folder", dict(record=os.path.join(self.folder, "..", "Quorvel30.record"),
                                                       site=os.path.join(self.work.name, "www")),
             "inside the site folder"),
            ("freshness key missing", dict(freshness_key_path=os.path.join(self.work.name, "none.pem")),
             "cannot read key"),
        ]
        for edge, arguments, message in rows:
            with self.subTest(edge):
                with self.assertRaises(publish.PublishError) as raised:
                    self.stage(**arguments)
                self.assertIn(message, str(raised.exception))
                self.assertFalse(os.path.exists(os.path.join(self.folder, publish.VERSION_FILE)))
                self.assertFalse(os.path.exists(self.record))
        with self.assertRaises(publish.PublishError):
            publish.generate_key(self.keys.name, "vendor")
        with self.assertRaises(publish.PublishError):
            publish.generate_key(self.keys.name, "weak", bits=2048)

    def test_stage_refresh_verify(self):
        release = [publish.load_public_key(self.public)]
        apart = [publish.load_public_key(self.other_public)]
        day = 86400
        staged = self.stage(freshness_key_path=self.other_private, expires_in_days=1.5, now=1_800_000_000)
        manifest = publish.parse_manifest(staged)
        expires = manifest.expires
        self.assertEqual(1_800_000_000 + 1.5 * day, expires)
        self.assertEqual(1_800_000_000 + 365 * day, manifest.release_expires)
        self.assertTrue(manifest.release_part.endswith(b"\nnotes: caf\xc3\xa9\nrelease-expires 2028-01-15T08:00:00Z\n"))
        self.assertEqual([], publish.verify(self.folder, release, freshness_keys=apart, at=expires - 1))
        self.assertEqual(["the file expired at 2027-01-16T20:00:00Z (checked at 2027-01-16T20:00:00Z)"],
                         publish.verify(self.folder, release, freshness_keys=apart, at=expires))
        self.assertEqual(["the file expired at 2027-01-16T20:00:00Z (checked at 2028-01-15T08:00:00Z)",
                          "the release part expired at 2028-01-15T08:00:00Z (checked at 2028-01-15T08:00:00Z)"],
                         publish.verify(self.folder, release, freshness_keys=apart, at=manifest.release_expires))
        self.assertEqual(["the signature does not verify under any of the freshness keys given"],
                         publish.verify(self.folder, release, at=expires - 1))
        self.assertEqual(["the product is Quorvel30, not Quorvel31"],
                         publish.verify(self.folder, release, freshness_keys=apart, product="Quorvel31",
                                        at=expires - 1))
        with open(self.record, encoding="ascii") as record:
            self.assertIn("\nrelease-sha256 %s\n" % hashlib.sha256(staged[:manifest.release_signature_end]).hexdigest(),
                          record.read())

        # A scheduled job moves the expiry on, up to the release's own: the release part
        # stays byte for byte, a day after the file expired as well as before.
        refreshed = publish.refresh(self.folder, self.other_private, release, self.record, expires_in_days=30,
                                    now=expires + day)
        new = publish.parse_manifest(refreshed)
        self.assertEqual(publish.Verdict.VALID, new.verdict)
        self.assertEqual(refreshed, self.served())
        self.assertTrue(refreshed.startswith(staged[:manifest.release_signature_end] + b"expires "))
        self.assertEqual(expires + 31 * day, new.expires)
        self.assertEqual(manifest.release_expires, new.release_expires)
        self.assertEqual([], publish.verify(self.folder, release, freshness_keys=apart, at=expires + 2 * day))
        ending = self.stage(freshness_key_path=self.other_private, release_expires_in_days=10, now=1_800_000_000)
        capped = publish.refresh(self.folder, self.other_private, release, self.record, now=1_800_000_000 + 5 * day)
        self.assertEqual(publish.parse_manifest(ending).release_expires, publish.parse_manifest(capped).expires)

        # The command as a cron job runs it; a freshness key rotated since the last run
        # is named by its public half.
        self.stage(freshness_key_path=self.other_private, expires_in_days=1.5, now=1_800_000_000)
        with mock.patch("time.time", return_value=expires + 2 * day), mock.patch("sys.stdout"):
            self.assertEqual(0, publish.main(["refresh", "--folder", self.folder, "--freshness-key", self.private,
                                              "--freshness-key-public", self.other_public, "--key", self.public,
                                              "--record", self.record, "--expires-in", "7"]))
        self.assertEqual(expires + 9 * day, publish.parse_manifest(self.served()).expires)
        with mock.patch("sys.stderr"), mock.patch("sys.stdout"):
            self.assertEqual(0, publish.main(["verify", "--folder", self.folder, "--key", self.public,
                                              "--freshness-key-public", self.public, "--at",
                                              publish.format_timestamp(expires + 9 * day - 1)]))
            self.assertEqual(1, publish.main(["verify", "--folder", self.folder, "--key", self.public,
                                              "--freshness-key-public", self.public, "--at",
                                              publish.format_timestamp(expires + 9 * day)]))

    def test_refresh_signs_again_only_the_file_last_staged_as_it_was(self):
        release = [publish.load_public_key(self.public)]
        day = 86400
        now = 1_800_000_000

        def staged_fresh(**options):
            return self.stage(freshness_key_path=self.other_private, now=now, **options)

        def resigned(change):
            # Changed and signed again with the freshness key: only what refresh checks
            # beyond the signatures can refuse it.
            def make():
                data = change(staged_fresh())
                head = data[:data.rindex(b"signature ")]
                return head + b"signature " + base64.b64encode(
                    publish.sign(publish.load_private_key(self.other_private), head)) + b"\n"
            return make

        def zeroed_with_a_line():
            data = staged_fresh()
            head = data[:data.rindex(b"signature ")] + b"mirror 7\n"
            return head + b"signature " + base64.b64encode(bytes(384)) + b"\n"

        def rolled_back():
            old = staged_fresh()
            self.stage(version="3.0.1.4", freshness_key_path=self.other_private, now=now)
            return old

        def staged_again():
            old = staged_fresh()
            staged_fresh(release_expires_in_days=300)
            return old

        def staged_then(change):
            return lambda: change(staged_fresh())

        def record_text(text):
            def make():
                data = staged_fresh()
                with open(self.record, "w") as out:
                    out.write(text)
                return data
            return make

        def package_changed():
            data = staged_fresh()
            with open(os.path.join(self.folder, "Quorvel Setup.exe"), "r+b") as out:
                out.write(b"X")
            return data

        expired = now + 7 * day
        rows = [
            # edge, the file, the time of refresh, options, the cause named (None: refreshed)
            ("a freshness part altered, a line added, its signature zeroed", zeroed_with_a_line, now, {},
             "the signature does not verify under any of the freshness keys"),
            ("an unknown line in the freshness part, signed", resigned(
                lambda data: data.replace(b"\nexpires ", b"\nmirror 7\nexpires ")), now, {},
             "the freshness part holds lines other than its expiry: 'mirror 7'"),
            ("a release part staged before the last one (the site folder rolled back)", rolled_back, now, {},
             "the release part is not the one last staged"),
            ("the same version staged again since, with another release expiry", staged_again, now, {},
             "the release part is not the one last staged"),
            ("expired seven days ago to the second", staged_fresh, expired + 7 * day, {}, None),
            ("expired seven days and a second ago", staged_fresh, expired + 7 * day + 1, {},
             "more than 7 days ago: stage the release again"),
            ("expired a day ago, with a bound of half a day", staged_fresh, expired + day,
             dict(max_expired_days=0.5), "more than 0.5 days ago"),
            ("the release part expired", staged_fresh, now + 365 * day, dict(max_expired_days=400),
             "the release part expired at 2028-01-15T08:00:00Z; refresh never moves that"),
            ("a release part by a key not given", lambda: staged_fresh(key=self.other_private), now, {},
             "the release signature does not verify"),
            ("a package changed", package_changed, now, {}, "does not have the SHA-256"),
            ("another product", lambda: staged_fresh(), now, dict(product="Quorvel31"),
             "the product is Quorvel30, not Quorvel31"),
            ("a line after the signature", staged_then(lambda data: data + b"\n"), now, {}, "SignatureNotLast"),
            ("the record inside the site folder", staged_fresh, now,
             dict(record=os.path.join(self.folder, "Quorvel30.record")), "inside the site folder"),
            ("no record", staged_fresh, now, dict(record=os.path.join(self.work.name, "none.record")),
             "cannot read record"),
            ("a record naming no release part", record_text("release-sha256 x\n"), now, {},
             "does not name one release part"),
            ("a record naming two", record_text("release-sha256 %s\nrelease-sha256 %s\n" % ("a" * 64, "b" * 64)),
             now, {}, "does not name one release part"),
        ]
        for edge, make, at, options, fault in rows:
            with self.subTest(edge):
                shutil.rmtree(os.path.join(self.work.name, "www"), ignore_errors=True)
                before = make()
                publish.write_atomically(os.path.join(self.folder, publish.VERSION_FILE), before)
                if options.get("record", "").startswith(self.folder):
                    shutil.copyfile(self.record, options["record"])
                arguments = dict(expires_in_days=7, now=at, record=self.record)
                arguments.update(options)
                if fault is None:
                    refreshed = publish.refresh(self.folder, self.other_private, release, **arguments)
                    self.assertEqual(at + 7 * day, publish.parse_manifest(refreshed).expires)
                    continue
                with self.assertRaises(publish.PublishError) as raised:
                    publish.refresh(self.folder, self.other_private, release, **arguments)
                self.assertIn(fault, str(raised.exception))
                self.assertEqual(before, self.served())
                self.assertEqual([], [name for name in os.listdir(self.folder) if name.startswith(".")])

    def test_verify_reads_nothing_outside_the_folder(self):
        secret = os.path.join(self.work.name, "www", "secret.exe")
        os.makedirs(self.folder)
        with open(secret, "wb") as out:
            out.write(b"secret")
        os.symlink(secret, os.path.join(self.folder, "Linked.exe"))
        key = publish.load_private_key(self.private)
        read = []
        real_read = publish._read

        def recording_read(path, what):
            read.append(os.path.realpath(path))
            return real_read(path, what)

        rows = [
            ("a name going up", "../secret.exe"),
            ("an absolute path", secret),
            ("a link leading out", "Linked.exe"),
        ]
        for edge, name in rows:
            with self.subTest(edge):
                body = b"3.0.1.3\nproduct Quorvel30\npackage %s 6 %s\nrelease-expires 2100-01-01T00:00:00Z\n" % (
                    name.encode(), hashlib.sha256(b"secret").hexdigest().encode())
                publish.write_atomically(os.path.join(self.folder, publish.VERSION_FILE),
                                         publish.two_part_file(body, key, key, 4_000_000_000))
                read.clear()
                with mock.patch.object(publish, "_read", recording_read):
                    faults = publish.verify(self.folder, [publish.load_public_key(self.public)])
                self.assertEqual(["package %r would be read outside the folder" % name], faults)
                self.assertNotIn(os.path.realpath(secret), read)
        os.replace(os.path.join(self.folder, publish.VERSION_FILE), os.path.join(self.work.name, "outside.txt"))
        os.symlink(os.path.join(self.work.name, "outside.txt"), os.path.join(self.folder, publish.VERSION_FILE))
        self.assertIn("leads outside the folder", publish.verify(self.folder, [publish.load_public_key(self.public)])[0])

    def test_staging_replaces_planted_links_without_writing_through_them(self):
        os.makedirs(self.folder)
        victims = {}
        for name in (publish.VERSION_FILE, "Quorvel Setup.exe"):
            victims[name] = os.path.join(self.work.name, "victim-" + name)
            with open(victims[name], "wb") as out:
                out.write(b"keep")
            os.symlink(victims[name], os.path.join(self.folder, name))
        self.stage()
        for name, victim in victims.items():
            with open(victim, "rb") as kept:
                self.assertEqual(b"keep", kept.read())
            self.assertTrue(stat.S_ISREG(os.lstat(os.path.join(self.folder, name)).st_mode))
        self.assertEqual(["Quorvel Setup.exe", publish.VERSION_FILE], sorted(os.listdir(self.folder)))
        self.assertEqual([], self.faults())
        # Staging a package that is already the one served (as the local server does).
        self.stage(packages=[os.path.join(self.folder, "Quorvel Setup.exe")])
        self.assertEqual([], self.faults())

    def test_encrypted_and_shared_private_keys(self):
        keys = os.path.join(self.work.name, "keys")
        with mock.patch.dict(os.environ, {"SEEKWELL_PASS": "correct horse"}):
            private, public = publish.generate_key(keys, "locked", passphrase_env="SEEKWELL_PASS")
            self.assertEqual(0o600, stat.S_IMODE(os.stat(private).st_mode))
            with open(private, "rb") as pem:
                self.assertIn(b"ENCRYPTED PRIVATE KEY", pem.read())
            self.stage(key=private, passphrase_env="SEEKWELL_PASS")
        self.assertEqual([], publish.verify(self.folder, [publish.load_public_key(public)]))
        asked = []
        with mock.patch("getpass.getpass", lambda prompt: asked.append(prompt) or "correct horse"):
            self.stage(key=private)
        self.assertEqual(["Passphrase for %s: " % private], asked)
        with mock.patch("getpass.getpass", side_effect=EOFError):
            with self.assertRaises(publish.PublishError) as raised:
                self.stage(key=private)
        self.assertIn("--passphrase-env", str(raised.exception))
        rows = [
            ("wrong passphrase", {"SEEKWELL_PASS": "wrong"}, "SEEKWELL_PASS", "passphrase does not open"),
            ("variable not set", {}, "SEEKWELL_UNSET", "SEEKWELL_UNSET is not set"),
        ]
        for edge, environment, variable, message in rows:
            with self.subTest(edge), mock.patch.dict(os.environ, environment):
                with self.assertRaises(publish.PublishError) as raised:
                    publish.load_private_key(private, variable)
                self.assertIn(message, str(raised.exception))
        with mock.patch.dict(os.environ, {"SEEKWELL_PASS": ""}):
            with self.assertRaises(publish.PublishError):
                publish.generate_key(keys, "empty", passphrase_env="SEEKWELL_PASS")
        for mode in (0o640, 0o604):
            with self.subTest(oct(mode)):
                os.chmod(self.private, mode)
                try:
                    with self.assertRaises(publish.PublishError) as raised:
                        self.stage()
                finally:
                    os.chmod(self.private, 0o600)
                self.assertIn("chmod 600", str(raised.exception))
        # The old option name and the new one stage the same way.
        with mock.patch("sys.stdout"):
            for option in ("--key", "--release-key"):
                self.assertEqual(0, publish.main(["stage", option, self.private, "--version", "3.0.1.3", "--package",
                                                  self.package, "--root", os.path.join(self.work.name, "www"),
                                                  "--record", os.path.join(self.work.name, "records", option)]))
                self.assertEqual([], self.faults())


class InstallerSignatureTest(unittest.TestCase):
    """--signer: the package's own Authenticode signature, made with a pinned key."""

    @classmethod
    def path(cls, name):
        return os.path.join(cls.work.name, name)

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        for pair in ("dev", "other"):
            authenticode.make_dev_pair(cls.path(pair + "-key.pem"), cls.path(pair + "-cert.pem"))
        source = cls.path("program.c")
        with open(source, "w") as out:
            out.write("int main(void) { return 0; }\n")
        subprocess.run(["i686-w64-mingw32-gcc", "-o", cls.path("unsigned.exe"), source], check=True)
        for pair in ("dev", "other"):
            authenticode.sign(cls.path(pair + "-key.pem"), cls.path(pair + "-cert.pem"), cls.path("unsigned.exe"),
                              cls.path(pair + "-signed.exe"))
        with open(cls.path("dev-signed.exe"), "rb") as signed:
            data = bytearray(signed.read())
        data[len(data) // 2] ^= 1
        with open(cls.path("changed.exe"), "wb") as out:
            out.write(data)
        # The same key in a new certificate, as when the vendor's certificate is renewed.
        with open(cls.path("dev-key.pem"), "rb") as key_file:
            key = serialization.load_pem_private_key(key_file.read(), password=None)
        old = authenticode.load_certificate(cls.path("dev-cert.pem"))
        now = datetime.datetime.now(datetime.timezone.utc)
        renewed = (x509.CertificateBuilder().subject_name(old.subject).issuer_name(old.issuer)
                   .public_key(key.public_key()).serial_number(x509.random_serial_number())
                   .not_valid_before(now - datetime.timedelta(days=1)).not_valid_after(now + datetime.timedelta(days=30))
                   .sign(key, hashes.SHA256()))
        with open(cls.path("renewed-cert.der"), "wb") as out:
            out.write(renewed.public_bytes(serialization.Encoding.DER))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def test_the_pin_is_the_sha256_of_the_key_as_openssl_encodes_it(self):
        key = subprocess.run(["openssl", "x509", "-in", self.path("dev-cert.pem"), "-noout", "-pubkey"],
                             check=True, capture_output=True).stdout
        der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "DER"], input=key, check=True,
                             capture_output=True).stdout
        pin = authenticode.key_pin(authenticode.load_certificate(self.path("dev-cert.pem")))
        self.assertEqual(hashlib.sha256(der).digest(), pin)
        self.assertEqual(pin, authenticode.key_pin(authenticode.load_certificate(self.path("renewed-cert.der"))))

    def test_stage_takes_only_packages_signed_with_a_signer_key(self):
        root = self.path("site")
        folder = publish.product_folder(root)
        keys = tempfile.TemporaryDirectory()
        self.addCleanup(keys.cleanup)
        private, public = publish.generate_key(keys.name)
        rows = [
            ("unsigned", "unsigned.exe", ["dev-cert.pem"], "carries no Authenticode signature"),
            ("another key under the same name", "other-signed.exe", ["dev-cert.pem"], "not signed with the key"),
            ("signed bytes changed afterwards", "changed.exe", ["dev-cert.pem"], "not signed with the key"),
            ("not a certificate", "dev-signed.exe", ["dev-key.pem"], "not a PEM or DER certificate"),
            ("the signer's key", "dev-signed.exe", ["other-cert.pem", "dev-cert.pem"], None),
            ("a renewed certificate of the key", "dev-signed.exe", ["renewed-cert.der"], None),
        ]
        for edge, package, signers, fault in rows:
            with self.subTest(edge):
                shutil.rmtree(root, ignore_errors=True)
                named = self.path("QuorvelUpdate.exe")
                shutil.copyfile(self.path(package), named)
                signer_paths = [self.path(name) for name in signers]
                if fault is None:
                    publish.stage(private, "3.0.1.3", [named], folder, signers=signer_paths)
                    self.assertEqual([], publish.verify(folder, [publish.load_public_key(public)],
                                                        signers=signer_paths))
                    continue
                with self.assertRaises(publish.PublishError) as raised:
                    publish.stage(private, "3.0.1.3", [named], folder, signers=signer_paths)
                self.assertIn(fault, str(raised.exception))
                self.assertFalse(os.path.exists(folder))
                # A release staged without the check is named by verify with it.
                publish.stage(private, "3.0.1.3", [named], folder)
                faults = publish.verify(folder, [publish.load_public_key(public)], signers=signer_paths)
                self.assertTrue(any(fault in text for text in faults), faults)

    def test_stage_checks_hashes_and_serves_the_one_copy_it_read(self):
        # A package swapped for another right after stage has read it: the signature
        # check, the hash and the staged file are all of the bytes read first.
        root = self.path("swapped-site")
        folder = publish.product_folder(root)
        keys = tempfile.TemporaryDirectory()
        self.addCleanup(keys.cleanup)
        private, public = publish.generate_key(keys.name)
        signers = [self.path("dev-cert.pem")]
        real_read = publish._read
        rows = [
            ("an unsigned file read, the signed one swapped in", "unsigned.exe", "dev-signed.exe",
             "carries no Authenticode signature"),
            ("the signed file read, an unsigned one swapped in", "dev-signed.exe", "unsigned.exe", None),
        ]
        for edge, read_first, swapped_in, fault in rows:
            with self.subTest(edge):
                shutil.rmtree(root, ignore_errors=True)
                named = self.path("QuorvelUpdate.exe")
                shutil.copyfile(self.path(read_first), named)

                def swapping_read(path, what):
                    data = real_read(path, what)
                    if what == "package":
                        shutil.copyfile(self.path(swapped_in), path)
                    return data

                record = self.path("swapped.record")
                with mock.patch.object(publish, "_read", swapping_read):
                    if fault is not None:
                        with self.assertRaises(publish.PublishError) as raised:
                            publish.stage(private, "3.0.1.3", [named], folder, signers=signers, record=record)
                        self.assertIn(fault, str(raised.exception))
                        self.assertFalse(os.path.exists(folder))
                        continue
                    version_file = publish.stage(private, "3.0.1.3", [named], folder, signers=signers,
                                                 record=record)
                with open(self.path(read_first), "rb") as source:
                    read = source.read()
                self.assertIn(publish.package_line("QuorvelUpdate.exe", read).encode(), version_file)
                with open(os.path.join(folder, "QuorvelUpdate.exe"), "rb") as served:
                    self.assertEqual(read, served.read())
                self.assertEqual([], publish.verify(folder, [publish.load_public_key(public)], signers=signers))


if __name__ == "__main__":
    unittest.main()
