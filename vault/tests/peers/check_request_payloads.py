#!/usr/bin/python3
"""Decodes the request payloads recorded by RequestPayloadsPeer with `protoc --decode_raw`
and checks each against the fields its operation must carry, in order.

Usage: check_request_payloads.py FOLDER  (the files FOLDER/<operation>.bin)."""
import codecs
import pathlib
import subprocess
import sys

KEY_ID = bytes([0x07, 0x56, 0x34, 0x12, 0xAB, 0x89, 0xEF, 0xCD,
                0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF])
KEY = bytes(range(0xC0, 0xE0))

EXPECTED = {
    "send_operation_5": [(1, 5)],
    "unload_user_bkeys_null": [(1, 9)],
    "unload_user_bkeys_sid": [(1, 9), (9, b"S-1-5-18")],
    "remove_sso_data_null": [(1, 15)],
    "remove_sso_data_sid": [(1, 15), (9, b"S-1-5-21-7-8-9-1000")],
    "remove_sso_data_latin1": [(1, 15), (9, "J\u00f6rg".encode("utf-8"))],
    "unload_lkey": [(1, 6), (2, KEY_ID)],
    "load_lkey": [(1, 7), (3, 1), (8, KEY), (2, KEY_ID), (7, 1)],
    # Surrogate halves are written one by one: 3 bytes each.
    "load_lkey_texts": [(1, 7), (3, 200), (8, b"\x00\xff"), (2, KEY_ID), (4, b"d1"),
                        (5, b"\xed\xa0\xbd\xed\xb8\x80"), (6, "\u20ac".encode("utf-8")), (7, 0)],
}


def decode_raw(payload):
    """Top-level fields of protoc's raw decoding as (number, int or bytes); a nested
    group or message (which none of these payloads may look like) is kept as its text."""
    text = subprocess.run(["/usr/bin/protoc", "--decode_raw"], input=payload,
                          capture_output=True, check=True).stdout.decode("ascii")
    fields, depth = [], 0
    for line in text.splitlines():
        line = line.strip()
        if line.endswith("{"):
            if depth == 0:
                fields.append((int(line.split()[0]), "nested"))
            depth += 1
        elif line == "}":
            depth -= 1
        elif depth == 0 and line:
            number, value = line.split(": ", 1)
            if value.startswith('"'):
                fields.append((int(number), codecs.escape_decode(value[1:-1].encode("ascii"))[0]))
            else:
                fields.append((int(number), int(value, 0)))
    return fields


def main(folder):
    failures = 0
    for name, expected in EXPECTED.items():
        path = pathlib.Path(folder) / (name + ".bin")
        if not path.exists():
            print("FAIL %s: no recorded payload at %s" % (name, path))
            failures += 1
            continue
        got = decode_raw(path.read_bytes())
        if got != expected:
            print("FAIL %s:\n  protoc:   %r\n  expected: %r" % (name, got, expected))
            failures += 1
        else:
            print("ok   %s: %r" % (name, got))
    print("%d passed, %d failed" % (len(EXPECTED) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
