#!/usr/bin/python3
"""Identification of the whole font corpus: bytes read and wall time, in one paired run.

Three programs go over the same files, each as a whole process:
  ranges  korv-identify reading only the byte ranges the identification examines (what the tool does);
  whole   korv-identify reading each candidate file whole;
  fc-scan fontconfig's scanner (FreeType), which opens every face of every file.
Each round runs the three in turn, warm (page cache filled by a run before) and cold (every corpus file
dropped from the page cache with posix_fadvise(DONTNEED) before the run). The report gives medians over the
rounds, the bytes each process asked of the system (rchar) and read from storage (read_bytes), and, for the
ranges run, the ratio of bytes read to the bytes of the structures the identification examines: offset
tables, table directories and `name` tables, and the CFF header with its Name, Top DICT, String and Global
Subr INDEXes (counts and offsets; the two elements used), as read here independently in Python.

usage: identify_corpus.py --identify build/release/tools/identify/korv-identify
                          --catalog-tool build/release/tools/catalog/korv-catalog [--rounds 5]
"""

import argparse
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import font_corpus  # noqa: E402


def own_io():
    """This process's I/O counters, which include those of the children it has waited for."""
    values = {}
    with open("/proc/self/io") as f:
        for line in f:
            key, value = line.split(":")
            values[key] = int(value)
    return values


def drop_cache(files):
    for path in files:
        fd = os.open(path, os.O_RDONLY)
        try:
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)


def timed(command):
    before = own_io()
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    elapsed = time.perf_counter() - start
    after = own_io()
    return elapsed, after["rchar"] - before["rchar"], after["read_bytes"] - before["read_bytes"]


def index_parts(cff, pos):
    """(bytes of count, offSize and offsets, length of element 0, total size) of the CFF INDEX at pos;
    total size None when the INDEX is malformed."""
    if pos + 2 > len(cff):
        return 0, 0, None
    count = struct.unpack_from(">H", cff, pos)[0]
    if count == 0:
        return 2, 0, 2
    off_size = cff[pos + 2] if pos + 2 < len(cff) else 0
    head = 3 + (count + 1) * off_size
    if off_size < 1 or off_size > 4 or pos + head > len(cff):
        return min(3, len(cff) - pos), 0, None

    def offset(i):
        at = pos + 3 + i * off_size
        return int.from_bytes(cff[at:at + off_size], "big")

    return head, offset(1) - offset(0), head + offset(count) - 1


def examined_bytes(path):
    """Bytes of the structures the identification examines in one file (0 for kinds it does not examine)."""
    with open(path, "rb") as f:
        head = f.read(16)
        if len(head) < 16:
            return 0
        offset = 0
        if head[:4] == b"ttcf":
            offset = struct.unpack(">I", head[12:16])[0]
        f.seek(offset)
        table = f.read(12)
        if len(table) < 12 or table[:4] not in (b"\x00\x01\x00\x00", b"true", b"OTTO"):
            return 0
        if head[:4] == b"ttcf" and table[:4] == b"OTTO":
            return 0  # a collection of CFF fonts is refused after the header test
        count = struct.unpack(">H", table[4:6])[0]
        records = f.read(16 * count)
        total = 12 + 16 * count
        for i in range(len(records) // 16):
            tag, _, off, length = struct.unpack_from(">4sIII", records, 16 * i)
            if tag == b"name":
                total += length
            elif tag == b"CFF " and table[:4] == b"OTTO":
                f.seek(off)
                cff = f.read(length)
                total += 4
                pos = cff[2] if len(cff) > 2 else 0
                for n in range(4):  # Name and Top DICT with their element 0; String and Global Subr offsets
                    head, element, size = index_parts(cff, pos)
                    total += head + (element if n < 2 else 0)
                    if size is None:
                        break
                    pos += size
        return total


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--identify", required=True)
    parser.add_argument("--catalog-tool", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    files = font_corpus.corpus_files()
    if not files:
        print("no font files; install the corpus: apt-get install " + " ".join(font_corpus.BENCH_PACKAGES))
        return 1
    missing = [p for p in font_corpus.BENCH_PACKAGES
               if subprocess.run(["dpkg-query", "-W", "-f=${Status}", p], capture_output=True,
                                 text=True).stdout.find("install ok installed") < 0]
    size = sum(os.path.getsize(p) for p in files)
    print("corpus: %d files, %.1f MB%s" % (len(files), size / 1e6,
                                          "" if not missing else " (not installed: %s)" % " ".join(missing)))
    structures = sum(examined_bytes(p) for p in files)
    print("structures the identification examines: %.3f MB" % (structures / 1e6))

    work = tempfile.mkdtemp(prefix="korv-identify-bench-")
    description = os.path.join(work, "catalog.txt")
    font_corpus.write_catalog_description(files, description)
    catalog = os.path.join(work, "FontCat.awfc")
    subprocess.run([args.catalog_tool, description, catalog], check=True)

    commands = {
        "ranges": [args.identify, "--catalog", catalog, "--read", "ranges"] + files,
        "whole": [args.identify, "--catalog", catalog, "--read", "whole"] + files,
        "fc-scan": ["fc-scan", "--format", "%{file}\n"] + files,
    }
    results = {(name, temp): [] for name in commands for temp in ("warm", "cold")}
    for name, command in commands.items():
        timed(command)  # warm-up
    for _ in range(args.rounds):
        for name, command in commands.items():
            timed(command)  # fills the cache for the warm run
            results[(name, "warm")].append(timed(command))
            drop_cache(files)
            results[(name, "cold")].append(timed(command))

    print("\n%-8s %-5s %10s %12s %14s" % ("program", "cache", "wall ms", "rchar MB", "storage MB"))
    medians = {}
    for (name, temp), runs in results.items():
        wall = statistics.median(r[0] for r in runs) * 1000
        rchar = statistics.median(r[1] for r in runs) / 1e6
        storage = statistics.median(r[2] for r in runs) / 1e6
        medians[(name, temp)] = (wall, rchar)
        print("%-8s %-5s %10.1f %12.3f %14.3f" % (name, temp, wall, rchar, storage))

    print()
    for temp in ("warm", "cold"):
        ranges = medians[("ranges", temp)][0]
        print("%s: ranges is %.1fx faster than whole, %.1fx faster than fc-scan" %
              (temp, medians[("whole", temp)][0] / ranges, medians[("fc-scan", temp)][0] / ranges))
    ranges_bytes = medians[("ranges", "warm")][1] * 1e6
    print("bytes read by ranges / structures examined: %.2f (%.3f MB / %.3f MB; the catalog file included)" %
          (ranges_bytes / structures, ranges_bytes / 1e6, structures / 1e6))
    return 0


if __name__ == "__main__":
    sys.exit(main())
