#!/usr/bin/python3
"""The two ways of reading a candidate give the same answers over the real font corpus.

korv-identify runs twice over every font file of the machine's corpus and over truncated copies of some of
them (cut inside the header, the table directory, the `name` table and the CFF INDEXes, and one byte short):
once reading only the byte ranges the identification examines, once reading each file whole. Every line
(status, group, format slot, entry index, kind) must be the same. The catalog lists every other font of the
corpus by its name, spread over the groups, so that the match paths run as well as the refusals.

Exit status: 0 the same everywhere, 1 a difference (each is printed), 77 no font installed (skipped).
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import font_corpus  # noqa: E402

SKIP = 77


def cut_points(path):
    """Sizes to cut a copy of the font at: inside the directory, the name table, the CFF INDEXes, the end."""
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        head = f.read(16)
        offset = struct.unpack(">I", head[12:16])[0] if head[:4] == b"ttcf" else 0
        f.seek(offset)
        table = f.read(12)
        count = struct.unpack(">H", table[4:6])[0] if len(table) == 12 else 0
        records = f.read(16 * count)
    points = {600, offset + 12 + 16 * count - 1, size - 1}
    for i in range(len(records) // 16):
        tag, _, off, length = struct.unpack_from(">4sIII", records, 16 * i)
        if tag == b"name":
            points.add(off + length // 2)
        if tag == b"CFF ":
            points.update({off + 2, off + 6, off + min(length - 1, 200)})
    return sorted(p for p in points if 0 < p < size)


def run(tool, catalog, mode, files):
    result = subprocess.run([tool, "--catalog", catalog, "--read", mode, "--stats"] + files, capture_output=True,
                            text=True)
    if result.returncode != 0:
        raise RuntimeError("korv-identify --read %s exited with %d: %s" % (mode, result.returncode, result.stderr))
    return result.stdout.splitlines(), result.stderr.strip()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--identify", required=True)
    parser.add_argument("--catalog-tool", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()

    files = font_corpus.corpus_files()
    if not files:
        print("SKIP: no font files under %s" % ", ".join(font_corpus.FONT_ROOTS))
        return SKIP
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)

    description = os.path.join(args.work, "catalog.txt")
    listed = font_corpus.write_catalog_description(files, description)
    catalog = os.path.join(args.work, "FontCat.awfc")
    subprocess.run([args.catalog_tool, description, catalog], check=True)

    # Truncated copies of every fifth font.
    cut = []
    for i, path in enumerate(files[::5]):
        with open(path, "rb") as f:
            data = f.read()
        base, extension = os.path.splitext(os.path.basename(path))
        for point in cut_points(path):
            out = os.path.join(args.work, "%s-%d%s" % (base, point, extension))
            with open(out, "wb") as f:
                f.write(data[:point])
            cut.append(out)

    every = files + cut
    ranges, ranges_stats = run(args.identify, catalog, "ranges", every)
    whole, whole_stats = run(args.identify, catalog, "whole", every)

    differences = 0
    statuses = {}
    for a, b in zip(ranges, whole):
        if a != b:
            differences += 1
            print("DIFFERENT\n  ranges: %s\n  whole:  %s" % (a, b))
        key = a.split("\t")[0]
        statuses[key] = statuses.get(key, 0) + 1
    if len(ranges) != len(every) or len(whole) != len(every):
        print("FAILED: %d and %d lines for %d files" % (len(ranges), len(whole), len(every)))
        return 1
    matched = sum(1 for line in ranges if line.split("\t")[1] != "-1")
    print("%d corpus files (%d listed in the catalog), %d truncated copies" % (len(files), listed, len(cut)))
    print("statuses: " + ", ".join("%s: %d" % kv for kv in sorted(statuses.items())))
    print("files with a catalog match: %d" % matched)
    print("ranges: " + ranges_stats)
    print("whole:  " + whole_stats)
    print("%d differences" % differences)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
