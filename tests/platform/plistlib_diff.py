#!/usr/bin/env python3
"""Differential test of plisttool against Python's plistlib.

Random trees are written by plistlib (XML and binary), converted by
plisttool to XML and to binary, and read back by plistlib: plisttool must
read what plistlib writes, and plistlib must read what plisttool writes,
with nothing changed on the way.

usage: plistlib_diff.py PLISTTOOL [TREES]
"""

import datetime
import math
import plistlib
import random
import subprocess
import sys
import tempfile
import os

SEED = 20261206
INT64_MIN, INT64_MAX = -(1 << 63), (1 << 63) - 1
EDGE_INTS = [0, 1, -1, 127, 128, 255, 256, 65535, 65536, (1 << 31) - 1,
             1 << 31, (1 << 32) - 1, 1 << 32, INT64_MAX, INT64_MIN]
EDGE_REALS = [0.0, -0.0, 1e308, -1e308, 5e-324, 0.1, 1.5, -2.25, 1e-300]
TEXT_PIECES = ["a", "Z", "0", " ", "key", "<", ">", "&", "'", '"', "\\",
               "\t", "\n", "\u00e9", "\u00df", "\u4e2d\u6587", "\u20ac",
               "\U0001F600", "\U00010348", "\uffee"]
BINARY_ONLY_PIECES = ["\r", "\x00", "\x01", "\x1f", "\ufffe"]


def random_text(rng, xml_safe):
    pieces = TEXT_PIECES if xml_safe else TEXT_PIECES + BINARY_ONLY_PIECES
    return "".join(rng.choice(pieces) for _ in range(rng.randrange(0, 8)))


def random_date(rng, xml_safe):
    seconds = rng.randrange(-62135596800, 253402300799)  # years 1 to 9999
    date = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=seconds)
    if not xml_safe and rng.random() < 0.5:
        date = date.replace(microsecond=rng.randrange(1000000))
    return date


def random_real(rng, xml_safe):
    if rng.random() < 0.5:
        return rng.choice(EDGE_REALS)
    if not xml_safe and rng.random() < 0.2:
        return rng.choice([math.inf, -math.inf])
    return rng.uniform(-1e6, 1e6) * 10 ** rng.randrange(-20, 20)


def random_leaf(rng, xml_safe):
    makers = [lambda: random_text(rng, xml_safe),
              lambda: rng.choice(EDGE_INTS) if rng.random() < 0.5 else rng.randint(INT64_MIN, INT64_MAX),
              lambda: random_real(rng, xml_safe),
              lambda: rng.random() < 0.5,
              lambda: bytes(rng.randrange(256) for _ in range(rng.choice([0, 1, 3, 14, 15, 16, 300]))),
              lambda: random_date(rng, xml_safe),
              lambda: rng.choice(EDGE_INTS)]
    return rng.choice(makers)()


def random_tree(rng, xml_safe, depth=0):
    kind = rng.randrange(10) if depth < 3 else 9
    if kind < 3:
        return {random_text(rng, xml_safe): random_tree(rng, xml_safe, depth + 1)
                for _ in range(rng.choice([0, 1, 2, 3, 16]))}
    if kind < 5:
        return [random_tree(rng, xml_safe, depth + 1)
                for _ in range(rng.choice([0, 1, 2, 3, 16]))]
    return random_leaf(rng, xml_safe)


def same(a, b):
    """Equality that keeps kinds apart (True is not 1, 1 is not 1.0)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def convert(tool, data, fmt):
    result = subprocess.run([tool, "-c", fmt, "-o", "-", "-"], input=data,
                            capture_output=True, check=False)
    if result.returncode != 0:
        raise ValueError(result.stderr.decode(errors="replace").strip())
    return result.stdout


def check_tree(tool, tree, xml_safe):
    """Returns a failure description, or None."""
    formats = (plistlib.FMT_XML, plistlib.FMT_BINARY) if xml_safe else (plistlib.FMT_BINARY,)
    for fmt_in in formats:
        data = plistlib.dumps(tree, fmt=fmt_in, sort_keys=False)
        # What plistlib itself reads back: binary dates far from 2001 lose
        # microseconds in plistlib's own round trip.
        expected = plistlib.loads(data)
        for fmt_out in ("xml", "binary") if xml_safe else ("binary",):
            step = "plistlib %s -> plisttool %s" % (
                "xml" if fmt_in == plistlib.FMT_XML else "binary", fmt_out)
            try:
                back = plistlib.loads(convert(tool, data, fmt_out))
            except Exception as e:  # plisttool or plistlib refused
                return "%s: %s" % (step, e)
            if not same(back, expected):
                return "%s: read back %r" % (step, back)
    return None


def run(cmd, data=b""):
    return subprocess.run(cmd, input=data, capture_output=True, check=False)


def check_cli(tool):
    """The check and print commands, their exit statuses, and dates with a
    fraction, which XML carries in whole seconds (the earlier one)."""
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        good, bad = os.path.join(tmp, "good.plist"), os.path.join(tmp, "bad.plist")
        with open(good, "wb") as f:
            f.write(plistlib.dumps({"b": [1, "two"], "a": True}))
        with open(bad, "wb") as f:
            f.write(b"{ a = b")
        dated = plistlib.dumps([datetime.datetime(1999, 12, 31, 23, 59, 59, 750000)], fmt=plistlib.FMT_BINARY)
        expectations = [
            ([tool, "-l", good, good], b"", 0, good + ": OK\n" + good + ": OK\n", ""),
            ([tool, "-l", good, bad, good], b"", 1, good + ": OK\n",
             bad + ": line 1: expected ';' after the value\n"),
            ([tool, "-p", good], b"", 0, "{\n    a = 1;\n    b = (\n        1,\n        two\n    );\n}\n", ""),
            ([tool, "-c", "text", "-o", "-", good], b"", 2, "", None),
            ([tool], b"", 2, "", None),
            ([tool, "-c", "xml", "-o", "-", "-"], dated, 0, None, ""),
        ]
        for cmd, data, status, out, err in expectations:
            r = run(cmd, data)
            got = (r.returncode, r.stdout.decode(), r.stderr.decode())
            if got[0] != status or out not in (None, got[1]) or err not in (None, got[2]):
                failures.append("%s: got %r" % (" ".join(cmd[1:]), got))
        try:
            whole = plistlib.loads(run([tool, "-c", "xml", "-o", "-", "-"], dated).stdout)
        except Exception as e:  # plistlib refuses a fraction
            whole = e
        if whole != [datetime.datetime(1999, 12, 31, 23, 59, 59)]:
            failures.append("XML date with a fraction: %r" % (whole,))
        # Converting a file in place replaces it whole.
        r = run([tool, "-c", "binary", "-o", good, good])
        with open(good, "rb") as f:
            if r.returncode != 0 or plistlib.load(f) != {"b": [1, "two"], "a": True}:
                failures.append("in-place conversion: %r" % (r,))
    return failures


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    tool = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) == 3 else 300
    rng = random.Random(SEED)
    failures = check_cli(tool)
    for failure in failures:
        print("FAIL", failure)
    for i in range(count):
        xml_safe = i % 3 != 2  # every third tree holds what only binary carries
        tree = random_tree(rng, xml_safe)
        failure = check_tree(tool, tree, xml_safe)
        if failure:
            failures.append(failure)
            print("FAIL tree %d: %s\n  tree: %r" % (i, failure, tree))
    print("plistlib differential: %d trees, %d failures" % (count, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
