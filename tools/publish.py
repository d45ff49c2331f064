#!/usr/bin/python3
"""The vendor's tool for publishing a signed update.

  keygen --out-dir DIR [--name NAME] [--bits 3072]
      Writes NAME-private.pem (PKCS#8, mode 0600) and NAME-public.der (DER
      SubjectPublicKeyInfo): the public key is what the updater is built with
      (SEEKWELL_SIGNING_KEYS), the private key stays with the vendor.

  stage --key PRIVATE.pem --version M.m.b.r --package FILE [--package FILE ...]
        --root DIR [--token q7k2m9x4] [--product Quorvel30] [--line TEXT ...]
        [--signer CERT ...]
      Copies the packages to DIR/store/<token>/<product>/ and writes version.txt
      beside them: the version line, one "package <name> <size> <sha-256>" line per
      package, any further lines given, and last "signature <base64>", an RSA PKCS#1
      v1.5 SHA-256 signature over every byte before it. The packages are in place
      before version.txt appears (written to a temporary file and renamed), so a client
      never sees a manifest whose packages are missing. The folder is what any static
      web server or CDN serves. With --signer (the vendor's code-signing certificates,
      SEEKWELL_INSTALLER_SIGNERS), a package whose Authenticode signature does not
      verify with one of their keys is refused and nothing is written.

  verify (--root DIR | --folder DIR) --key PUBLIC.der [--key ...] [--package-name NAME]
         [--signer CERT ...]
      Checks a staged folder as the updater does and says what is wrong, if anything;
      with --signer, each package's Authenticode signature too.

Exit status 0 on success; 1 with a message on stderr otherwise.
"""

import argparse
import base64
import hashlib
import os
import re
import shutil
import sys
import tempfile

import authenticode
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa

MIN_KEY_BITS = 3072
MAX_VERSION_FILE_BYTES = 64 * 1024
DEFAULT_TOKEN = "q7k2m9x4"
DEFAULT_PRODUCT = "Quorvel30"
VERSION_FILE = "version.txt"
# The updater reads the version from the first seven characters, one digit each.
VERSION_PATTERN = re.compile(r"^[0-9]\.[0-9]\.[0-9]\.[0-9]$")
PACKAGE_LINE = re.compile(rb"^package (.+) ([0-9]+) ([0-9a-f]{64})$")


class PublishError(Exception):
    """A fault the vendor must mend; its text is the message shown."""


def _read(path, what):
    try:
        with open(path, "rb") as source:
            return source.read()
    except OSError as error:
        raise PublishError("cannot read %s %s: %s" % (what, path, error.strerror)) from None


def generate_key(out_dir, name="vendor", bits=MIN_KEY_BITS):
    """Writes a new key pair; returns (private path, public path)."""
    if bits < MIN_KEY_BITS:
        raise PublishError("keys of fewer than %d bits are not trusted by the updater" % MIN_KEY_BITS)
    private_path = os.path.join(out_dir, name + "-private.pem")
    public_path = os.path.join(out_dir, name + "-public.der")
    for path in (private_path, public_path):
        if os.path.exists(path):
            raise PublishError("%s exists already; a key is never overwritten" % path)
    os.makedirs(out_dir, exist_ok=True)
    key = rsa.generate_private_key(public_exponent=65537, key_size=bits)
    private_pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption())
    public_der = key.public_key().public_bytes(serialization.Encoding.DER,
                                               serialization.PublicFormat.SubjectPublicKeyInfo)
    descriptor = os.open(private_path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(descriptor, "wb") as private_file:
        private_file.write(private_pem)
    with open(public_path, "wb") as public_file:
        public_file.write(public_der)
    return private_path, public_path


def load_private_key(path):
    try:
        key = serialization.load_pem_private_key(_read(path, "key"), password=None)
    except (ValueError, TypeError) as error:
        raise PublishError("%s is not an unencrypted PEM private key: %s" % (path, error)) from None
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


def manifest_body(version, packages, extra_lines=()):
    """The signed part: version line, package lines, extra lines; LF line ends."""
    lines = [version]
    for name, data in packages:
        lines.append("package %s %d %s" % (name, len(data), hashlib.sha256(data).hexdigest()))
    lines.extend(extra_lines)
    return ("\n".join(lines) + "\n").encode("utf-8")


def product_folder(root, token=DEFAULT_TOKEN, product=DEFAULT_PRODUCT):
    return os.path.join(root, "store", token, product)


def _write_atomically(path, data):
    descriptor, temporary = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".version-")
    try:
        with os.fdopen(descriptor, "wb") as out:
            out.write(data)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def stage(key_path, version, package_paths, folder, extra_lines=(), signers=()):
    """Publishes a release into `folder`; returns the version file's bytes."""
    if not VERSION_PATTERN.match(version):
        raise PublishError("version %r is not M.m.b.r with one digit each (the updater reads seven "
                           "characters at fixed places)" % version)
    if not package_paths:
        raise PublishError("a release needs at least one package")
    for line in extra_lines:
        if "\n" in line or "\r" in line or line.startswith(("package ", "signature ")):
            raise PublishError("extra line %r would be read as part of the manifest" % line)
    key = load_private_key(key_path)
    packages = []
    for path in package_paths:
        name = os.path.basename(path)
        if any(name.lower() == other.lower() for other, _ in packages):
            raise PublishError("two packages are named %s (names compare without case)" % name)
        data = _read(path, "package")
        if not data:
            raise PublishError("package %s is empty" % path)
        faults = authenticode.signature_faults(path, signers)
        if faults:
            raise PublishError(faults[0])
        packages.append((name, data))
    body = manifest_body(version, packages, extra_lines)
    version_file = body + b"signature " + base64.b64encode(sign(key, body)) + b"\n"
    if len(version_file) > MAX_VERSION_FILE_BYTES:
        raise PublishError("the version file would be %d bytes; the updater reads at most %d"
                           % (len(version_file), MAX_VERSION_FILE_BYTES))
    os.makedirs(folder, exist_ok=True)
    for path, (name, _) in zip(package_paths, packages):
        target = os.path.join(folder, name)
        if not (os.path.exists(target) and os.path.samefile(path, target)):
            shutil.copyfile(path, target)
    _write_atomically(os.path.join(folder, VERSION_FILE), version_file)
    return version_file


def verify(folder, public_keys, package_name=None, signers=()):
    """Returns the list of faults of a staged folder; empty when the updater accepts it."""
    version_file = _read(os.path.join(folder, VERSION_FILE), "version file")
    if len(version_file) > MAX_VERSION_FILE_BYTES:
        return ["version.txt has %d bytes; the updater refuses more than %d"
                % (len(version_file), MAX_VERSION_FILE_BYTES)]
    lines = version_file.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    if not lines or not lines[-1].rstrip(b"\r").startswith(b"signature "):
        return ["the last line of version.txt is not the signature"]
    signed = version_file[:version_file.rfind(b"signature ")]
    try:
        signature = base64.b64decode(lines[-1].rstrip(b"\r")[len(b"signature "):], validate=True)
    except ValueError:
        return ["the signature is not base64"]
    faults = []
    for key in public_keys:
        try:
            key.verify(signature, signed, padding.PKCS1v15(), hashes.SHA256())
            break
        except InvalidSignature:
            continue
    else:
        faults.append("the signature does not verify under any of the keys given")
    if not VERSION_PATTERN.match(lines[0].rstrip(b"\r").decode("latin-1")):
        faults.append("the version line %r is not M.m.b.r" % lines[0])
    names = []
    for line in lines[1:-1]:
        line = line.rstrip(b"\r")
        if line == b"signature" or line.startswith(b"signature "):
            faults.append("a second signature line")
            continue
        if not line.startswith(b"package "):
            continue
        match = PACKAGE_LINE.match(line)
        if not match:
            faults.append("malformed package line %r" % line)
            continue
        name, size, digest = match.group(1).decode("utf-8"), int(match.group(2)), match.group(3).decode()
        if name.lower() in (n.lower() for n in names):
            faults.append("package %s is named twice" % name)
        names.append(name)
        path = os.path.join(folder, name)
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


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    keygen = commands.add_parser("keygen", help="make a key pair")
    keygen.add_argument("--out-dir", required=True)
    keygen.add_argument("--name", default="vendor")
    keygen.add_argument("--bits", type=int, default=MIN_KEY_BITS)
    staging = commands.add_parser("stage", help="publish a signed release")
    staging.add_argument("--key", required=True)
    staging.add_argument("--version", required=True)
    staging.add_argument("--package", action="append", required=True)
    staging.add_argument("--root", required=True)
    staging.add_argument("--token", default=DEFAULT_TOKEN)
    staging.add_argument("--product", default=DEFAULT_PRODUCT)
    staging.add_argument("--line", action="append", default=[], help="a further signed line")
    staging.add_argument("--signer", action="append", default=[], help="a code-signing certificate")
    checking = commands.add_parser("verify", help="check a staged folder")
    where = checking.add_mutually_exclusive_group(required=True)
    where.add_argument("--root")
    where.add_argument("--folder")
    checking.add_argument("--key", action="append", required=True)
    checking.add_argument("--package-name")
    checking.add_argument("--signer", action="append", default=[], help="a code-signing certificate")
    checking.add_argument("--token", default=DEFAULT_TOKEN)
    checking.add_argument("--product", default=DEFAULT_PRODUCT)
    args = parser.parse_args(argv)
    try:
        if args.command == "keygen":
            for path in generate_key(args.out_dir, args.name, args.bits):
                print(path)
        elif args.command == "stage":
            folder = product_folder(args.root, args.token, args.product)
            stage(args.key, args.version, args.package, folder, args.line, args.signer)
            print(os.path.join(folder, VERSION_FILE))
        else:
            folder = args.folder or product_folder(args.root, args.token, args.product)
            faults = verify(folder, [load_public_key(path) for path in args.key], args.package_name, args.signer)
            for fault in faults:
                print("verify: " + fault, file=sys.stderr)
            if faults:
                return 1
            print("verify: %s is signed and complete" % folder)
    except PublishError as error:
        print("publish: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
