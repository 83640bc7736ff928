#!/usr/bin/env python3
"""Checks what a built Tarvo.exe says of itself, read straight from the PE file.

    check_exe.py EXE --version X.Y.Z [--stripped yes|no]

The version resource: one VERSIONINFO in language 2052 (Chinese, PRC) whose fixed part carries
X.Y.Z.0 as file and product version for a Windows GUI application, whose one string table
"080404b0" names Tarvo and its version, and whose Translation lists 2052 with code page 1200.
With --stripped yes: no symbol table, no debug sections, no debug directory.

Prints every difference and exits 1 when there is one; exits 77 (skipped) when EXE does not
exist.
"""
import argparse
import os
import struct
import sys

RT_VERSION = 16
LANG_ZH_CN = 0x0804
CP_UNICODE = 1200
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
VFT_APP = 1
VOS_NT_WINDOWS32 = 0x00040004
DATA_DIR_RESOURCE = 2
DATA_DIR_DEBUG = 6


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        coff = pe + 4
        (_, nsections, _, self.symbol_table, self.symbol_count, optional_size,
         _) = struct.unpack_from("<HHIIIHH", data, coff)
        optional = coff + 20
        magic = struct.unpack_from("<H", data, optional)[0]
        dirs = optional + (96 if magic == 0x10B else 112)
        ndirs = struct.unpack_from("<I", data, dirs - 4)[0]
        self.directories = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(ndirs)]
        self.sections = []
        table = optional + optional_size
        for i in range(nsections):
            name, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), vaddr,
                                  max(vsize, rsize), raw))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for _, vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError("RVA 0x%x is in no section" % rva)

    def resources(self, type_id):
        """(name id, language id, bytes) of every resource of a numeric type."""
        rva, size = self.directory(DATA_DIR_RESOURCE)
        if not size:
            return []
        base = self.offset(rva)

        def entries(offset):
            named, ids = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)

        found = []
        for tid, tsub in entries(0):
            if tid != type_id or not tsub & 0x80000000:
                continue
            for nid, nsub in entries(tsub & 0x7FFFFFFF):
                if not nsub & 0x80000000:
                    continue
                for lang, leaf in entries(nsub & 0x7FFFFFFF):
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    found.append((nid, lang, self.data[start:start + data_size]))
        return found


def align4(n):
    return (n + 3) & ~3


def read_block(data, offset):
    """One node of a version resource: (key, value bytes, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    if length < 6 or end > len(data):
        raise ValueError("version resource node at %d has length %d" % (offset, length))
    key_start = offset + 6
    key_end = key_start
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end >= end:
            raise ValueError("version resource key at %d has no end" % key_start)
    key = data[key_start:key_end].decode("utf-16-le")
    value_start = align4(key_end + 2)
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[value_start:min(value_start + value_size, end)]
    children = []
    child = align4(value_start + value_size)
    while child < end:
        node = read_block(data, child)
        children.append(node)
        child = align4(node[3])
    return key, value, children, end


def text(value):
    return value.decode("utf-16-le").split("\0", 1)[0]


def check_version(pe, version, problems):
    found = pe.resources(RT_VERSION)
    if len(found) != 1:
        problems.append("%d version resources, expected one" % len(found))
        return
    name, lang, data = found[0]
    if name != 1 or lang != LANG_ZH_CN:
        problems.append("version resource is %d in language %d, expected 1 in %d"
                        % (name, lang, LANG_ZH_CN))
    key, fixed, children, _ = read_block(data, 0)
    if key != "VS_VERSION_INFO" or len(fixed) != 52:
        problems.append("no VS_VERSION_INFO with its fixed part")
        return
    (signature, _, file_ms, file_ls, product_ms, product_ls, _, _, os_kind,
     file_type) = struct.unpack_from("<10I", fixed)
    major, minor, patch = (int(n) for n in version.split("."))
    expected = ((major << 16) | minor, patch << 16)
    if signature != VS_FIXEDFILEINFO_SIGNATURE:
        problems.append("fixed part has signature 0x%08x" % signature)
    if (file_ms, file_ls) != expected or (product_ms, product_ls) != expected:
        problems.append("fixed part says file version %08x.%08x, product version %08x.%08x,"
                        " expected %08x.%08x for both"
                        % (file_ms, file_ls, product_ms, product_ls, *expected))
    if file_type != VFT_APP or os_kind != VOS_NT_WINDOWS32:
        problems.append("file type %d on OS 0x%x, expected an application (1) for 32-bit"
                        " Windows NT (0x40004)" % (file_type, os_kind))

    blocks = {child[0]: child for child in children}
    tables = blocks.get("StringFileInfo", (None, None, [], None))[2]
    if [t[0] for t in tables] != ["080404b0"]:
        problems.append("string tables %s, expected only 080404b0" % [t[0] for t in tables])
    strings = {s[0]: text(s[1]) for t in tables[:1] for s in t[2]}
    wanted = {
        "FileDescription": "Launcher and updater of Velmora",
        "FileVersion": version,
        "InternalName": "Tarvo",
        "OriginalFilename": "Tarvo.exe",
        "ProductName": "Tarvo",
        "ProductVersion": version,
    }
    for name, value in wanted.items():
        if strings.get(name) != value:
            problems.append("%s is %r, expected %r" % (name, strings.get(name), value))

    variables = {v[0]: v[1] for v in blocks.get("VarFileInfo", (None, None, [], None))[2]}
    translation = variables.get("Translation", b"")
    pairs = [struct.unpack_from("<HH", translation, i) for i in range(0, len(translation) - 3, 4)]
    if pairs != [(LANG_ZH_CN, CP_UNICODE)]:
        problems.append("Translation lists %s, expected [(2052, 1200)]" % pairs)


def check_stripped(pe, problems):
    if pe.symbol_table or pe.symbol_count:
        problems.append("symbol table of %d entries" % pe.symbol_count)
    # Long section names ("/4") point into the symbol table's strings; in these images only
    # debug sections have them.
    debug = [s[0] for s in pe.sections if s[0].startswith((".debug", "/"))]
    if debug:
        problems.append("debug sections %s" % debug)
    if pe.directory(DATA_DIR_DEBUG)[1]:
        problems.append("a debug directory")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--version", required=True)
    parser.add_argument("--stripped", choices=("yes", "no"), default="no")
    args = parser.parse_args()
    if not os.path.exists(args.exe):
        print("skipped: %s does not exist (build the win32 preset first)" % args.exe)
        return 77
    problems = []
    stripped = args.stripped == "yes"
    try:
        with open(args.exe, "rb") as f:
            pe = PeFile(f.read())
        check_version(pe, args.version, problems)
        if stripped:
            check_stripped(pe, problems)
    except (ValueError, struct.error) as error:
        problems.append("cannot be read as a PE file: %s" % error)
    for problem in problems:
        print("%s: %s" % (args.exe, problem))
    if not problems:
        print("%s: version %s%s" % (args.exe, args.version,
                                    ", no symbols or debug data" if stripped else ""))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
