#!/usr/bin/env python3
"""An independent Registry.pol writer, written from the file format alone, to check Quorvane's
reader and writer against.

    preg_peer.py FILE   writes one record of every form to FILE
"""
import struct
import sys

SIGNATURE = b"PReg"
VERSION = 1
REG_NONE, REG_SZ, REG_BINARY, REG_DWORD = 0, 1, 3, 4

RESTRICTIONS = "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions"
SYSTEM = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System"


def text(value):
    return (value + "\0").encode("utf-16-le")


def record(key, value, kind, data):
    return b"".join([
        "[".encode("utf-16-le"), text(key), ";".encode("utf-16-le"),
        text(value), ";".encode("utf-16-le"),
        struct.pack("<I", kind), ";".encode("utf-16-le"),
        struct.pack("<I", len(data)), ";".encode("utf-16-le"),
        data, "]".encode("utf-16-le"),
    ])


RECORDS = [
    (SYSTEM, "DisableRegistryTools", REG_DWORD, struct.pack("<I", 1)),
    ("Software\\Microsoft\\Internet Explorer\\Main", "Window Title", REG_SZ, text("Grüße Ωmega")),
    (RESTRICTIONS, "**del.NoViewSource", REG_SZ, text(" ")),
    (RESTRICTIONS, "**delvals.", REG_SZ, text(" ")),
    (RESTRICTIONS, "**DeleteValues", REG_SZ, text("NoPrinting;NoFileNew")),
    ("Software\\Policies", "**DeleteKeys", REG_SZ, text("Old;Older")),
    (RESTRICTIONS, "**soft.NoFavorites", REG_DWORD, struct.pack("<I", 2)),
    (RESTRICTIONS, "**SecureKey", REG_DWORD, struct.pack("<I", 1)),
    (RESTRICTIONS, "", REG_NONE, b""),
    (RESTRICTIONS, "Blob", REG_BINARY, bytes([0, 0x5B, 0, 0x5D, 0, 0x3B, 0, 0xFF])),
]


def write(path):
    with open(path, "wb") as out:
        out.write(SIGNATURE + struct.pack("<I", VERSION))
        for key, value, kind, data in RECORDS:
            out.write(record(key, value, kind, data))


if __name__ == "__main__":
    write(sys.argv[1])
