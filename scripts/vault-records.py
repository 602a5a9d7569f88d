#!/usr/bin/env python3
"""Decodes the requests the vault-driver double recorded.

  vault-records.py FILE

FILE holds one record per request: [u32 length, little-endian][the request frame]. A frame
is a 16-byte header (magic 0xCAFEBEEF, reserved, status, payload length) and the
protocol-buffers payload, which `protoc --decode_raw` decodes. Prints per request:
  request N: FRAME bytes, payload HEX
  <protoc --decode_raw output, indented>
and ends with exit 0, or 1 when the file cannot be read or holds a cut record.
"""
import struct
import subprocess
import sys

HEADER = 16


def main(argv):
    if len(argv) != 1:
        sys.stderr.write(__doc__)
        return 2
    try:
        with open(argv[0], "rb") as f:
            data = f.read()
    except OSError as error:
        sys.stderr.write(f"vault-records: {error}\n")
        return 1
    at, number = 0, 0
    while at < len(data):
        if at + 4 > len(data):
            sys.stderr.write("vault-records: cut record length\n")
            return 1
        (length,) = struct.unpack_from("<I", data, at)
        frame = data[at + 4:at + 4 + length]
        if len(frame) != length:
            sys.stderr.write("vault-records: cut record\n")
            return 1
        at += 4 + length
        number += 1
        magic = struct.unpack_from("<I", frame, 0)[0] if len(frame) >= 4 else None
        payload = frame[HEADER:]
        shown = "magic %08X" % magic if magic is not None else "no header"
        print(f"request {number}: {length} bytes ({shown}), payload {payload.hex(' ').upper()}")
        decoded = subprocess.run(["protoc", "--decode_raw"], input=payload, capture_output=True)
        text = (decoded.stdout or decoded.stderr).decode("utf-8", "replace").rstrip("\n")
        for line in text.splitlines():
            print("  " + line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
