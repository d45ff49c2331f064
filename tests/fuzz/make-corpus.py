#!/usr/bin/env python3
"""Writes the seed corpus of each fuzz target into corpus/<target>/.

The seeds are checked in; rerun this after changing them here. Text inputs are written
as they are; the string-table and download-math inputs are packed little-endian as
their targets read them.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

VERSION = {
    "crlf": b"3.0.1.2\r\n",
    "short": b"3.1",
    "two-digit-major": b"10.0.1.2",
    "html": b"<html><body>404 Not Found</body></html>\n",
    "leading-space": b" 3.0.1.2",
    "leading-minus": b"-3.0.1.2",
    "nul-minor": b"3.\x00.1.2",
    "wraps-to-zero": b"4294967296",
    "all-65535": b"65535655356553565535",
    "older": b"2.9.9.9",
    "notes-after": b"3.0.1.3\nRelease notes: v3.1 fixes.\n",
}

SAFE_FORMAT = {
    "dotted": b"%d.%d.%d.%d",
    "question": b"Download version %d.%d.%d.%d now?",
    "non-integer": b"%s %n %p %f",
    "five": b"%d %d %d %d %d",
    "trailing-percent": b"100%",
    "escaped": b"%%d 100%%",
    "star": b"%*d %.*d",
    "widest": b"%-+ #064.64x",
    "modifiers": b"%lld %hhd %ld %I64d",
    "huge-width": b"%999999999d",
    "char": b"%c%5c%-5c|",
}

# One selector byte ('0' single-byte, '1' Shift-JIS, '2' 0x81-0xFE, '3' every byte
# leads), the path, a newline, the needle.
MBCS = {
    "outlook-path": b"0C:\\Program Files\\Microsoft Office\\Office10\\OUTLOOK.EXE\nOUTLOOK.EXE",
    "sjis-trail-backslash": b"1C:\\\x95\x5cx.exe\n\\x.exe",
    "sjis-lead-range-trail": b"1\x81\x81\x40\n\x81\x40",
    "dbcs-folder": b"2C:\\\xb1\xed\\QuorvelMgr.exe\nQuorvelMgr.exe",
    "every-byte-leads": b"3C:\\\\x\\\n\\x",
    "no-needle": b"0C:\\Downloads\\x.exe",
    "lead-at-end": b"1C:\\a\x81\n\x81",
}


def string_block(entries):
    out = b""
    for text in entries:
        units = text.encode("utf-16-le")
        out += struct.pack("<H", len(units) // 2) + units
    return out


def string_input(number, block):
    return struct.pack("<H", number) + block


FULL = string_block(["s%d" % i for i in range(16)])
STRING_TABLE = {
    "question-516": string_input(516, FULL),
    "last-65535": string_input(65535, FULL),
    "empty-entry": string_input(1, string_block(["a", "", "c"])),
    "truncated-block": string_input(5, string_block(["a", "b", "c"])),
    "count-past-end": string_input(0, struct.pack("<H", 10) + "abc".encode("utf-16-le")),
    "odd-byte-count": string_input(1, string_block(["ok"]) + b"\x01"),
    "non-ascii": string_input(1, string_block(["", "Gr\u00fc\u00dfe \u4e2d \U0001f600"])),
}


def math_input(progress, total, start, now):
    return struct.pack("<IIqq", progress, total, start, now)


INT64_MAX = 2**63 - 1
DOWNLOAD_MATH = {
    "half": math_input(512, 1024, 1000, 1080),
    "truncates": math_input(1023, 1024, 1000, 1081),
    "large-counts": math_input(3000000000, 4000000000, 1700000000, 1700000079),
    "unknown-total": math_input(5, 0, 0, -1),
    "saturates": math_input(0xFFFFFFFF, 1, INT64_MAX - 80, INT64_MAX),
    "clock-end": math_input(2048, 1024, INT64_MAX, -(2**63)),
}

SHA = b"0123456789abcdef" * 4
RELEASE_EXPIRES = b"release-expires 2027-12-23T00:00:00Z\n"
FRESH = RELEASE_EXPIRES + b"release-signature AAEC\nexpires 2026-12-23T00:00:00Z\nsignature AAEC\n"
MANIFEST = {
    "one-package": b"3.0.1.3\nproduct Quorvel30\npackage QuorvelUpdate.exe 3145728 " + SHA + b"\n" + FRESH,
    "crlf-two-packages": b"3.0.1.3\r\nproduct Quorvel30\r\npackage Quorvel Setup.exe 5 " + SHA
    + b"\r\npackage Q-de.exe 6 " + SHA + b"\r\nnotes x\r\nrelease-expires 2024-03-01T00:00:00Z\r\n"
    + b"release-signature AAECAw==\r\nserial 4\r\n"
    + b"expires 2024-02-29T12:00:00Z\r\nsignature AQIDBAU=\r\n",
    "single-signature": b"3.0.1.3\nproduct Quorvel30\npackage a 1 " + SHA + b"\nsignature AAEC\n",
    "signature-not-last": b"3.0.1.3\nproduct Quorvel30\n" + FRESH + b"\n",
    "duplicate-name": b"3.0.1.3\nproduct Q\npackage a 1 " + SHA + b"\npackage A 1 " + SHA + b"\n" + FRESH,
    "bad-base64": b"3.0.1.3\nproduct Q\n" + RELEASE_EXPIRES
    + b"release-signature AAF=\nexpires 2026-12-23T00:00:00Z\nsignature AAEC",
    "size-overflow": b"3.0.1.3\nproduct Q\npackage a 99999999999999999999 " + SHA + b"\n" + FRESH,
    "size-4gib": b"3.0.1.3\nproduct Q\npackage a 4294967296 " + SHA + b"\n" + FRESH,
    "misplaced-package": b"3.0.1.3\nproduct Q\n" + RELEASE_EXPIRES + b"release-signature AAEC\npackage a 1 " + SHA
    + b"\nexpires 2026-12-23T00:00:00Z\nsignature AAEC",
    "leap-second": b"3.0.1.3\nproduct Q\n" + RELEASE_EXPIRES
    + b"release-signature AAEC\nexpires 2016-12-31T23:59:60Z\nsignature AAEC",
    "no-line-end": b"3.0.1.3\nproduct Quorvel30\nrelease-expires 9999-12-31T23:59:59Z\nrelease-signature AAEC\n"
    + b"expires 9999-12-31T23:59:59Z\nsignature AAEC",
    "no-release-expiry": b"3.0.1.3\nproduct Quorvel30\nrelease-signature AAEC\nexpires 2026-12-23T00:00:00Z\n"
    + b"signature AAEC\n",
    "freshness-beyond-release": b"3.0.1.3\nproduct Quorvel30\nrelease-expires 2020-01-01T00:00:00Z\n"
    + b"release-signature AAEC\nexpires 9999-12-31T23:59:59Z\nsignature AAEC\n",
    "release-expiry-in-freshness-part": b"3.0.1.3\nproduct Q\n" + RELEASE_EXPIRES + b"release-signature AAEC\n"
    + RELEASE_EXPIRES + b"expires 2026-12-23T00:00:00Z\nsignature AAEC\n",
}

TARGETS = {
    "version": VERSION,
    "safe_format": SAFE_FORMAT,
    "mbcs": MBCS,
    "string_table": STRING_TABLE,
    "download_math": DOWNLOAD_MATH,
    "manifest": MANIFEST,
}

for target, seeds in TARGETS.items():
    folder = os.path.join(HERE, "corpus", target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
