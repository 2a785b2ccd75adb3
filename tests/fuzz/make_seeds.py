#!/usr/bin/env python3
"""Writes the binary seeds of corpus/binary_fuzz, messageport_fuzz, smbios_fuzz
and fastcgi_fuzz (the text seeds are written by hand). Run it from anywhere; commit its output."""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent / "corpus"


def head(kind, n):  # a marker, with a following integer for counts over 14
    if n < 15:
        return bytes([kind << 4 | n])
    return bytes([kind << 4 | 0xF, 0x13]) + struct.pack(">Q", n)


def bplist(objects, top=0, offset_size=1, ref_size=1, trailer_fix=None):
    """objects: leaves as bytes, containers as ('a', refs) or ('d', keys, values)."""
    out, offsets = bytearray(b"bplist00"), []
    refs = lambda rs: b"".join(r.to_bytes(ref_size, "big") for r in rs)
    for o in objects:
        offsets.append(len(out))
        if isinstance(o, bytes):
            out += o
        elif o[0] == "a":
            out += head(0xA, len(o[1])) + refs(o[1])
        else:
            out += head(0xD, len(o[1])) + refs(o[1]) + refs(o[2])
    table = len(out)
    out += b"".join(x.to_bytes(offset_size, "big") for x in offsets)
    trailer = [0, offset_size, ref_size, len(objects), top, table]
    for i, v in (trailer_fix or {}).items():
        trailer[i] = v
    return bytes(out + b"\0" * 5 + struct.pack(">BBBQQQ", *trailer))


def ascii(s):
    return head(5, len(s)) + s.encode()


def utf16(s):
    raw = s.encode("utf-16-be")
    return head(6, len(raw) // 2) + raw


# Every kind: a dictionary of strings, integers of every width, reals, a date,
# short and long data, booleans, an array and a nested dictionary.
LEAVES = [ascii("root"), utf16("Grüße ✓"), b"\x10\x7f", b"\x11\x01\x00",
          b"\x12" + struct.pack(">i", 70000), b"\x13" + struct.pack(">q", -5),
          b"\x22" + struct.pack(">f", 1.5), b"\x23" + struct.pack(">d", -0.25),
          b"\x33" + struct.pack(">d", 7.0e8), head(4, 3) + b"\0\1\2",
          head(4, 20) + bytes(range(20)), b"\x08", b"\x09"]
KEYS = [ascii("k%d" % i) for i in range(len(LEAVES))]
n = len(LEAVES)
ALL = [("d", list(range(1, n + 3)), list(range(n + 3, 2 * n + 5)))]
ALL += KEYS + [ascii("list"), ascii("nested")] + LEAVES
ALL += [("a", [n + 3, n + 4, 1]), ("d", [1], [n + 5])]


def seeds():
    for width in (1, 2, 4, 8):
        yield "all_kinds_%d.bplist" % width, bplist(ALL, 0, width, width)
    # One string and one dictionary, each referenced from several places.
    shared = [("a", [1, 1, 2, 2, 1]), ascii("same"), ("d", [1], [1])]
    yield "shared.bplist", bplist(shared)
    yield "empty_array.bplist", bplist([("a", [])])
    yield "long_array.bplist", bplist([("a", [1] * 20), b"\x10\x01"])
    broken = {
        "cycle": bplist([("a", [0])]),
        "ref_out_of_range": bplist([("a", [5])]),
        "top_out_of_range": bplist([b"\x09"], top=3),
        "offset_past_table": bplist([b"\x09"], trailer_fix={5: 9999}),
        "offset_size_3": bplist([b"\x09"], offset_size=1, trailer_fix={1: 3}),
        "null_and_set": bplist([("a", [1, 2]), b"\x00", b"\xc1\x00"]),
        "int128_uid": bplist([("a", [1, 2]), b"\x14" + bytes(16), b"\x80\x01"]),
        "bad_key": bplist([("d", [1], [1]), b"\x10\x01"]),
        "truncated": bplist(ALL, 0, 2, 2)[:-40],
    }
    for name, data in broken.items():
        yield "broken_%s.bplist" % name, data


def frame(ident, payload):
    return struct.pack(">II", ident, len(payload)) + payload


REPLY = (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">'
         b"<dict><key>Temp</key><integer>40</integer></dict></plist>\n")
FRAMES = {"request.bin": frame(0, b""), "reply.bin": frame(0, REPLY),
          "two_frames.bin": frame(7, b"ab") + frame(0, b""),
          "partial.bin": frame(0, REPLY)[:20], "header_only.bin": b"\0\0\0",
          "too_long.bin": struct.pack(">II", 0, 0xFFFFFFFF) + b"x"}

def dimm(size, strings, length=0x22):  # an SMBIOS type-17 record
    body = struct.pack("<BBHHHHHHBBBBBHHBBBBBIH", 17, length, 0x1100, 0x1000, 0xFFFE, 72, 64,
                       size, 0x09, 0, 1, 2, 0x1A, 0x80, 3200, 3, 4, 0, 5, 2, 0, 3200)
    return body[:length] + b"".join(t + b"\0" for t in strings) + b"\0"


DIMMS = {"ddr4_16g.bin": dimm(16384, [b"DIMM_A1", b"BANK 0", b"Maker", b"SN1", b"PN-16G"]),
         "extended_size.bin": dimm(0x7FFF, [b"DIMM_B1", b"BANK 1"]),
         "empty_slot.bin": dimm(0, [b"DIMM_C1"]), "short.bin": dimm(8192, [], 0x15),
         "no_strings.bin": dimm(1024, [])[:-1]}


def record(kind, content, ident=1):  # a FastCGI record, padded as servers pad
    pad = -len(content) % 8
    return struct.pack(">BBHHBB", 1, kind, ident, len(content), pad, 0) + content + b"\0" * pad


def params(pairs):
    length = lambda n: bytes([n]) if n < 128 else struct.pack(">I", n | 0x80000000)
    return b"".join(length(len(k)) + length(len(v)) + k + v for k, v in pairs)


BEGIN = record(1, struct.pack(">HB5x", 1, 0))
LOGIN = params([(b"REMOTE_ADDR", b"10.0.0.7"), (b"HTTP_AUTHORIZATION", b"Basic YWxpY2U6c2VjcmV0")])
REQUESTS = {"login.bin": BEGIN + record(4, LOGIN) + record(4, b"") + record(5, b""),
            "management_first.bin": record(9, params([(b"FCGI_MAX_CONNS", b"")]), 0) + BEGIN
            + record(4, b"") + record(5, b""),
            "long_value.bin": BEGIN + record(4, params([(b"X", b"v" * 300)])) + record(4, b"")
            + record(5, b"body") + record(5, b""),
            "authorizer_role.bin": record(1, struct.pack(">HB5x", 2, 0)) + record(4, b""),
            "cut.bin": (BEGIN + record(4, LOGIN))[:30]}

if __name__ == "__main__":
    for target, files in (("binary_fuzz", dict(seeds())), ("messageport_fuzz", FRAMES),
                          ("smbios_fuzz", DIMMS), ("fastcgi_fuzz", REQUESTS)):
        (HERE / target).mkdir(parents=True, exist_ok=True)
        for name, data in files.items():
            (HERE / target / name).write_bytes(data)
