#!/usr/bin/python3
"""CPU time that korv.exe spends under Wine while it scans a large generated font tree.

While the worker thread scans, the main thread polls its message queue and the progress counters. This
measures what the whole process (and, apart, its main thread, and the Wine server that answers its message
calls) uses from the moment the progress dialog appears until the save dialog appears, so that programs can be
compared:

    tests/wine/measure_wait_cpu.py --build MINGW_BUILD_DIR --catalog-tool KORV_CATALOG \\
        [--files 10000] [--runs 3] LABEL=PATH/korv.exe [LABEL=PATH/korv.exe ...]

The machine is the end-to-end suite's (its Wine prefix under MINGW_BUILD_DIR/wine-e2e, its catalog and
fonts) plus FILES generated files in 100 folders of the system font folder: a few copies of real fonts, small
files named like fonts that are none, and other small files. Each run cancels the save dialog. CPU times are
user + system from /proc, in seconds; wall is the time between the two dialogs (polled every 50 ms).
"""

import argparse
import os
import shutil
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_e2e  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
REAL_FONTS = ["/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
              "/usr/share/fonts/opentype/freefont/FreeSerif.otf",
              "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"]


def cpu_seconds(stat_path):
    """User + system time of a process or thread from its stat file; None when it is gone."""
    try:
        with open(stat_path) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime and stime: fields 14 and 15


def wine_processes(prefix, name):
    """Unix process ids of the processes of Wine prefix `prefix` named `name` (Wine names a process after
    its program: korv.exe, not the launcher that was given its path)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as f:
                comm = f.read().strip()
            with open(f"/proc/{pid}/environ", "rb") as f:
                environment = f.read().split(b"\0")
        except OSError:
            continue
        if comm == name and ("WINEPREFIX=" + prefix).encode() in environment:
            found.append(int(pid))
    return found


def sample(pid, server):
    threads = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        value = cpu_seconds(f"/proc/{pid}/task/{tid}/stat")
        if value is not None:
            threads[int(tid)] = value
    return {"process": cpu_seconds(f"/proc/{pid}/stat"), "main": threads.get(pid, 0.0),
            "server": cpu_seconds(f"/proc/{server}/stat") if server else 0.0}


def generate_tree(root, count):
    shutil.rmtree(root, ignore_errors=True)
    real = [path for path in REAL_FONTS if os.path.isfile(path)]
    for n in range(count):
        folder = os.path.join(root, f"folder{n // 1000}", f"sub{(n // 100) % 10}")
        if n % 100 == 0:
            os.makedirs(folder)
        stem = os.path.join(folder, f"f{n}")
        if n % 333 == 0 and real:
            source = real[(n // 333) % len(real)]
            shutil.copy(source, stem + os.path.splitext(source)[1])
        else:
            with open(stem + (".ttf" if n % 2 else ".txt"), "wb") as f:
                f.write(bytes([n % 251]) * (600 + (n % 7) * 100))


def measure(suite, exe):
    suite.args.exe = exe
    suite.scenario = "measure"
    suite.launch()
    poll = 0.05
    deadline = time.monotonic() + 120
    while wine_e2e.TITLE_TOOL not in suite.titles():
        if time.monotonic() > deadline:
            raise RuntimeError("no progress dialog")
        time.sleep(poll)
    shown = time.monotonic()
    pids = wine_processes(suite.prefix, "korv.exe")
    servers = wine_processes(suite.prefix, "wineserver64") + wine_processes(suite.prefix, "wineserver")
    if len(pids) != 1:
        raise RuntimeError(f"korv.exe processes: {pids}")
    pid, server = pids[0], servers[0] if servers else None
    start = sample(pid, server)
    while wine_e2e.TITLE_SAVE_JA not in suite.titles():
        if time.monotonic() > deadline:
            raise RuntimeError("no save dialog")
        time.sleep(poll)
    wall = time.monotonic() - shown
    end = sample(pid, server)
    # Cancel; the dialog may take a moment before it takes keys, so Escape is pressed again until it goes.
    while wine_e2e.TITLE_SAVE_JA in suite.titles():
        if time.monotonic() > deadline:
            raise RuntimeError("the save dialog does not close")
        suite.key("Escape")
        time.sleep(0.5)
    suite.wait_ended()
    return {key: end[key] - start[key] for key in start} | {"wall": wall}


def describe(result):
    return (f"wall {result['wall']:6.2f} s  process CPU {result['process']:6.2f} s  main thread "
            f"{result['main']:6.2f} s  wine server {result['server']:6.2f} s")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True, help="the mingw build (its wine-e2e folder is used)")
    parser.add_argument("--catalog-tool", required=True)
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("programs", nargs="+", help="LABEL=PATH of a korv.exe")
    args = parser.parse_args()
    programs = [p.split("=", 1) for p in args.programs]
    helpers = os.path.join(args.build, "tests", "wine", "win32")
    suite_args = argparse.Namespace(exe=programs[0][1], probe=os.path.join(helpers, "korv-probe.exe"),
                                    win32_tests=os.path.join(helpers, "korv-win32-tests.exe"),
                                    catalog_tool=args.catalog_tool, work=os.path.join(args.build, "wine-e2e"),
                                    fresh=False, host="www.zelko.example")
    suite = wine_e2e.Suite(suite_args)
    suite.check_tools()
    tree = suite.drive("windows", "Fonts", "korv-measure")
    results = {label: [] for label, _ in programs}
    try:
        suite.prepare()
        suite.layout(wine_e2e.CATALOG_GOOD)
        generate_tree(tree, args.files)
        for run in range(args.runs):
            for label, exe in programs:  # interleaved, so that a drift of the machine hits all alike
                result = measure(suite, os.path.abspath(exe))
                results[label].append(result)
                print(f"run {run + 1} {label:>8}: " + describe(result), flush=True)
    finally:
        shutil.rmtree(tree, ignore_errors=True)
        suite.stop()
    print(f"median of {args.runs} runs over {args.files} generated files:")
    for label, runs in results.items():
        median = {key: statistics.median(r[key] for r in runs) for key in runs[0]}
        print(f"  {label:>8}: " + describe(median))
    return 0


if __name__ == "__main__":
    sys.exit(main())
