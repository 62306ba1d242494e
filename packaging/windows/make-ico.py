#!/usr/bin/env python3
"""Packs the program's PNG icons into one Windows .ico (PNG-compressed
entries, which Windows Vista and later and Wine read):
    packaging/windows/make-ico.py out.ico in-16.png in-32.png ...
"""
import struct
import sys


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("not a PNG file")
    return struct.unpack(">II", data[16:24])


def main():
    out, inputs = sys.argv[1], sys.argv[2:]
    images = [open(p, "rb").read() for p in inputs]
    offset = 6 + 16 * len(images)
    head = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    for data in images:
        w, h = png_size(data)
        if w > 256 or h > 256:
            raise SystemExit("icons are at most 256 x 256")
        entries += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(head + entries + b"".join(images))


if __name__ == "__main__":
    main()
