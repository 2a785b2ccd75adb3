#!/usr/bin/env python3
"""plisttool against Python's plistlib: random trees written by plistlib (XML
and binary) are converted by plisttool to both forms and read back unchanged.

usage: plistlib_diff.py PLISTTOOL [TREES]
"""

import datetime
import math
import os
import plistlib
import random
import subprocess
import sys
import tempfile

SEED = 20261206
INT64_MIN, INT64_MAX = -(1 << 63), (1 << 63) - 1
EDGE_INTS = [0, 1, -1, 127, 128, 255, 256, 65535, 65536, (1 << 31) - 1,
             1 << 31, (1 << 32) - 1, 1 << 32, INT64_MAX, INT64_MIN]
EDGE_REALS = [0.0, -0.0, 1e308, -1e308, 5e-324, 0.1, 1.5, -2.25, 1e-300]
TEXT = ["a", "Z", "0", " ", "key", "<", ">", "&", "'", '"', "\\", "\t", "\n", "\u00e9",
        "\u00df", "\u4e2d\u6587", "\u20ac", "\U0001F600", "\U00010348", "\uffee"]
BINARY_ONLY_TEXT = ["\r", "\x00", "\x01", "\x1f", "\ufffe"]


def random_text(rng, xml_safe):
    pieces = TEXT if xml_safe else TEXT + BINARY_ONLY_TEXT
    return "".join(rng.choice(pieces) for _ in range(rng.randrange(8)))


def random_leaf(rng, xml_safe):
    """xml_safe leaves out what only the binary form carries: control
    characters, infinities, fractions of a second."""
    kind = rng.randrange(6)
    if kind == 0:
        return random_text(rng, xml_safe)
    if kind == 1:
        return rng.choice(EDGE_INTS) if rng.random() < 0.5 else rng.randint(INT64_MIN, INT64_MAX)
    if kind == 2 and rng.random() < 0.5:
        return rng.choice(EDGE_REALS + ([] if xml_safe else [math.inf, -math.inf]))
    if kind == 2:
        return rng.uniform(-1e6, 1e6) * 10 ** rng.randrange(-20, 20)
    if kind == 3:
        return rng.random() < 0.5
    if kind == 4:
        return bytes(rng.randrange(256) for _ in range(rng.choice([0, 1, 3, 14, 15, 16, 300])))
    seconds = rng.randrange(-62135596800, 253402300799)  # years 1 to 9999
    micro = 0 if xml_safe or rng.random() < 0.5 else rng.randrange(1000000)
    return datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=seconds, microseconds=micro)


def random_tree(rng, xml_safe, depth=0):
    kind, size = rng.randrange(10) if depth < 3 else 9, rng.choice([0, 1, 2, 3, 16])
    if kind < 3:
        return {random_text(rng, xml_safe): random_tree(rng, xml_safe, depth + 1) for _ in range(size)}
    if kind < 5:
        return [random_tree(rng, xml_safe, depth + 1) for _ in range(size)]
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


def run(cmd, data=b""):
    return subprocess.run(cmd, input=data, capture_output=True, check=False)


def converted(tool, data, fmt_out):
    """What plistlib reads of plisttool's conversion, or why there is none."""
    r = run([tool, "-c", fmt_out, "-o", "-", "-"], data)
    try:
        return plistlib.loads(r.stdout) if r.returncode == 0 else r.stderr.decode()
    except Exception as e:  # plistlib refused
        return e


def check_tree(tool, tree, xml_safe):
    """A failure description, or None."""
    formats = ["xml", "binary"] if xml_safe else ["binary"]
    for fmt_in in formats:
        data = plistlib.dumps(tree, fmt=getattr(plistlib, "FMT_" + fmt_in.upper()), sort_keys=False)
        # Binary dates far from 2001 lose microseconds in plistlib's own round trip.
        expected = plistlib.loads(data)
        for fmt_out in formats:
            back = converted(tool, data, fmt_out)
            if not same(back, expected):
                return "plistlib %s -> plisttool %s: %r" % (fmt_in, fmt_out, back)
    return None


def check_cli(tool):
    """Exit statuses and messages that scripts read."""
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        bad = os.path.join(tmp, "bad.plist")
        with open(bad, "wb") as f:
            f.write(b"{ a = b")
        r = run([tool, "-l", bad])
        if (r.returncode, r.stderr.decode()) != (1, bad + ": line 1: expected ';' after the value\n"):
            failures.append("-l with a bad file: %r" % (r,))
    if run([tool]).returncode != 2:
        failures.append("no arguments is not a usage error")
    # A date with a fraction comes out of XML in whole seconds, the earlier one.
    dated = plistlib.dumps([datetime.datetime(1999, 12, 31, 23, 59, 59, 750000)], fmt=plistlib.FMT_BINARY)
    if converted(tool, dated, "xml") != [datetime.datetime(1999, 12, 31, 23, 59, 59)]:
        failures.append("XML date with a fraction")
    return failures


def main():
    tool, count = sys.argv[1], int(sys.argv[2]) if len(sys.argv) == 3 else 300
    rng = random.Random(SEED)
    failures = check_cli(tool)
    for i in range(count):
        xml_safe = i % 3 != 2  # every third tree holds what only binary carries
        tree = random_tree(rng, xml_safe)
        failure = check_tree(tool, tree, xml_safe)
        if failure:
            failures.append("tree %d: %s\n  tree: %r" % (i, failure, tree))
    for failure in failures:
        print("FAIL", failure)
    print("plistlib differential: %d trees, %d failures" % (count, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
