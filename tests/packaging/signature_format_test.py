#!/usr/bin/env python3
"""The signature format as the operator guide describes it: its example check, written with
Python's own BLAKE2b and the cryptography package's Ed25519, accepts an archive that
tarvo-publish signed, and refuses it for other versions and with another key.

  signature_format_test.py TARVO_PUBLISH OPERATORS_GUIDE

Exits 77 (skipped) when the cryptography package is missing.
"""

import os
import re
import subprocess
import sys
import tempfile
import zipfile


def main():
    publish, guide = sys.argv[1], sys.argv[2]
    try:
        import cryptography  # noqa: F401
    except ImportError:
        print("signature_format_test: skipped: Python's cryptography package is missing")
        return 77
    with open(guide, encoding="utf-8") as f:
        example = re.search(r"```python\n(.*?)```", f.read(), re.S).group(1)
    with tempfile.TemporaryDirectory() as work:
        check = os.path.join(work, "check.py")
        with open(check, "w", encoding="utf-8") as f:
            f.write(example)
        archive = os.path.join(work, "0000100000003.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("data/a.txt", "update three\n" * 1000)
            z.comment = b"a comment of the writer's own"
        keys = []
        for name in ("ours.key", "theirs.key"):
            made = subprocess.run([publish, "keygen", os.path.join(work, name)],
                                  capture_output=True, text=True, check=True)
            keys.append(made.stdout.strip().splitlines()[-1])
        subprocess.run([publish, "sign", "--sign-key", os.path.join(work, "ours.key"), archive],
                       check=True, capture_output=True)
        cases = [("0000100000003", keys[0], True), ("0000100000004", keys[0], False),
                 ("0000100000003", keys[1], False)]
        failures = 0
        for versions, key, accepted in cases:
            run = subprocess.run([sys.executable, check, archive, versions, key],
                                 capture_output=True, text=True)
            if (run.returncode == 0) != accepted:
                print(f"versions {versions}, key {key}: expected "
                      f"{'acceptance' if accepted else 'refusal'}\n{run.stdout}{run.stderr}")
                failures += 1
    print("signature_format_test:", "ok" if failures == 0 else f"{failures} failure(s)")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
