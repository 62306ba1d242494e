#!/usr/bin/env python3
"""Prints a Windows shortcut's target and working folder, one a line:
    lnkinfo.py file.lnk
The target is the link information's local path (ANSI or Unicode); the
working folder is the third of the optional strings after it."""
import struct
import sys

HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR = 0x1, 0x2, 0x4, 0x8, 0x10
IS_UNICODE = 0x80


def cstring(data, at, wide):
    if wide:
        end = at
        while data[end:end + 2] != b"\0\0":
            end += 2
        return data[at:end].decode("utf-16-le")
    return data[at:data.index(b"\0", at)].decode("mbcs" if sys.platform == "win32" else "latin-1")


def parse(data):
    if struct.unpack_from("<I", data, 0)[0] != 0x4C:
        raise ValueError("not a shell link")
    flags = struct.unpack_from("<I", data, 20)[0]
    at = 76
    if flags & HAS_ID_LIST:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = ""
    if flags & HAS_LINK_INFO:
        size, header, info_flags, _, base = struct.unpack_from("<IIIII", data, at)
        if info_flags & 1:
            if header >= 0x24:
                target = cstring(data, at + struct.unpack_from("<I", data, at + 28)[0], True)
            else:
                target = cstring(data, at + base, False)
        at += size
    wide = bool(flags & IS_UNICODE)
    strings = {}
    for bit in (HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR):
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            at += 2
            length = count * (2 if wide else 1)
            raw = data[at:at + length]
            # Wine counts the terminating null too.
            strings[bit] = (raw.decode("utf-16-le") if wide else raw.decode("latin-1")).rstrip("\0")
            at += length
    return target, strings.get(HAS_WORKING_DIR, "")


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        target, workdir = parse(f.read())
    print(target)
    print(workdir)
