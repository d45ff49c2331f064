#!/usr/bin/python3
"""The vendor's tool for publishing a signed update.

  keygen --out-dir DIR [--name NAME] [--bits 3072] [--passphrase-env VAR]
      Writes NAME-private.pem (PKCS#8, mode 0600; encrypted with the passphrase in the
      environment variable VAR when given) and NAME-public.der (DER
      SubjectPublicKeyInfo): the public key is what the updater is built with
      (SEEKWELL_SIGNING_KEYS for a release key, SEEKWELL_FRESHNESS_KEYS for a freshness
      key), the private key stays with the vendor.

  stage --release-key PRIVATE.pem [--freshness-key PRIVATE.pem] --version M.m.b.r
        --package FILE [--package FILE ...] --root DIR --record FILE [--token q7k2m9x4]
        [--product Quorvel30] [--expires-in DAYS] [--release-expires-in DAYS]
        [--line TEXT ...] [--signer CERT ...] [--passphrase-env VAR]
        [--freshness-passphrase-env VAR]
      Copies the packages to DIR/store/<token>/<product>/ and writes version.txt
      beside them, in two parts. The release part: the version line, "product
      <product>", one "package <name> <size> <sha-256>" line per package, any further
      lines given and "release-expires <UTC time>", DAYS (default 365, at most 3650)
      from now, then "release-signature <base64>" over all of it, made with the
      release key (--key is the same option). The freshness part: "expires <UTC
      time>", DAYS (default 7, may be fractional) from now and never after the release
      expiry, then last "signature <base64>" over every byte before it, made with the
      freshness key (default the release key). Both are RSA PKCS#1 v1.5 SHA-256
      signatures. Each package is read once; that copy is checked, hashed and staged.
      Every file is written under a temporary name and renamed into place, the
      packages before version.txt, so a client never sees a manifest whose packages
      are missing. The folder is what any static web server or CDN serves. With
      --signer (the vendor's code-signing certificates, SEEKWELL_INSTALLER_SIGNERS), a
      package whose Authenticode signature does not verify with one of their keys is
      refused and nothing is written. The SHA-256 of the release part (with its
      signature line) goes to the record FILE, which must lie outside DIR: refresh
      signs only that release part again.

  refresh (--root DIR | --folder DIR) --freshness-key PRIVATE.pem --key PUBLIC.der
          [--key ...] --record FILE [--freshness-key-public PUBLIC.der ...]
          [--expires-in DAYS] [--max-expired DAYS] [--product Quorvel30]
          [--passphrase-env VAR]
      Gives a staged version.txt a new expiry, DAYS (default 7) from now but never
      after its release expiry, and signs its freshness part again; the release part
      stays byte for byte as it is. The file must verify as it is first: the release
      signature under one of the release keys given, the freshness signature under
      one of the freshness keys (default the public half of --freshness-key), its
      product, its packages, nothing but "expires" and "signature" in its freshness
      part; its release part must be the one the record (written by stage, kept
      outside the site folder) names; it must not have expired more than --max-expired
      DAYS ago (default 7) and its release part not at all. Otherwise every cause is
      named and nothing is written. Written atomically: made to run from a scheduled
      job.

  verify (--root DIR | --folder DIR) --key PUBLIC.der [--key ...]
         [--freshness-key-public PUBLIC.der ...] [--product Quorvel30]
         [--package-name NAME] [--at YYYY-MM-DDTHH:MM:SSZ] [--signer CERT ...]
      Checks a staged folder as the updater does and names every fault it finds: the
      reader's verdict by name, the release signature under the release keys (--key),
      the freshness signature under the freshness keys (default the release keys),
      the product, the expiry against now (or --at), each package; with --signer,
      each package's Authenticode signature too. Nothing outside the folder is read.

A private key given encrypted is opened with the passphrase in the environment variable
named by --passphrase-env, or, without one, asked for on the terminal. A private key
file that the group or others may read is refused.

Exit status 0 on success; 1 with a message on stderr otherwise.
"""

import argparse
import base64
import binascii
import calendar
import getpass
import hashlib
import os
import re
import stat
import sys
import tempfile
import time

import authenticode
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa

MIN_KEY_BITS = 3072
MAX_VERSION_FILE_BYTES = 64 * 1024
# A download cannot deliver a package of 4 GiB or more; a package of no bytes is no package.
PACKAGE_SIZE_LIMIT = 1 << 32
DEFAULT_TOKEN = "q7k2m9x4"
DEFAULT_PRODUCT = "Quorvel30"
DEFAULT_EXPIRES_IN_DAYS = 7.0
DEFAULT_RELEASE_EXPIRES_IN_DAYS = 365.0
# The longest a release part may be believed: a release key signs for ten years at most.
MAX_RELEASE_EXPIRES_IN_DAYS = 3650.0
# How long after its expiry refresh still signs a file again; past it the vendor stages.
DEFAULT_MAX_EXPIRED_DAYS = 7.0
VERSION_FILE = "version.txt"
# The updater reads the version from the first seven characters, one digit each.
VERSION_PATTERN = re.compile(r"^[0-9]\.[0-9]\.[0-9]\.[0-9]$")
TIMESTAMP_PATTERN = re.compile(rb"^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})Z$")
TIMESTAMP_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
BASE64_ALPHABET = frozenset(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")

PRODUCT_WORD = b"product "
PACKAGE_WORD = b"package "
RELEASE_EXPIRES_WORD = b"release-expires "
EXPIRES_WORD = b"expires "
RELEASE_SIGNATURE_WORD = b"release-signature "
SIGNATURE_WORD = b"signature "
# Words that a further line given to stage may not start with: it would be read as one
# of the lines the tool writes itself.
RESERVED_WORDS = (PRODUCT_WORD, PACKAGE_WORD, RELEASE_EXPIRES_WORD, EXPIRES_WORD, RELEASE_SIGNATURE_WORD,
                  SIGNATURE_WORD)
RECORD_WORD = "release-sha256 "


class PublishError(Exception):
    """A fault the vendor must mend; its text is the message shown."""


class Verdict:
    """The reader's verdicts on a version file, named as the updater names them."""

    VALID = "Valid"
    TOO_LARGE = "TooLarge"
    NO_VERSION_LINE = "NoVersionLine"
    NO_PRODUCT = "NoProduct"
    DUPLICATE_PRODUCT = "DuplicateProduct"
    BAD_PRODUCT_LINE = "BadProductLine"
    BAD_PACKAGE_LINE = "BadPackageLine"
    DUPLICATE_PACKAGE = "DuplicatePackage"
    BAD_PACKAGE_SIZE = "BadPackageSize"
    NO_RELEASE_SIGNATURE = "NoReleaseSignature"
    DUPLICATE_RELEASE_SIGNATURE = "DuplicateReleaseSignature"
    BAD_RELEASE_SIGNATURE_TEXT = "BadReleaseSignatureText"
    MISPLACED_LINE = "MisplacedLine"
    NO_RELEASE_EXPIRY = "NoReleaseExpiry"
    DUPLICATE_RELEASE_EXPIRY = "DuplicateReleaseExpiry"
    BAD_RELEASE_EXPIRY = "BadReleaseExpiry"
    NO_EXPIRY = "NoExpiry"
    DUPLICATE_EXPIRY = "DuplicateExpiry"
    BAD_EXPIRY = "BadExpiry"
    FRESHNESS_BEYOND_RELEASE = "FreshnessBeyondRelease"
    NO_SIGNATURE = "NoSignature"
    SIGNATURE_NOT_LAST = "SignatureNotLast"
    BAD_SIGNATURE_TEXT = "BadSignatureText"


class Manifest:
    """What the reader takes from a version file. Anything but `verdict == Valid` leaves
    the other fields partly filled and untrustworthy."""

    def __init__(self):
        self.verdict = None
        self.version_line = b""
        self.product = None
        self.packages = []  # (name bytes, size, sha-256 hex text)
        self.release_expires = None  # seconds since 1970, UTC
        self.expires = None  # seconds since 1970, UTC; never after release_expires
        self.release_part = b""  # the bytes the release signature covers
        self.release_signature = b""
        self.release_signature_end = 0  # offset just past the release-signature line
        self.signed_part = b""  # the bytes the signature covers
        self.signature = b""
        self.freshness_lines = []  # (offset, text, line end) after the release signature


def _lines(data):
    """(start, text, end) per line: the text without its LF and one CR before it, the end
    just past the LF (or the file's end)."""
    at = 0
    while at < len(data):
        newline = data.find(b"\n", at)
        stop = len(data) if newline < 0 else newline
        text_end = stop - 1 if newline >= 0 and stop > at and data[stop - 1:stop] == b"\r" else stop
        end = len(data) if newline < 0 else newline + 1
        yield at, data[at:text_end], end
        at = end


def decode_base64(text):
    """Strict base64: standard alphabet, "=" padding to a multiple of four, no white space,
    zero pad bits, not empty. None for anything else."""
    if not text or len(text) % 4:
        return None
    body = text[:-2] if text.endswith(b"==") else text[:-1] if text.endswith(b"=") else text
    if not set(body) <= BASE64_ALPHABET:
        return None
    try:
        decoded = base64.b64decode(text, validate=True)
    except binascii.Error:
        return None
    # Nonzero pad bits would give one signature more than one spelling.
    if base64.b64encode(decoded) != text:
        return None
    return decoded


def parse_timestamp(text):
    """Seconds since 1970 of exactly YYYY-MM-DDTHH:MM:SSZ, a real calendar second of the
    years 1970..9999 (no leap second); None otherwise."""
    match = TIMESTAMP_PATTERN.match(text)
    if not match or len(text) != 20:
        return None
    year, month, day, hour, minute, second = (int(field) for field in match.groups())
    if not (1970 <= year <= 9999 and 1 <= month <= 12 and hour <= 23 and minute <= 59 and second <= 59):
        return None
    if not 1 <= day <= calendar.monthrange(year, month)[1]:
        return None
    return calendar.timegm((year, month, day, hour, minute, second, 0, 0, 0))


def format_timestamp(seconds):
    return time.strftime(TIMESTAMP_FORMAT, time.gmtime(seconds))


def _parse_size(text):
    """Plain decimal digits, at most 2^63 - 1; None otherwise."""
    if not text or not all(0x30 <= c <= 0x39 for c in text):
        return None
    value = int(text)
    return value if value < 1 << 63 else None


def _parse_package(rest):
    """(name, size, digest) of "<name> <size> <sha-256>": the name may hold spaces, so
    the last two fields are taken from the end; None when malformed."""
    sha_space = rest.rfind(b" ")
    if sha_space <= 0:
        return None
    size_space = rest.rfind(b" ", 0, sha_space)
    if size_space <= 0:
        return None
    size = _parse_size(rest[size_space + 1:sha_space])
    digest = rest[sha_space + 1:]
    if size is None or len(digest) != 64 or not all(c in b"0123456789abcdef" for c in digest):
        return None
    return rest[:size_space], size, digest.decode("ascii")


def parse_manifest(data):
    """Reads a version file as the updater does; the first fault met is the verdict."""
    manifest = Manifest()

    def ending(verdict):
        manifest.verdict = verdict
        return manifest

    if len(data) > MAX_VERSION_FILE_BYTES:
        return ending(Verdict.TOO_LARGE)
    if not data:
        return ending(Verdict.NO_VERSION_LINE)
    lines = _lines(data)
    _, first, _ = next(lines)
    if first.startswith(SIGNATURE_WORD) or first.startswith(RELEASE_SIGNATURE_WORD):
        return ending(Verdict.NO_VERSION_LINE)
    manifest.version_line = first
    in_release_part = True
    for start, text, end in lines:
        if in_release_part:
            if text.startswith(RELEASE_SIGNATURE_WORD):
                manifest.release_signature = decode_base64(text[len(RELEASE_SIGNATURE_WORD):])
                if manifest.release_signature is None:
                    return ending(Verdict.BAD_RELEASE_SIGNATURE_TEXT)
                if manifest.product is None:
                    return ending(Verdict.NO_PRODUCT)
                if manifest.release_expires is None:
                    return ending(Verdict.NO_RELEASE_EXPIRY)
                manifest.release_part = data[:start]
                manifest.release_signature_end = end
                in_release_part = False
            elif text.startswith(SIGNATURE_WORD):
                return ending(Verdict.NO_RELEASE_SIGNATURE)
            elif text.startswith(EXPIRES_WORD):
                return ending(Verdict.MISPLACED_LINE)
            elif text.startswith(RELEASE_EXPIRES_WORD):
                if manifest.release_expires is not None:
                    return ending(Verdict.DUPLICATE_RELEASE_EXPIRY)
                manifest.release_expires = parse_timestamp(text[len(RELEASE_EXPIRES_WORD):])
                if manifest.release_expires is None:
                    return ending(Verdict.BAD_RELEASE_EXPIRY)
            elif (text.startswith(PRODUCT_WORD) or text.startswith(PACKAGE_WORD)) \
                    and manifest.release_expires is not None:
                return ending(Verdict.MISPLACED_LINE)
            elif text.startswith(PRODUCT_WORD):
                if manifest.product is not None:
                    return ending(Verdict.DUPLICATE_PRODUCT)
                product = text[len(PRODUCT_WORD):]
                if not product or not all(0x21 <= c <= 0x7E for c in product):
                    return ending(Verdict.BAD_PRODUCT_LINE)
                manifest.product = product.decode("ascii")
            elif text.startswith(PACKAGE_WORD):
                package = _parse_package(text[len(PACKAGE_WORD):])
                if package is None:
                    return ending(Verdict.BAD_PACKAGE_LINE)
                if not 0 < package[1] < PACKAGE_SIZE_LIMIT:
                    return ending(Verdict.BAD_PACKAGE_SIZE)
                if any(package[0].lower() == other.lower() for other, _, _ in manifest.packages):
                    return ending(Verdict.DUPLICATE_PACKAGE)
                manifest.packages.append(package)
            continue
        manifest.freshness_lines.append((start, text, data[start + len(text):end]))
        if text.startswith(SIGNATURE_WORD):
            if end != len(data):
                return ending(Verdict.SIGNATURE_NOT_LAST)
            manifest.signature = decode_base64(text[len(SIGNATURE_WORD):])
            if manifest.signature is None:
                return ending(Verdict.BAD_SIGNATURE_TEXT)
            if manifest.expires is None:
                return ending(Verdict.NO_EXPIRY)
            manifest.signed_part = data[:start]
            # Judged once the file is read whole, as the updater's reader does.
            if manifest.expires > manifest.release_expires:
                return ending(Verdict.FRESHNESS_BEYOND_RELEASE)
            return ending(Verdict.VALID)
        if text.startswith(RELEASE_SIGNATURE_WORD):
            return ending(Verdict.DUPLICATE_RELEASE_SIGNATURE)
        if text.startswith(PRODUCT_WORD) or text.startswith(PACKAGE_WORD) or text.startswith(RELEASE_EXPIRES_WORD):
            return ending(Verdict.MISPLACED_LINE)
        if text.startswith(EXPIRES_WORD):
            if manifest.expires is not None:
                return ending(Verdict.DUPLICATE_EXPIRY)
            manifest.expires = parse_timestamp(text[len(EXPIRES_WORD):])
            if manifest.expires is None:
                return ending(Verdict.BAD_EXPIRY)
    return ending(Verdict.NO_RELEASE_SIGNATURE if in_release_part else Verdict.NO_SIGNATURE)


def _read(path, what):
    try:
        with open(path, "rb") as source:
            return source.read()
    except OSError as error:
        raise PublishError("cannot read %s %s: %s" % (what, path, error.strerror)) from None


def _passphrase(path, passphrase_env, ask):
    if passphrase_env:
        value = os.environ.get(passphrase_env)
        if value is None:
            raise PublishError("%s is encrypted and the environment variable %s is not set"
                               % (path, passphrase_env))
        return value.encode("utf-8")
    try:
        return (ask or getpass.getpass)("Passphrase for %s: " % path).encode("utf-8")
    except EOFError:
        # A scheduled job has no terminal to ask on.
        raise PublishError("%s is encrypted and no passphrase was given; name the environment "
                           "variable that holds it with --passphrase-env" % path) from None


def generate_key(out_dir, name="vendor", bits=MIN_KEY_BITS, passphrase_env=None):
    """Writes a new key pair; returns (private path, public path)."""
    if bits < MIN_KEY_BITS:
        raise PublishError("keys of fewer than %d bits are not trusted by the updater" % MIN_KEY_BITS)
    private_path = os.path.join(out_dir, name + "-private.pem")
    public_path = os.path.join(out_dir, name + "-public.der")
    for path in (private_path, public_path):
        if os.path.lexists(path):
            raise PublishError("%s exists already; a key is never overwritten" % path)
    encryption = serialization.NoEncryption()
    if passphrase_env:
        passphrase = os.environ.get(passphrase_env)
        if not passphrase:
            raise PublishError("the environment variable %s holds no passphrase" % passphrase_env)
        encryption = serialization.BestAvailableEncryption(passphrase.encode("utf-8"))
    os.makedirs(out_dir, exist_ok=True)
    key = rsa.generate_private_key(public_exponent=65537, key_size=bits)
    private_pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, encryption)
    public_der = key.public_key().public_bytes(serialization.Encoding.DER,
                                               serialization.PublicFormat.SubjectPublicKeyInfo)
    descriptor = os.open(private_path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(descriptor, "wb") as private_file:
        private_file.write(private_pem)
    with open(public_path, "xb") as public_file:
        public_file.write(public_der)
    return private_path, public_path


def _refuse_if_shared(path):
    """A private key that others may read is no longer the vendor's alone."""
    if os.name != "posix":
        return
    mode = os.stat(path).st_mode
    if mode & (stat.S_IRGRP | stat.S_IROTH):
        raise PublishError("%s may be read by others than its owner (mode %03o); make it private with "
                           "chmod 600" % (path, stat.S_IMODE(mode)))


def load_private_key(path, passphrase_env=None, ask=None):
    """The RSA private key at `path`; an encrypted one is opened with the passphrase in
    the environment variable `passphrase_env`, or else the one `ask` (default: asking
    on the terminal) returns."""
    pem = _read(path, "key")
    try:
        try:
            key = serialization.load_pem_private_key(pem, password=None)
            _refuse_if_shared(path)
        except TypeError:
            # Encrypted: only now is a passphrase asked for.
            _refuse_if_shared(path)
            passphrase = _passphrase(path, passphrase_env, ask)
            try:
                key = serialization.load_pem_private_key(pem, password=passphrase)
            except ValueError:
                raise PublishError("%s: the passphrase does not open this key" % path) from None
    except (ValueError, TypeError) as error:
        raise PublishError("%s is not a PEM private key: %s" % (path, error)) from None
    if not isinstance(key, rsa.RSAPrivateKey):
        raise PublishError("%s is not an RSA key" % path)
    if key.key_size < MIN_KEY_BITS:
        raise PublishError("%s has %d bits; the updater trusts only %d or more" % (path, key.key_size, MIN_KEY_BITS))
    return key


def load_public_key(path):
    try:
        key = serialization.load_der_public_key(_read(path, "key"))
    except ValueError as error:
        raise PublishError("%s is not a DER public key: %s" % (path, error)) from None
    if not isinstance(key, rsa.RSAPublicKey) or key.key_size < MIN_KEY_BITS:
        raise PublishError("%s is not an RSA key of %d bits or more" % (path, MIN_KEY_BITS))
    return key


def sign(key, data):
    return key.sign(data, padding.PKCS1v15(), hashes.SHA256())


def signed_by_one_of(keys, signature, data):
    for key in keys:
        try:
            key.verify(signature, data, padding.PKCS1v15(), hashes.SHA256())
            return True
        except InvalidSignature:
            continue
    return False


def check_package_name(name):
    """Refuses a name that the version file cannot carry safely: printable ASCII only
    (a line feed would end the signed line early), no path separators, no spaces at
    either end (the reader would not give them back)."""
    if not name or not all(0x20 <= ord(c) <= 0x7E for c in name):
        raise PublishError("package name %r must be printable ASCII without control characters" % name)
    if "/" in name or "\\" in name or name in (".", ".."):
        raise PublishError("package name %r must not hold a path separator or be . or .." % name)
    if name != name.strip(" "):
        raise PublishError("package name %r must not start or end with a space" % name)


def check_product(product):
    if not product or not all(0x21 <= ord(c) <= 0x7E for c in product) or set(product) & set("/\\") \
            or product in (".", ".."):
        raise PublishError("product %r must be printable ASCII without spaces or path separators" % product)


def check_extra_line(line):
    data = line.encode("utf-8")
    if any(c < 0x20 or c == 0x7F for c in data):
        raise PublishError("extra line %r holds a control character" % line)
    if data.startswith(RESERVED_WORDS):
        raise PublishError("extra line %r would be read as part of the manifest" % line)


def package_line(name, data):
    return "package %s %d %s" % (name, len(data), hashlib.sha256(data).hexdigest())


def release_part(version, product, packages, release_expires, extra_lines=()):
    """The part signed by the release key, without its signature line; LF line ends.
    Its own expiry (seconds since 1970) comes last, after the lines it closes."""
    lines = [version, "product " + product] + [package_line(name, data) for name, data in packages]
    lines.extend(extra_lines)
    lines.append("release-expires " + format_timestamp(release_expires))
    return ("\n".join(lines) + "\n").encode("utf-8")


def expiry_after(days, now=None):
    """Seconds since 1970 of `days` (may be fractional) from `now`, whole seconds."""
    return int((time.time() if now is None else now) + days * 86400)


def two_part_file(release, release_key, freshness_key, expires, freshness_lines=()):
    """The version file of a release part (bytes, ending in a line end): its release
    signature, then the freshness part with `expires` and its signature."""
    head = release + b"release-signature " + base64.b64encode(sign(release_key, release)) + b"\n"
    head += ("expires %s\n" % format_timestamp(expires)).encode("ascii")
    for line in freshness_lines:
        head += line.encode("ascii") + b"\n"
    return head + b"signature " + base64.b64encode(sign(freshness_key, head)) + b"\n"


def product_folder(root, token=DEFAULT_TOKEN, product=DEFAULT_PRODUCT):
    return os.path.join(root, "store", token, product)


def _sync_folder(folder):
    try:
        descriptor = os.open(folder, os.O_RDONLY | getattr(os, "O_DIRECTORY", 0))
    except OSError:
        return
    try:
        os.fsync(descriptor)
    except OSError:
        pass
    finally:
        os.close(descriptor)


def write_atomically(path, data):
    """Writes `data` to a new file beside `path`, flushes it to the disk and renames it to
    `path`: a reader sees the old file or the new one, never a part. Whatever is at
    `path` (a symbolic link too) is replaced, never written through."""
    folder = os.path.dirname(path) or "."
    descriptor, temporary = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".")
    try:
        with os.fdopen(descriptor, "wb") as out:
            out.write(data)
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
    _sync_folder(folder)


def _outside(path, folder):
    """True when `path` does not lie in `folder` (links followed)."""
    real_folder = os.path.realpath(folder)
    return os.path.commonpath([os.path.realpath(path), real_folder]) != real_folder


def _check_record_place(record, site):
    # Whoever can write the site folder must not be able to name the release that
    # refresh signs again.
    if not _outside(record, site):
        raise PublishError("the record %s lies inside the site folder %s; keep it where only the vendor "
                           "writes" % (record, site))


def release_record(version_file):
    """The text of the record of a staged release; refresh checks its release-sha256 line."""
    manifest = parse_manifest(version_file)
    head = version_file[:manifest.release_signature_end]
    return ("# The release part publish.py stage last staged; refresh signs only this one again.\n"
            "version %s\nproduct %s\nrelease-expires %s\n%s%s\n"
            % (manifest.version_line.decode("ascii"), manifest.product,
               format_timestamp(manifest.release_expires), RECORD_WORD, hashlib.sha256(head).hexdigest())
            ).encode("ascii")


def read_record(record):
    """The SHA-256 (hex) that a record names."""
    try:
        text = _read(record, "record").decode("ascii")
    except UnicodeDecodeError:
        raise PublishError("the record %s is not one that stage writes" % record) from None
    digests = [line[len(RECORD_WORD):] for line in text.splitlines() if line.startswith(RECORD_WORD)]
    if len(digests) != 1 or not re.fullmatch("[0-9a-f]{64}", digests[0]):
        raise PublishError("the record %s does not name one release part (one %sline)" % (record, RECORD_WORD))
    return digests[0]


def _read_packages(package_paths, signers):
    """(name, bytes) of each package, each read once: the signature is checked on a private
    copy of those very bytes, so a file swapped between reads cannot pass one check with
    one content and be hashed with another."""
    packages = []
    with tempfile.TemporaryDirectory(prefix="publish-") as private:
        for path in package_paths:
            name = os.path.basename(path)
            check_package_name(name)
            if any(name.lower() == other.lower() for other, _ in packages):
                raise PublishError("two packages are named %s (names compare without case)" % name)
            data = _read(path, "package")
            if not data:
                raise PublishError("package %s is empty" % path)
            if len(data) >= PACKAGE_SIZE_LIMIT:
                raise PublishError("package %s has 4 GiB or more; the updater cannot download it" % path)
            if signers:
                copy = os.path.join(private, name)
                descriptor = os.open(copy, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
                with os.fdopen(descriptor, "wb") as out:
                    out.write(data)
                faults = authenticode.signature_faults(copy, signers)
                if faults:
                    raise PublishError(faults[0])
            packages.append((name, data))
    return packages


def _check_release_expiry(release_expires, expires, now):
    now = time.time() if now is None else now
    if release_expires > now + MAX_RELEASE_EXPIRES_IN_DAYS * 86400:
        raise PublishError("the release expiry %s is more than %d days away; a release is signed for %d days "
                           "at most" % (format_timestamp(release_expires), MAX_RELEASE_EXPIRES_IN_DAYS,
                                        MAX_RELEASE_EXPIRES_IN_DAYS))
    if expires > release_expires:
        raise PublishError("the expiry %s would be later than the release expiry %s; the freshness part may not "
                           "outlive the release part" % (format_timestamp(expires), format_timestamp(release_expires)))


def stage(release_key_path, version, package_paths, folder, extra_lines=(), signers=(),
          freshness_key_path=None, expires_in_days=DEFAULT_EXPIRES_IN_DAYS, product=DEFAULT_PRODUCT,
          passphrase_env=None, freshness_passphrase_env=None, now=None, expires=None,
          release_expires_in_days=DEFAULT_RELEASE_EXPIRES_IN_DAYS, release_expires=None, record=None, site=None):
    """Publishes a release into `folder`; returns the version file's bytes. The file
    expires `expires_in_days` after `now` (default the present), or at `expires`
    (seconds since 1970) when that is given; its release part `release_expires_in_days`
    after `now`, or at `release_expires`. With `record`, a file outside `site` (default
    `folder`), the release part's SHA-256 is written there for refresh."""
    if not VERSION_PATTERN.match(version):
        raise PublishError("version %r is not M.m.b.r with one digit each (the updater reads seven "
                           "characters at fixed places)" % version)
    if not package_paths:
        raise PublishError("a release needs at least one package")
    check_product(product)
    if expires is None and not expires_in_days > 0:
        raise PublishError("--expires-in must be more than 0 days; the updater believes a file only "
                           "before it expires")
    if release_expires is None and not 0 < release_expires_in_days <= MAX_RELEASE_EXPIRES_IN_DAYS:
        raise PublishError("--release-expires-in must be more than 0 and at most %d days"
                           % MAX_RELEASE_EXPIRES_IN_DAYS)
    if expires is None:
        expires = expiry_after(expires_in_days, now)
    if release_expires is None:
        release_expires = expiry_after(release_expires_in_days, now)
    _check_release_expiry(release_expires, expires, now)
    if record is not None:
        _check_record_place(record, site or folder)
    for line in extra_lines:
        check_extra_line(line)
    release_key = load_private_key(release_key_path, passphrase_env)
    freshness_key = release_key
    if freshness_key_path is not None and freshness_key_path != release_key_path:
        freshness_key = load_private_key(freshness_key_path, freshness_passphrase_env or passphrase_env)
    packages = _read_packages(package_paths, signers)
    release = release_part(version, product, packages, release_expires, extra_lines)
    version_file = two_part_file(release, release_key, freshness_key, expires)
    if len(version_file) > MAX_VERSION_FILE_BYTES:
        raise PublishError("the version file would be %d bytes; the updater reads at most %d"
                           % (len(version_file), MAX_VERSION_FILE_BYTES))
    os.makedirs(folder, exist_ok=True)
    if record is not None:
        os.makedirs(os.path.dirname(os.path.abspath(record)), exist_ok=True)
    for name, data in packages:
        # The copy that was checked and hashed is what is served; a link planted at the
        # target is replaced by the file itself.
        write_atomically(os.path.join(folder, name), data)
    if record is not None:
        write_atomically(record, release_record(version_file))
    write_atomically(os.path.join(folder, VERSION_FILE), version_file)
    return version_file


def _inside(folder, name):
    """The path of `name` in `folder` when reading it stays inside the folder; else None.
    A name holding a separator, an absolute path or a link leading out is refused."""
    if not name or name in (".", "..") or "/" in name or "\\" in name or "\0" in name or os.path.isabs(name):
        return None
    path = os.path.join(folder, name)
    return None if _outside(path, folder) else path


def read_version_file(folder):
    path = _inside(folder, VERSION_FILE)
    if path is None:
        raise PublishError("%s/%s leads outside the folder" % (folder, VERSION_FILE))
    return _read(path, "version file")


def _release_faults(folder, manifest, release_keys, product, package_name, signers):
    """Faults of a well-formed file's release part and of the packages it names."""
    faults = []
    if not signed_by_one_of(release_keys, manifest.release_signature, manifest.release_part):
        faults.append("the release signature does not verify under any of the release keys given")
    if not VERSION_PATTERN.match(manifest.version_line.decode("latin-1")):
        faults.append("the version line %r is not M.m.b.r" % manifest.version_line)
    if manifest.product != product:
        faults.append("the product is %s, not %s" % (manifest.product, product))
    names = []
    for raw_name, size, digest in manifest.packages:
        name = raw_name.decode("latin-1")
        names.append(name)
        path = _inside(folder, name)
        if path is None:
            faults.append("package %r would be read outside the folder" % name)
            continue
        if not os.path.isfile(path):
            faults.append("package %s is missing" % name)
            continue
        data = _read(path, "package")
        if len(data) != size:
            faults.append("package %s has %d bytes, the manifest says %d" % (name, len(data), size))
        elif hashlib.sha256(data).hexdigest() != digest:
            faults.append("package %s does not have the SHA-256 the manifest names" % name)
        faults.extend(authenticode.signature_faults(path, signers))
    if package_name is not None and package_name.lower() not in (n.lower() for n in names):
        faults.append("no package line names %s" % package_name)
    return faults


def verify(folder, public_keys, package_name=None, signers=(), freshness_keys=None, product=DEFAULT_PRODUCT,
           at=None):
    """Returns the list of faults of a staged folder; empty when the updater accepts it.
    `public_keys` are the release keys, `freshness_keys` (default the same) the keys of
    the freshness part; `at` the time of the check, seconds since 1970 (default now)."""
    try:
        version_file = read_version_file(folder)
    except PublishError as error:
        return [str(error)]
    manifest = parse_manifest(version_file)
    if manifest.verdict != Verdict.VALID:
        return ["version.txt is not well formed: %s" % manifest.verdict]
    faults = _release_faults(folder, manifest, public_keys, product, package_name, signers)
    if not signed_by_one_of(public_keys if freshness_keys is None else freshness_keys, manifest.signature,
                            manifest.signed_part):
        faults.append("the signature does not verify under any of the freshness keys given")
    now = int(time.time()) if at is None else at
    if now >= manifest.expires:
        faults.append("the file expired at %s (checked at %s)"
                      % (format_timestamp(manifest.expires), format_timestamp(now)))
    if now >= manifest.release_expires:
        faults.append("the release part expired at %s (checked at %s)"
                      % (format_timestamp(manifest.release_expires), format_timestamp(now)))
    return faults


def _refresh_faults(folder, version_file, manifest, release_keys, freshness_keys, product, recorded, now,
                    max_expired_days):
    """Why a well-formed version file may not be signed fresh again; empty when it may."""
    faults = _release_faults(folder, manifest, release_keys, product, None, ())
    if not signed_by_one_of(freshness_keys, manifest.signature, manifest.signed_part):
        faults.append("the signature does not verify under any of the freshness keys")
    unknown = [text for _, text, _ in manifest.freshness_lines[:-1] if not text.startswith(EXPIRES_WORD)]
    if unknown:
        faults.append("the freshness part holds lines other than its expiry: %s"
                      % ", ".join(repr(text.decode("latin-1")) for text in unknown))
    if hashlib.sha256(version_file[:manifest.release_signature_end]).hexdigest() != recorded:
        faults.append("the release part is not the one last staged (the record names another)")
    if now >= manifest.release_expires:
        faults.append("the release part expired at %s; refresh never moves that: stage the release again"
                      % format_timestamp(manifest.release_expires))
    elif now - manifest.expires > max_expired_days * 86400:
        faults.append("the file expired at %s, more than %g days ago: stage the release again"
                      % (format_timestamp(manifest.expires), max_expired_days))
    return faults


def refresh(folder, freshness_key_path, release_keys, record, expires_in_days=DEFAULT_EXPIRES_IN_DAYS,
            product=DEFAULT_PRODUCT, passphrase_env=None, now=None, freshness_keys=None,
            max_expired_days=DEFAULT_MAX_EXPIRED_DAYS, site=None):
    """Signs the freshness part of the folder's version.txt again with a new expiry,
    `expires_in_days` from `now` but not after the release expiry; the release part
    stays byte for byte. Only a file that verifies as it is (under `release_keys` and
    `freshness_keys`, default the public half of the freshness key), whose release part
    `record` names, and that expired at most `max_expired_days` ago. Returns the new
    file; on any fault raises with every cause named and writes nothing."""
    if not expires_in_days > 0:
        raise PublishError("--expires-in must be more than 0 days")
    if not max_expired_days >= 0:
        raise PublishError("--max-expired must be 0 days or more")
    _check_record_place(record, site or folder)
    recorded = read_record(record)
    version_file = read_version_file(folder)
    manifest = parse_manifest(version_file)
    if manifest.verdict != Verdict.VALID:
        raise PublishError("version.txt is not well formed: %s; nothing refreshed" % manifest.verdict)
    key = load_private_key(freshness_key_path, passphrase_env)
    if freshness_keys is None:
        freshness_keys = [key.public_key()]
    now = int(time.time()) if now is None else now
    faults = _refresh_faults(folder, version_file, manifest, release_keys, freshness_keys, product, recorded, now,
                             max_expired_days)
    if faults:
        raise PublishError("version.txt does not verify, nothing refreshed: " + "; ".join(faults))
    expires = min(expiry_after(expires_in_days, now), manifest.release_expires)
    _, _, line_end = manifest.freshness_lines[0]
    head = version_file[:manifest.release_signature_end] + b"expires " + format_timestamp(expires).encode("ascii")
    head += line_end
    refreshed = head + b"signature " + base64.b64encode(sign(key, head)) + b"\n"
    if len(refreshed) > MAX_VERSION_FILE_BYTES:
        raise PublishError("the version file would be %d bytes; the updater reads at most %d"
                           % (len(refreshed), MAX_VERSION_FILE_BYTES))
    write_atomically(os.path.join(folder, VERSION_FILE), refreshed)
    return refreshed


def _time_argument(text):
    seconds = parse_timestamp(text.encode("ascii", "replace"))
    if seconds is None:
        raise argparse.ArgumentTypeError("%r is not YYYY-MM-DDTHH:MM:SSZ" % text)
    return seconds


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    keygen = commands.add_parser("keygen", help="make a key pair")
    keygen.add_argument("--out-dir", required=True)
    keygen.add_argument("--name", default="vendor")
    keygen.add_argument("--bits", type=int, default=MIN_KEY_BITS)
    keygen.add_argument("--passphrase-env", help="environment variable holding the passphrase to encrypt with")
    staging = commands.add_parser("stage", help="publish a signed release")
    staging.add_argument("--release-key", "--key", dest="release_key", required=True)
    staging.add_argument("--freshness-key", help="private key of the freshness part; default the release key")
    staging.add_argument("--version", required=True)
    staging.add_argument("--package", action="append", required=True)
    staging.add_argument("--root", required=True)
    staging.add_argument("--token", default=DEFAULT_TOKEN)
    staging.add_argument("--product", default=DEFAULT_PRODUCT)
    staging.add_argument("--expires-in", type=float, default=DEFAULT_EXPIRES_IN_DAYS, metavar="DAYS")
    staging.add_argument("--release-expires-in", type=float, default=DEFAULT_RELEASE_EXPIRES_IN_DAYS, metavar="DAYS",
                         help="the release part's own expiry, at most %d days" % MAX_RELEASE_EXPIRES_IN_DAYS)
    staging.add_argument("--record", required=True,
                         help="file outside the site folder that names the staged release part for refresh")
    staging.add_argument("--line", action="append", default=[], help="a further signed line")
    staging.add_argument("--signer", action="append", default=[], help="a code-signing certificate")
    staging.add_argument("--passphrase-env")
    staging.add_argument("--freshness-passphrase-env", help="default --passphrase-env")
    refreshing = commands.add_parser("refresh", help="give a staged version file a new expiry")
    checking = commands.add_parser("verify", help="check a staged folder")
    for command in (refreshing, checking):
        where = command.add_mutually_exclusive_group(required=True)
        where.add_argument("--root")
        where.add_argument("--folder")
        command.add_argument("--key", action="append", required=True, help="a release public key (DER)")
        command.add_argument("--token", default=DEFAULT_TOKEN)
        command.add_argument("--product", default=DEFAULT_PRODUCT)
    refreshing.add_argument("--freshness-key", required=True, help="private key of the freshness part")
    refreshing.add_argument("--record", required=True, help="the record stage wrote")
    refreshing.add_argument("--expires-in", type=float, default=DEFAULT_EXPIRES_IN_DAYS, metavar="DAYS")
    refreshing.add_argument("--max-expired", type=float, default=DEFAULT_MAX_EXPIRED_DAYS, metavar="DAYS",
                            help="refuse a file that expired longer ago than this")
    refreshing.add_argument("--passphrase-env")
    refreshing.add_argument("--freshness-key-public", action="append", default=[],
                            help="a freshness public key (DER) the file may be signed with; default the public "
                                 "half of --freshness-key")
    checking.add_argument("--freshness-key-public", action="append", default=[],
                          help="a freshness public key (DER); default the release keys")
    checking.add_argument("--package-name")
    checking.add_argument("--at", type=_time_argument, help="check the expiry at this UTC time")
    checking.add_argument("--signer", action="append", default=[], help="a code-signing certificate")
    args = parser.parse_args(argv)
    try:
        if args.command == "keygen":
            for path in generate_key(args.out_dir, args.name, args.bits, args.passphrase_env):
                print(path)
        elif args.command == "stage":
            check_product(args.product)
            folder = product_folder(args.root, args.token, args.product)
            stage(args.release_key, args.version, args.package, folder, args.line, args.signer,
                  args.freshness_key, args.expires_in, args.product, args.passphrase_env,
                  args.freshness_passphrase_env, release_expires_in_days=args.release_expires_in,
                  record=args.record, site=args.root)
            print(os.path.join(folder, VERSION_FILE))
        elif args.command == "refresh":
            folder = args.folder or product_folder(args.root, args.token, args.product)
            freshness_keys = [load_public_key(path) for path in args.freshness_key_public] or None
            refreshed = parse_manifest(refresh(folder, args.freshness_key, [load_public_key(path) for path in args.key],
                                               args.record, args.expires_in, args.product, args.passphrase_env,
                                               freshness_keys=freshness_keys, max_expired_days=args.max_expired,
                                               site=args.root or args.folder))
            note = ""
            if refreshed.expires == refreshed.release_expires:
                note = " (the release part's own expiry: stage the release again before then)"
            print("refresh: %s now %s%s" % (os.path.join(folder, VERSION_FILE), format_timestamp(refreshed.expires),
                                            note))
        else:
            folder = args.folder or product_folder(args.root, args.token, args.product)
            release_keys = [load_public_key(path) for path in args.key]
            freshness_keys = [load_public_key(path) for path in args.freshness_key_public] or None
            faults = verify(folder, release_keys, args.package_name, args.signer, freshness_keys, args.product,
                            args.at)
            for fault in faults:
                print("verify: " + fault, file=sys.stderr)
            if faults:
                return 1
            print("verify: %s is signed, fresh and complete" % folder)
    except PublishError as error:
        print("publish: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
