#!/usr/bin/python3
"""Pins what wixl leaves to chance in a package's summary information: writes the given
package code (PID_REVNUMBER) and the given time (seconds since 1970) as the creation,
last-saved and last-printed times, in place. Every one of those values keeps its length,
so the stream is rewritten with the same size.

    pin_msi_summary.py MSI PACKAGE_CODE EPOCH

Needs python3-olefile (Debian). Exits 1 naming what it could not find."""
import struct
import sys

import olefile

SUMMARY = "\x05SummaryInformation"
PID_REVNUMBER, PID_LASTPRINTED, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 11, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
# FILETIME counts 100-ns intervals since 1601-01-01.
EPOCH_AS_FILETIME = 116444736000000000


def pinned(stream: bytes, package_code: str, epoch: int) -> bytes:
    data = bytearray(stream)
    (section,) = struct.unpack_from("<I", data, 28 + 16)
    _, count = struct.unpack_from("<II", data, section)
    seen = set()
    for i in range(count):
        pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * i)
        at = section + offset
        (kind,) = struct.unpack_from("<I", data, at)
        if pid in (PID_LASTPRINTED, PID_CREATE_DTM, PID_LASTSAVE_DTM) and kind == VT_FILETIME:
            struct.pack_into("<Q", data, at + 4, EPOCH_AS_FILETIME + epoch * 10_000_000)
            seen.add(pid)
        elif pid == PID_REVNUMBER and kind == VT_LPSTR:
            (length,) = struct.unpack_from("<I", data, at + 4)
            code = package_code.encode("ascii") + b"\0"
            if len(code) != length:
                sys.exit(f"pin_msi_summary: the package code takes {length} bytes, not {len(code)}")
            data[at + 8:at + 8 + length] = code
            seen.add(pid)
    for pid in (PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM):
        if pid not in seen:
            sys.exit(f"pin_msi_summary: no property {pid} in the summary information")
    return bytes(data)


def main() -> None:
    msi, package_code, epoch = sys.argv[1], sys.argv[2].upper(), int(sys.argv[3])
    with olefile.OleFileIO(msi, write_mode=True) as ole:
        ole.write_stream(SUMMARY, pinned(ole.openstream(SUMMARY).read(), package_code, epoch))


if __name__ == "__main__":
    main()
