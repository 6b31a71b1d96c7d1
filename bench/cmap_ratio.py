#!/usr/bin/env python3
"""Runs CmapBench several times and reports, for ascending and random code order, our lookups per second,
FreeType's, and their ratio in each run (both measured in the same run, one after the other), then the
median of each; the median parse time of one face's 'cmap'; and the median load time of one face from
memory, ours (loadFontFace) beside FreeType's (FT_New_Memory_Face), over every face both load.

    python3 bench/cmap_ratio.py BUILD_DIR/bench/CmapBench [--runs 5]
"""

import argparse
import json
import statistics
import subprocess


def one_run(binary):
    out = subprocess.run([binary, "--benchmark_format=json"], check=True, capture_output=True, text=True).stdout
    rates, parse_us, load_us = {}, None, {}
    for b in json.loads(out)["benchmarks"]:
        if b["name"].startswith("CmapLookup/"):
            _, who, order = b["name"].split("/")[:3]
            rates[(who, order)] = b["items_per_second"]
        elif b["name"].startswith("CmapParse/"):
            parse_us = 1e6 / b["items_per_second"]
        elif b["name"].startswith("FaceLoad/"):
            load_us[b["name"].split("/")[1]] = 1e6 / b["items_per_second"]
    return rates, parse_us, load_us


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    ratios = {"ascending": [], "random": []}
    ours = {"ascending": [], "random": []}
    theirs = {"ascending": [], "random": []}
    parses = []
    loads = {"ours": [], "freetype": []}
    for run in range(args.runs):
        rates, parse_us, load_us = one_run(args.binary)
        parses.append(parse_us)
        for who in loads:
            loads[who].append(load_us[who])
        line = ["run %d:" % (run + 1)]
        for order in ("ascending", "random"):
            o, t = rates[("ours", order)], rates[("freetype", order)]
            ours[order].append(o)
            theirs[order].append(t)
            ratios[order].append(o / t)
            line.append("%s ours %.1f M/s, FreeType %.1f M/s, ratio %.2f;" % (order, o / 1e6, t / 1e6, o / t))
        line.append("parse %.2f us/face;" % parse_us)
        line.append("load ours %.2f us/face, FreeType %.2f us/face" % (load_us["ours"], load_us["freetype"]))
        print(" ".join(line), flush=True)
    for order in ("ascending", "random"):
        print("median %s: ours %.1f M/s, FreeType %.1f M/s, ratio %.2f (runs: %s)" % (
            order, statistics.median(ours[order]) / 1e6, statistics.median(theirs[order]) / 1e6,
            statistics.median(ratios[order]), " ".join("%.2f" % r for r in ratios[order])))
    print("median parse of one face's 'cmap': %.2f us" % statistics.median(parses))
    o, t = statistics.median(loads["ours"]), statistics.median(loads["freetype"])
    print("median load of one face from memory: ours %.2f us, FreeType %.2f us, ratio %.2f" % (o, t, t / o))


if __name__ == "__main__":
    main()
