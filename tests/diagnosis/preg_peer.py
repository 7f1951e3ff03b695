#!/usr/bin/env python3
"""An independent Registry.pol reader and writer, written from the file format alone, to check
Quorvane's own against.

    preg_peer.py write FILE   writes one record of every form to FILE
    preg_peer.py read FILE    prints each record as key|value|type|data-in-hex, one a line
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


def read(path):
    blob = open(path, "rb").read()
    if blob[:4] != SIGNATURE or struct.unpack("<I", blob[4:8])[0] != VERSION:
        sys.exit("bad header")
    pos = 8

    def unit():
        nonlocal pos
        value = blob[pos:pos + 2].decode("utf-16-le")
        pos += 2
        return value

    def string():
        nonlocal pos
        end = pos
        while blob[end:end + 2] != b"\0\0":
            end += 2
        value = blob[pos:end].decode("utf-16-le")
        pos = end + 2
        return value

    def number():
        nonlocal pos
        value = struct.unpack("<I", blob[pos:pos + 4])[0]
        pos += 4
        return value

    while pos < len(blob):
        assert unit() == "["
        key = string()
        assert unit() == ";"
        value = string()
        assert unit() == ";"
        kind = number()
        assert unit() == ";"
        size = number()
        assert unit() == ";"
        data = blob[pos:pos + size]
        assert len(data) == size
        pos += size
        assert unit() == "]"
        line = "%s|%s|%d|%s" % (key, value, kind, data.hex())
        sys.stdout.buffer.write(line.encode("utf-8") + b"\n")


if __name__ == "__main__":
    {"write": write, "read": read}[sys.argv[1]](sys.argv[2])
