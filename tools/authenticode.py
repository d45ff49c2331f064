#!/usr/bin/python3
"""The installer's own lock: Authenticode signatures made with the vendor's code-signing key.

The updater runs a package only when its Authenticode signature verifies and the signer's
key is one the build pins: the SHA-256 of each code-signing certificate's
SubjectPublicKeyInfo (SEEKWELL_INSTALLER_SIGNERS), so a renewed certificate with the same
key still passes. This module is that lock's side of the vendor's tools; the build, the
tests and tools/publish.py use it.

  devpair --key KEY.pem --cert CERT.pem [--subject NAME]
      Makes a throwaway code-signing pair (RSA, self-signed, extended key usage code
      signing) for development builds. Never overwrites a file.

  pin --cert CERT --out FILE
      Writes the 32-byte SHA-256 of the certificate's SubjectPublicKeyInfo (PEM or DER
      certificate), as the updater compares it.

  sign --key KEY.pem --cert CERT.pem --in FILE --out SIGNED [--append FILE]
      Signs a program with osslsigncode (SHA-256), optionally with the bytes of another
      file appended first (a large installer's payload, say).

  verify --signer CERT [--signer ...] FILE
      Says whether FILE's signature verifies with one of those certificates' keys.

Exit status 0 on success; 1 with a message on stderr otherwise.
"""

import argparse
import datetime
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.hazmat.primitives.serialization import pkcs7
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

DEV_SUBJECT = "Brannick code signing (development build)"
KEY_BITS = 3072
DEV_VALIDITY_DAYS = 10 * 365
# The system's trust anchors, as osslsigncode and the updater's platform use them.
SYSTEM_ROOTS = "/etc/ssl/certs/ca-certificates.crt"
# WIN_CERTIFICATE's revision 2.0 and its PKCS#7 type, as some osslsigncode versions
# write the extracted signature: a little-endian length, then these, then the DER.
WIN_CERTIFICATE_PKCS7 = b"\x00\x02\x02\x00"


class SignatureError(Exception):
    """A fault the vendor must mend; its text is the message shown."""


def _read(path, what):
    try:
        with open(path, "rb") as source:
            return source.read()
    except OSError as error:
        raise SignatureError("cannot read %s %s: %s" % (what, path, error.strerror)) from None


def load_certificate(path):
    """A certificate from a PEM or DER file."""
    data = _read(path, "certificate")
    try:
        if data.lstrip().startswith(b"-----BEGIN"):
            return x509.load_pem_x509_certificate(data)
        return x509.load_der_x509_certificate(data)
    except ValueError as error:
        raise SignatureError("%s is not a PEM or DER certificate: %s" % (path, error)) from None


def key_pin(certificate):
    """SHA-256 of the certificate's SubjectPublicKeyInfo: what the updater pins."""
    info = certificate.public_key().public_bytes(serialization.Encoding.DER,
                                                 serialization.PublicFormat.SubjectPublicKeyInfo)
    return hashlib.sha256(info).digest()


def make_dev_pair(key_path, cert_path, subject=DEV_SUBJECT):
    """Writes a new private key (PKCS#8, mode 0600) and its self-signed code-signing
    certificate; two calls with the same subject give two keys under one name."""
    for path in (key_path, cert_path):
        if os.path.exists(path):
            raise SignatureError("%s exists already; a key is never overwritten" % path)
    key = rsa.generate_private_key(public_exponent=65537, key_size=KEY_BITS)
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, subject)])
    now = datetime.datetime.now(datetime.timezone.utc)
    certificate = (
        x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(now - datetime.timedelta(days=1))
        .not_valid_after(now + datetime.timedelta(days=DEV_VALIDITY_DAYS))
        .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
        .add_extension(x509.KeyUsage(digital_signature=True, content_commitment=False, key_encipherment=False,
                                     data_encipherment=False, key_agreement=False, key_cert_sign=False,
                                     crl_sign=False, encipher_only=False, decipher_only=False), critical=True)
        .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.CODE_SIGNING]), critical=False)
        .sign(key, hashes.SHA256()))
    os.makedirs(os.path.dirname(os.path.abspath(key_path)), exist_ok=True)
    descriptor = os.open(key_path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(descriptor, "wb") as key_file:
        key_file.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                         serialization.NoEncryption()))
    with open(cert_path, "wb") as cert_file:
        cert_file.write(certificate.public_bytes(serialization.Encoding.PEM))


def _osslsigncode():
    tool = shutil.which("osslsigncode")
    if tool is None:
        raise SignatureError("osslsigncode is not installed (Debian package osslsigncode)")
    return tool


def sign(key_path, cert_path, source, target, append=None):
    """Signs `source` into `target` with SHA-256; with `append`, that file's bytes are
    added to the program first, as an installer carries its payload."""
    tool = _osslsigncode()
    with tempfile.TemporaryDirectory() as work:
        unsigned = source
        if append is not None:
            unsigned = os.path.join(work, "unsigned.exe")
            with open(unsigned, "wb") as out:
                for path in (source, append):
                    with open(path, "rb") as part:
                        shutil.copyfileobj(part, out, 1024 * 1024)
        signed = os.path.join(work, "signed.exe")
        done = subprocess.run([tool, "sign", "-h", "sha256", "-certs", cert_path, "-key", key_path,
                               "-in", unsigned, "-out", signed], capture_output=True, text=True)
        if done.returncode != 0:
            raise SignatureError("osslsigncode could not sign %s: %s" % (source, _reason(done)))
        shutil.move(signed, target)
    shutil.copymode(source, target)


def _reason(done):
    """The lines of osslsigncode's output that say what failed."""
    lines = [line.strip() for line in (done.stdout + done.stderr).splitlines()]
    telling = [line for line in lines if "MISMATCH" in line or "rror" in line or "does not" in line
               or "ailed" in line]
    return "; ".join(telling[:4]) or "osslsigncode exited with %d" % done.returncode


def _embedded_certificates(tool, package, work):
    """The certificates the package's signature carries; None when it has none."""
    extracted = os.path.join(work, "signature.p7")
    done = subprocess.run([tool, "extract-signature", "-in", package, "-out", extracted], capture_output=True)
    if done.returncode != 0 or not os.path.exists(extracted):
        return None
    data = _read(extracted, "signature")
    if data[4:8] == WIN_CERTIFICATE_PKCS7:
        data = data[8:int.from_bytes(data[:4], "little")]
    try:
        return pkcs7.load_der_pkcs7_certificates(data)
    except ValueError:
        return None


def signature_faults(package, signer_paths):
    """What keeps `package` from being signed with one of the keys of `signer_paths`
    (certificates), as the updater checks it; empty when nothing does, and when no
    signer is given. The signature must verify (digest, signature, a chain to the
    system's roots or to one of the certificates given) with a signer certificate whose
    key is one of theirs."""
    if not signer_paths:
        return []
    try:
        return _signature_faults(package, signer_paths)
    except SignatureError as error:
        return [str(error)]


def _signature_faults(package, signer_paths):
    name = os.path.basename(package)
    tool = _osslsigncode()
    given = [load_certificate(path) for path in signer_paths]
    pins = {key_pin(certificate) for certificate in given}
    with tempfile.TemporaryDirectory() as work:
        embedded = _embedded_certificates(tool, package, work)
        if embedded is None:
            return ["package %s carries no Authenticode signature" % name]
        # The signer is one of these: the certificates given, or one the signature carries
        # with a key of theirs (a renewed certificate); osslsigncode tells which one signed.
        # Trust rests on the key, as in the updater, so each is tried as its own anchor
        # beside the system's roots (alone: certificates of one name would hide each other).
        candidates = {certificate.public_bytes(serialization.Encoding.DER): certificate
                      for certificate in given + [c for c in embedded if key_pin(c) in pins]}
        roots = _read(SYSTEM_ROOTS, "trust anchors") if os.path.exists(SYSTEM_ROOTS) else b""
        anchors = os.path.join(work, "anchors.pem")
        reason = ""
        for der, certificate in candidates.items():
            with open(anchors, "wb") as out:
                out.write(roots + certificate.public_bytes(serialization.Encoding.PEM))
            done = subprocess.run([tool, "verify", "-in", package, "-CAfile", anchors,
                                   "-require-leaf-hash", "sha256:" + hashlib.sha256(der).hexdigest()],
                                  capture_output=True, text=True)
            if done.returncode == 0:
                return []
            reason = _reason(done)
    return ["package %s is not signed with the key of any --signer certificate (%s)" % (name, reason)]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    pair = commands.add_parser("devpair", help="make a development code-signing pair")
    pair.add_argument("--key", required=True)
    pair.add_argument("--cert", required=True)
    pair.add_argument("--subject", default=DEV_SUBJECT)
    pin = commands.add_parser("pin", help="write the key pin of a certificate")
    pin.add_argument("--cert", required=True)
    pin.add_argument("--out", required=True)
    signing = commands.add_parser("sign", help="sign a program")
    signing.add_argument("--key", required=True)
    signing.add_argument("--cert", required=True)
    signing.add_argument("--in", dest="source", required=True)
    signing.add_argument("--out", required=True)
    signing.add_argument("--append")
    checking = commands.add_parser("verify", help="check a signed program")
    checking.add_argument("--signer", action="append", required=True)
    checking.add_argument("file")
    args = parser.parse_args(argv)
    try:
        if args.command == "devpair":
            make_dev_pair(args.key, args.cert, args.subject)
        elif args.command == "pin":
            with open(args.out, "wb") as out:
                out.write(key_pin(load_certificate(args.cert)))
        elif args.command == "sign":
            sign(args.key, args.cert, args.source, args.out, args.append)
        else:
            faults = signature_faults(args.file, args.signer)
            for fault in faults:
                print("verify: " + fault, file=sys.stderr)
            if faults:
                return 1
            print("verify: %s is signed with a key given" % args.file)
    except SignatureError as error:
        print("authenticode: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
