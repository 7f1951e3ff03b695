#!/usr/bin/python3
"""Samba's Registry.pol reader and writer (samba.dcerpc.preg, Debian's python3-samba), as an
independent peer for the policy files Quorvane changes.

    samba_pol.py write FILE   writes a policy file with two restrictions and two other records
    samba_pol.py read FILE    prints each record: key|value|type|data
"""
import sys

from samba.dcerpc import preg
from samba.ndr import ndr_pack, ndr_unpack

RESTRICTIONS = "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions"
REG_SZ, REG_DWORD = 1, 4

RECORDS = [
    (RESTRICTIONS, "NoBrowserClose", REG_DWORD, 1),
    ("Software\\Policies\\Other", "Keep", REG_SZ, "kept text"),
    (RESTRICTIONS, "NoPrinting", REG_DWORD, 1),
    ("Software\\Policies\\Other", "Number", REG_DWORD, 7),
]


def write(path):
    policy = preg.file()
    policy.header.signature = "PReg"
    policy.header.version = 1
    entries = []
    for key, value, kind, data in RECORDS:
        entry = preg.entry()
        entry.keyname = key
        entry.valuename = value
        entry.type = kind
        entry.data = data
        entries.append(entry)
    policy.num_entries = len(entries)
    policy.entries = entries
    with open(path, "wb") as out:
        out.write(ndr_pack(policy))


def read(path):
    with open(path, "rb") as source:
        policy = ndr_unpack(preg.file, source.read())
    for entry in policy.entries:
        print("%s|%s|%d|%s" % (entry.keyname, entry.valuename, entry.type, entry.data))


if __name__ == "__main__":
    {"write": write, "read": read}[sys.argv[1]](sys.argv[2])
