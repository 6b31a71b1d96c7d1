#!/usr/bin/env python3
"""Writes the seed corpus of FuzzCmap (fuzz/corpus/cmap/<sha1>): whole 'cmap' tables of real fonts, one per
kind of table (the set of platform, encoding and format of its encoding records), the smallest of each kind
under 64 KB, and crafted tables at the formats' edges (format 2, which no font of the corpus has, wrong and
huge searchRange, unsorted and overlapping segments, groups sharing an end, cut headers, skipped and unknown
formats, 16 records).

    python3 fuzz/support/cmap_seeds.py [--max N]
"""

import argparse
import hashlib
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import font_corpus  # noqa: E402

OUT = os.path.join(ROOT, "fuzz", "corpus", "cmap")
LIMIT = 64 * 1024


def face_offsets(head):
    if head[:4] == b"ttcf":
        count = struct.unpack_from(">I", head, 8)[0]
        return [struct.unpack_from(">I", head, 12 + 4 * i)[0] for i in range(min(count, 64))]
    return [0]


def cmap_tables(path):
    with open(path, "rb") as f:
        head = f.read(12 + 4 * 64)
        for offset in face_offsets(head):
            f.seek(offset)
            directory = f.read(12)
            if len(directory) < 12:
                continue
            count = struct.unpack_from(">H", directory, 4)[0]
            records = f.read(16 * count)
            for i in range(len(records) // 16):
                tag, _, off, length = struct.unpack_from(">4sIII", records, 16 * i)
                if tag == b"cmap":
                    f.seek(off)
                    yield f.read(length)


def kind(table):
    if len(table) < 4:
        return None
    count = struct.unpack_from(">H", table, 2)[0]
    parts = []
    for i in range(count):
        if 4 + 8 * i + 8 > len(table):
            return None
        platform, encoding, offset = struct.unpack_from(">HHI", table, 4 + 8 * i)
        fmt = struct.unpack_from(">H", table, offset)[0] if offset + 2 <= len(table) else -1
        parts.append((platform, encoding, fmt))
    return tuple(parts)


def table(records):
    """A 'cmap' of (platform, encoding, subtable bytes) records."""
    out = struct.pack(">HH", 0, len(records))
    at = 4 + 8 * len(records)
    body = b""
    for platform, encoding, sub in records:
        out += struct.pack(">HHI", platform, encoding, at + len(body))
        body += sub
    return out + body


def format0():
    return struct.pack(">HHH", 0, 262, 0) + bytes((i * 7) & 0xFF for i in range(256))


def format4(segments, search_range=None):
    """segments: (start, end, delta, glyphs or None)."""
    n = len(segments)
    right = 2 * (1 << (n.bit_length() - 1))
    sr = right if search_range is None else search_range
    head = struct.pack(">HHHHHHH", 4, 0, 0, 2 * n, sr, 0, 0)
    ends = b"".join(struct.pack(">H", s[1]) for s in segments)
    starts = b"".join(struct.pack(">H", s[0]) for s in segments)
    deltas = b"".join(struct.pack(">h", s[2]) for s in segments)
    ranges, arrays = b"", b""
    array_at = 2 * n
    for k, s in enumerate(segments):
        if s[3]:
            ranges += struct.pack(">H", array_at - 2 * k)
            array_at += 2 * len(s[3])
            arrays += b"".join(struct.pack(">H", g) for g in s[3])
        else:
            ranges += struct.pack(">H", 0)
    sub = head + ends + b"\0\0" + starts + deltas + ranges + arrays
    return sub[:2] + struct.pack(">H", min(len(sub), 0xFFFF)) + sub[4:]


def format6(first, glyphs):
    return struct.pack(">HHHHH", 6, 10 + 2 * len(glyphs), 0, first, len(glyphs)) + b"".join(
        struct.pack(">H", g) for g in glyphs)


def format12(groups, count=None):
    n = len(groups) if count is None else count
    return struct.pack(">HHIII", 12, 0, 16 + 12 * len(groups), 0, n) + b"".join(
        struct.pack(">III", *g) for g in groups)


def format2():
    keys = [0] * 256
    keys[0x81] = keys[0x82] = 8
    sub = struct.pack(">HHH", 2, 0, 0) + b"".join(struct.pack(">H", k) for k in keys)
    sub += struct.pack(">HHhH", 0x20, 0x5F, 0, 528 - 518)
    sub += struct.pack(">HHhH", 0x40, 4, 100, 528 + 2 * 0x5F - 526)
    sub += b"".join(struct.pack(">H", 1000 + i) for i in range(0x5F))
    sub += struct.pack(">HHHH", 7, 0, 65500, 9)
    return sub


def crafted():
    latin = [(0x20, 0x7E, -29, None), (0xA0, 0xA3, 0, [5, 0, 7, 8]), (0x3000, 0x3001, -0x7000, None),
             (0xFFF0, 0xFFFE, 10, None), (0xFFFF, 0xFFFF, 1, None)]
    many = [(0x100 * k + 0x20, 0x100 * k + 0x40, k, None) for k in range(21)] + [(0xFFFF, 0xFFFF, 1, None)]
    overlapping = [(0x10, 0x20, 1, None), (0x40, 0x55, 2, [3] * 0x16), (0x45, 0x5A, 3, None),
                   (0x58, 0x60, 4, None)]
    unsorted = [(0xC0, 0xC5, 1, None), (0x60, 0x70, 1, None), (0x80, 0x90, 1, None), (0xA0, 0xB0, 1, None)]
    groups = [(0x20, 0x7E, 1), (0x100, 0x17F, 200), (0x1F600, 0x1F64F, 500), (0x10FFFD, 0x10FFFF, 0xFFFFFFFE)]
    shared = [(0x20, 0x30, 100), (0x30, 0x40, 200), (0x40, 0x50, 300)]
    header14 = struct.pack(">HIIH", 14, 10, 0, 0)[:12]
    return {
        "format0-and-4": table([(1, 0, format0()), (3, 1, format4(latin))]),
        "format2": table([(3, 2, format2())]),
        "format6": table([(1, 0, format6(0xFFFD, [11, 0, 13])), (3, 1, format6(0x20, list(range(3, 98))))]),
        "format4-wrong-searchrange": table([(3, 1, format4(many, 2))]),
        "format4-huge-searchrange": table([(3, 1, format4(many, 0xFFFE))]),
        "format4-overlapping": table([(3, 1, format4(overlapping))]),
        "format4-unsorted": table([(3, 1, format4(unsorted))]),
        "format12": table([(3, 1, format4(latin)), (3, 10, format12(groups))]),
        "format12-shared-ends": table([(3, 10, format12(shared))]),
        "format12-cut-header": table([(3, 10, format12(groups)[:14])]),
        "format14-last": table([(1, 0, format0()), (0, 3, header14)]),
        "skipped-8-10-13": table([(3, 10, struct.pack(">HH", f, 0) + bytes(8)) for f in (8, 10, 13)] +
                                 [(1, 0, format0())]),
        "sixteen-records": table([(3, 1, format6(0x41, [1, 2, 3]))] * 16),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--max", type=int, default=24, help="real tables to keep")
    args = parser.parse_args()
    by_kind = {}
    for path in font_corpus.corpus_files():
        for data in cmap_tables(path):
            k = kind(data)
            if k is not None and len(data) < LIMIT:
                by_kind.setdefault(k, {})[data] = path
    # Of each kind, the smallest, the largest and one between (different segment counts and groups).
    chosen = []
    for k, tables in sorted(by_kind.items()):
        ordered = sorted(tables, key=len)
        for data in dict.fromkeys([ordered[0], ordered[len(ordered) // 2], ordered[-1]]):
            chosen.append((data, "%s %s" % (os.path.basename(tables[data]), k)))
    chosen = sorted(chosen, key=lambda item: len(item[0]))[:args.max]
    os.makedirs(OUT, exist_ok=True)
    seeds = list(chosen)
    seeds += [(data, name) for name, data in crafted().items()]
    for data, what in seeds:
        name = hashlib.sha1(data).hexdigest()
        with open(os.path.join(OUT, name), "wb") as out:
            out.write(data)
        print("%s %6d %s" % (name, len(data), what))


if __name__ == "__main__":
    main()
