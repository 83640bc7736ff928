#!/usr/bin/env python3
"""Compares the profile functions of the two builds on one corpus.

The Win32 build's profile_replay runs under Wine, where GetPrivateProfileStringW and
WritePrivateProfileStringW are the system's own; the POSIX build's runs our implementation. Both
replay the same list of reads and writes on their own copy of the same files. What every read
returned must be equal, and every file must end up equal byte for byte, except where a case
below names a deliberate difference and the check that goes with it.

    profile_diff.py POSIX_REPLAY WIN32_REPLAY WINE_RUN

Exits 1 on any difference that is not explained, 2 when a replay cannot run.

Every file is ASCII or UTF-8 with a byte-order mark or UTF-16LE. Non-ASCII text in an 8-bit file
without a byte-order mark is left out on purpose: Windows reads such a file in the ANSI code
page, our layer reads it as UTF-8, and that difference is the point of our layer.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

BLANKS = " \t\v\f\r\n\x1a"

# Deliberate differences. Each names what Wine does, what we do and why.

# Wine rewrites the whole file at every write in a form of its own: blank lines dropped, blanks
# around names and values dropped, anything after a section header's "]" dropped, every line
# ending CR LF. Windows, like our layer, changes only the line that it writes, so that comments,
# blank lines, spacing and LF line endings that a person put in the file stay as they were.
# Check: our file, put in Wine's form, equals Wine's file byte for byte.
WINE_FORM = "wine-form"

# A value with a line break: Wine writes it as it is, so that the text after the break becomes
# a line of its own (a key or a section header of the caller's choosing). Our layer refuses
# such a write (FALSE) and leaves the file as it was. Check: our file equals the original.
REFUSED = "refused"

# A quoted value that, without its opening quote, is exactly as long as the buffer: Wine cuts
# one character too many (it reads "abcdef" from "abcdef" with room for 6 as "abcde"). Our
# layer returns what fits. Check: our text is Wine's plus the one character it lost.
QUOTE_CUT = "wine-quote-cut"


def utf16(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


def get(section, key, default="DEF", size=255, why=None):
    return ("get", section, key, default, str(size)), why


def put(section, key, value, why=None):
    return ("put", section, key, value), why


LONG = "9" * 300

# (file name, bytes or None for no file, operations, how the files compare)
CORPUS = [
    ("crlf.ini", b"; settings\r\n[VERSION]\r\nFirstVersion=1\r\nSecondVersion=2\r\n"
                 b"[Other]\r\nName=x\r\n",
     [get("VERSION", "FirstVersion"), get("version", "secondversion"), get("Other", "Name"),
      put("VERSION", "FirstVersion", "7"), put("VERSION", "ThirdVersion", "9"),
      put("Other", "Name", "y"), put("New", "Key", "v"),
      get("VERSION", "FirstVersion"), get("VERSION", "ThirdVersion"), get("New", "Key")],
     None),
    ("lf.ini", b"[VERSION]\nFirstVersion=1\n\n[Other]\nName=x\n",
     [get("VERSION", "FirstVersion"), put("VERSION", "SecondVersion", "5"),
      put("Added", "k", "1"), get("VERSION", "SecondVersion")],
     WINE_FORM),
    ("lone-cr.ini", b"[A]\rk=1\rj=2\r",
     [get("A", "k"), get("A", "j"), put("A", "k", "3"), put("A", "n", "4"), get("A", "n")],
     WINE_FORM),
    ("utf16.ini", utf16("[VERSION]\r\nFirstVersion=1\r\n[\u00c9t\u00e9]\r\nCl\u00e9=\u4e2d\r\n"),
     [get("VERSION", "FirstVersion"), get("\u00c9t\u00e9", "Cl\u00e9"),
      put("VERSION", "FirstVersion", "-3"), put("VERSION", "SecondVersion", "\u00e8"),
      put("Nouveau", "\u00e9", "\u4e2d\u6587"), get("Nouveau", "\u00e9"),
      get("VERSION", "SecondVersion")],
     None),
    ("utf16-lf.ini", utf16("[A]\nk=1\n\n[B]\nz=2\n"),
     [get("B", "z"), put("A", "j", "3"), get("A", "j")],
     WINE_FORM),
    ("bom-only.ini", b"\xff\xfe",
     [get("VERSION", "FirstVersion", "0"), put("VERSION", "FirstVersion", "1"),
      put("VERSION", "SecondVersion", "42"), get("VERSION", "SecondVersion")],
     None),
    ("utf8-bom.ini", b"\xef\xbb\xbf[A]\r\nk=\xc3\xa9\r\n",
     [get("A", "k"), put("A", "k", "\u00e8"), put("A", "\u00e9", "1"), get("A", "\u00e9")],
     None),
    ("spacing.ini", b"  [ Sec ]  \r\n\tkey\t=\t value \t\r\n K2 =2\r\nq= \"in\" \x1a\r\n"
                    b"[T] trailing\r\np = 4\r\n",
     [get("sec", "KEY"), get(" Sec ", " key "), get("Sec", "k2"), get("Sec", "q"), get("T", "p"),
      put("Sec", "key", "new"), put("sec", "k2", "  padded"), put("T", "q", "5"),
      get("Sec", "key"), get("Sec", "K2")],
     WINE_FORM),
    ("quotes.ini", b"[Q]\r\na=\"x\"\r\nb='y'\r\nc=\"z'\r\nd=\" sp \"\r\ne=\"\"\r\nf=\"\r\n"
                   b"g=abc\"\r\nq=\"abcdef\"\r\n",
     [get("Q", k) for k in "abcdefg"] +
     [get("Q", "q", size=4), get("Q", "q", size=7, why=QUOTE_CUT), get("Q", "q", size=8),
      put("Q", "w", "\"quoted\""), get("Q", "w")],
     None),
    ("duplicates.ini", b"[D]\r\nk=first\r\nK=second\r\n[d]\r\nk=third\r\nz=only-second\r\n",
     [get("D", "k"), get("d", "z"), put("D", "k", "new"), put("d", "z", "added"),
      get("D", "k"), get("D", "z")],
     None),
    ("odd-lines.ini", b"top=1\r\n[S]\r\nvalueless\r\n=empty-name\r\ni==eq\r\n;c=comment\r\n"
                      b"[Un\r\nn=2\r\n[x]y]\r\no=3\r\n",
     [get("", "top"), get("S", "valueless"), get("S", "i"), get("S", ";c"), get("S", "n"),
      get("Un", "n"), get("x]y", "o"), get("x", "o"), put("S", "valueless", "set"),
      get("S", "valueless")],
     None),
    ("long.ini", b"[L]\r\nk=" + LONG.encode() + b"\r\n",
     [get("L", "k"), get("L", "k", size=5), get("L", "k", size=1), get("L", "k", size=0),
      get("L", "missing", "DEFAULT", size=3), get("L", "missing", "  DEF  "),
      put("L", "k", LONG[:200] + "8"), get("L", "k"), put("L", "j", "x" * 1000),
      get("L", "j")],
     None),
    ("no-final-newline.ini", b"[A]\r\nk=1",
     [get("A", "k"), put("A", "q", "3"), put("B", "z", "4"), get("A", "q")],
     None),
    ("no-final-newline-lf.ini", b"[A]\nk=1",
     [put("A", "q", "3"), get("A", "q")],
     WINE_FORM),
    ("empty.ini", b"",
     [get("VERSION", "FirstVersion", "0"), put("VERSION", "FirstVersion", "1"),
      get("VERSION", "FirstVersion", "0")],
     None),
    ("missing.ini", None,
     [get("VERSION", "FirstVersion", "0"), put("VERSION", "FirstVersion", "1"),
      get("VERSION", "FirstVersion", "0")],
     None),
    ("blank-lines.ini", b"[A]\r\nk=1\r\n\r\n\r\n[B]\r\n\r\n",
     [put("A", "j", "2"), put("B", "m", "3"), get("A", "j"), get("B", "m")],
     WINE_FORM),
    ("line-break.ini", b"[A]\r\nk=1\r\n",
     [put("A", "k", "2\r\n[A]\r\nk=3", why=REFUSED), get("A", "k", why=REFUSED)],
     REFUSED),
]


def escape(text):
    """A text field of profile_replay's operations."""
    named = {"\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n"}
    return "".join(named.get(c) or (c if 0x20 <= ord(c) < 0x7F else "\\u%04X" % ord(c))
                   for c in text)


def wine_form(data):
    """The file as Wine would have rewritten it."""
    if data[:2] == b"\xff\xfe":
        prefix, encoding, text = data[:2], "utf-16-le", data[2:].decode("utf-16-le")
    elif data[:3] == b"\xef\xbb\xbf":
        prefix, encoding, text = data[:3], "utf-8", data[3:].decode("utf-8")
    else:
        prefix, encoding, text = b"", "utf-8", data.decode("utf-8")
    lines = []
    for line in re.split(r"\r\n|\n|\r", text):
        line = line.strip(BLANKS)
        if not line:
            continue
        if line.startswith("[") and "]" in line[1:]:
            lines.append("[" + line[1:line.rindex("]")].strip(BLANKS) + "]")
        elif "=" in line:
            name, value = line.split("=", 1)
            lines.append(name.strip(BLANKS) + "=" + value.strip(BLANKS))
        else:
            lines.append(line)
    return prefix + "".join(line + "\r\n" for line in lines).encode(encoding)


def run_replays(posix_replay, win32_replay, wine_run, work):
    script, owners = [], []
    for name, _, operations, _ in CORPUS:
        for operation, why in operations:
            fields = [operation[0], name] + [escape(f) for f in operation[1:]]
            script.append("\t".join(fields))
            owners.append((name, operation, why))
    script_path = os.path.join(work, "operations.txt")
    with open(script_path, "w", encoding="utf-8") as out:
        out.write("\n".join(script) + "\n")

    results = {}
    for side in ("posix", "wine"):
        folder = os.path.join(work, side)
        os.makedirs(folder)
        for name, data, _, _ in CORPUS:
            if data is not None:
                with open(os.path.join(folder, name), "wb") as out:
                    out.write(data)
        if side == "posix":
            command = [posix_replay, script_path, folder]
        else:
            command = [wine_run, win32_replay, wine_path(script_path), wine_path(folder)]
        done = subprocess.run(command, capture_output=True, timeout=300)
        if done.returncode != 0:
            sys.stderr.write(done.stderr.decode(errors="replace"))
            print(f"profile_diff: the {side} replay failed ({done.returncode})")
            sys.exit(2)
        results[side] = done.stdout.decode().splitlines()
        if len(results[side]) != len(script):
            print(f"profile_diff: the {side} replay answered {len(results[side])} of "
                  f"{len(script)} operations")
            sys.exit(2)
    return owners, results


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def compare_results(owners, results):
    failures = 0
    for (name, operation, why), ours, theirs in zip(owners, results["posix"], results["wine"]):
        if ours == theirs:
            if why == QUOTE_CUT:
                print(f"stale explanation ({why}): {name}: {operation}")
                failures += 1
            continue
        if why == REFUSED or (why == QUOTE_CUT and quote_cut_explains(ours, theirs)):
            continue
        print(f"read differs: {name}: {operation}\n  posix: {ours}\n  wine:  {theirs}")
        failures += 1
    return failures


def quote_cut_explains(ours, theirs):
    """Our text is Wine's plus one character."""
    pattern = re.compile(r"^(\d+) get (\d+) nul \[(.*)\]$")
    a, b = pattern.match(ours), pattern.match(theirs)
    return bool(a and b) and int(a[2]) == int(b[2]) + 1 and a[3][:-1] == b[3]


def compare_files(work):
    failures = 0
    for name, data, _, how in CORPUS:
        ours = read_or_none(os.path.join(work, "posix", name))
        theirs = read_or_none(os.path.join(work, "wine", name))
        if how == REFUSED:
            if ours != data:
                print(f"file {name}: a refused write changed it\n  posix: {ours!r}")
                failures += 1
        elif how == WINE_FORM:
            if ours == theirs:
                print(f"file {name}: equal although a difference is explained (stale)")
                failures += 1
            elif ours is None or wine_form(ours) != theirs:
                print(f"file {name}: differs beyond Wine's form\n  posix: {ours!r}\n"
                      f"  in Wine's form: {wine_form(ours) if ours else None!r}\n"
                      f"  wine:  {theirs!r}")
                failures += 1
        elif ours != theirs:
            print(f"file {name}: differs\n  posix: {ours!r}\n  wine:  {theirs!r}")
            failures += 1
    return failures


def read_or_none(path):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    posix_replay, win32_replay, wine_run = (os.path.abspath(a) for a in sys.argv[1:])
    work = tempfile.mkdtemp(prefix="tarvo-profile-diff-")
    try:
        owners, results = run_replays(posix_replay, win32_replay, wine_run, work)
        failures = compare_results(owners, results) + compare_files(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    checks = len(owners) + len(CORPUS)
    print(f"profile_diff: {checks - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
