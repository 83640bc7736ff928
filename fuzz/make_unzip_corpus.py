#!/usr/bin/env python3
"""Writes the seed archives of the unzip fuzz target into fuzz/corpus/unzip_fuzz/."""
import io
import os
import struct
import sys
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "fixtures"))
from zip_writers import Keys  # noqa: E402

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "unzip_fuzz")


def archive(items, prefix=b""):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for name, data, method, extra, mode in items:
            info = zipfile.ZipInfo(name, date_time=(2009, 4, 13, 11, 17, 22))
            info.compress_type = method
            info.extra = extra
            info.external_attr = mode << 16
            z.writestr(info, data)
    return prefix + buffer.getvalue()


def encrypted():
    """One stored item encrypted with the empty password, made by hand."""
    data = b"encrypted with the empty password"
    crc = zlib.crc32(data)
    body = Keys(b"").encrypt(b"0123456789a" + bytes([crc >> 24]) + data)
    name = b"secret.txt"
    local = struct.pack("<IHHHIIIIHH", 0x04034B50, 20, 1, 0, 0x3A8D5A2B, crc, len(body),
                        len(data), len(name), 0) + name
    central = struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 0x031E, 20, 1, 0, 0x3A8D5A2B, crc,
                          len(body), len(data), len(name), 0, 0, 0, 0, 0x81A40000, 0) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local + body), 0)
    return local + body + central + end


def zip64():
    """A deflated item whose sizes and offset stand in zip64 blocks, and a zip64 end record that
    the end record defers to."""
    data = b"zip64 " * 50
    stored = zlib.compress(data)[2:-4]
    crc = zlib.crc32(data)
    name = b"big/zip64.txt"
    sizes = struct.pack("<QQ", len(data), len(stored))
    local = struct.pack("<IHHHIIIIHH", 0x04034B50, 45, 0, 8, 0x3A8D5A2B, crc, 0xFFFFFFFF,
                        0xFFFFFFFF, len(name), 20) + name + struct.pack("<HH", 1, 16) + sizes
    extra = struct.pack("<HH", 1, 24) + sizes + struct.pack("<Q", 0)
    central = struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 0x032D, 45, 0, 8, 0x3A8D5A2B, crc,
                          0xFFFFFFFF, 0xFFFFFFFF, len(name), len(extra), 0, 0, 0, 0x81A40000,
                          0xFFFFFFFF) + name + extra
    body = local + stored
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 0x032D, 45, 0, 0, 1, 1, len(central),
                        len(body))
    locator = struct.pack("<IIQI", 0x07064B50, 0, len(body) + len(central), 1)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return body + central + end64 + locator + end


def main():
    os.makedirs(OUT, exist_ok=True)
    ut = b"UT\x09\x00\x03" + struct.pack("<ii", 1000000000, 1100000000)
    seeds = {
        "plain.zip": archive([
            ("Data/", b"", zipfile.ZIP_STORED, b"", 0o40755),
            ("Data/a.txt", b"hello " * 40, zipfile.ZIP_DEFLATED, ut, 0o644),
            ("Data/ro.bin", bytes(range(64)), zipfile.ZIP_STORED, b"", 0o444),
        ]),
        "hostile.zip": archive([
            ("../up.txt", b"x", zipfile.ZIP_STORED, b"", 0o644),
            ("C:\\win\\a.txt", b"x", zipfile.ZIP_STORED, b"", 0o644),
            ("a/../../b.txt", b"x", zipfile.ZIP_DEFLATED, b"", 0o644),
            ("/abs/c.txt", b"x", zipfile.ZIP_STORED, b"", 0o644),
            ("NUL", b"x", zipfile.ZIP_STORED, b"", 0o644),
        ]),
        "prefixed.zip": archive([("p.txt", b"prefixed", zipfile.ZIP_DEFLATED, ut, 0o644)],
                                prefix=b"MZ" + bytes(200)),
        "encrypted.zip": encrypted(),
        "zip64.zip": zip64(),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
