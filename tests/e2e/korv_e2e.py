#!/usr/bin/env python3
"""End-to-end scenarios of the `korv` program.

Each scenario lays out a temporary machine under one folder - a data folder (XDG_DATA_DIRS) holding the
catalog Quorvane/FontCat.awfc and the system font folder `fonts`, and a home folder (HOME) with a Desktop
and a per-user font folder .local/share/fonts - then runs the real binary with answers on standard input
and checks its exit code, what it printed and what it wrote.

usage: korv_e2e.py --korv PATH --catalog-tool PATH [--project-version VERSION] SCENARIO
Exit code 0 passed, 1 failed, 77 skipped (a font package is not installed).
"""

import argparse
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77

DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
DEJAVU_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
IPA_GOTHIC = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"
FREESANS = "/usr/share/fonts/opentype/freefont/FreeSans.otf"

# The catalog: DejaVu Sans and IPAGothic as TrueType entries (full names), FreeSans as an OpenType entry
# (PostScript name), DejaVu Sans Bold in group 7, which is never listed.
CATALOG = """\
table 1 true
entry
    display = DejaVu Sans
    postscript = DejaVuSans
    fullname = DejaVu Sans
entry
    display = IPA ゴシック
    postscript = IPAGothic
    fullname = IPAGothic
    fullname = IPAゴシック
table 2 OTTO
entry
    display = FreeSans
    postscript = FreeSans
    fullname = FreeSans
table 7 true
entry
    display = DejaVu Sans Bold
    postscript = DejaVuSans-Bold
    fullname = DejaVu Sans Bold
"""

TITLE = "ZELKO フォント移行ツール"
TEXTS = {
    130: "メモリが足りません。",
    131: "ファイルインターフェースエラーが発生しました。",
    132: "ZELKO アプリがないため抽出が実行されませんでした。",
    133: "エラーが発生しました。",
}
PROGRESS = "ZELKO フォントの検索中..."
SAVE_JA = "== フォントリストを保存 =="
SAVE_EN = "== Save a font list =="
INSTRUCTIONS = "== 新 ZELKO への移行手順 =="
PAGE = "https://www.zelko.example/fonts/lists"


class Skip(Exception):
    pass


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def font_list(*names):
    """The expected file bytes for the names, in order."""
    text = '{\n  "version": "1.0",\n  "fontlist": ['
    for i, name in enumerate(names):
        text += ("," if i else "") + '\n    {\n      "filename": "%s"\n    }' % name
    return (text + "\n  ]\n}\n").encode("utf-8")


class Machine:
    def __init__(self, args, root):
        self.args = args
        self.root = root
        self.share = os.path.join(root, "share")
        self.home = os.path.join(root, "home")
        self.fonts = os.path.join(self.share, "fonts")
        self.user_fonts = os.path.join(self.home, ".local", "share", "fonts")
        self.desktop = os.path.join(self.home, "Desktop")
        self.bin = os.path.join(root, "bin")
        for d in (self.share, self.fonts, self.desktop, self.bin):
            os.makedirs(d, exist_ok=True)
        # A stand-in for the desktop's opener: records the address it was asked to open.
        self.opened = os.path.join(root, "opened.txt")
        opener = os.path.join(self.bin, "xdg-open")
        with open(opener, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' % self.opened)
        os.chmod(opener, 0o755)

    def write_catalog(self, text=CATALOG, version=None):
        folder = os.path.join(self.share, "Quorvane")
        os.makedirs(folder, exist_ok=True)
        description = os.path.join(self.root, "catalog.txt")
        with open(description, "w", encoding="utf-8") as f:
            if version is not None:
                f.write("version 0x%08x\n" % version)
            f.write(text)
        subprocess.run([self.args.catalog_tool, description, os.path.join(folder, "FontCat.awfc")], check=True)

    def add_font(self, source, folder, name=None):
        if not os.path.exists(source):
            raise Skip("font not installed: " + source)
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, name or os.path.basename(source))
        shutil.copyfile(source, target)
        return target

    def run(self, answers, lang="ja_JP.UTF-8", limit_file_size=None, timeout=60, arguments=()):
        env = {
            "PATH": self.bin + ":/usr/bin:/bin",
            "XDG_DATA_DIRS": self.share,
            "HOME": self.home,
            "LC_ALL": lang,
        }

        def limits():
            if limit_file_size is not None:
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit_file_size, limit_file_size))

        started = time.monotonic()
        result = subprocess.run([self.args.korv, *arguments], input=answers.encode("utf-8"), env=env,
                                cwd=self.root, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=timeout, preexec_fn=limits)
        self.elapsed = time.monotonic() - started
        self.output = result.stdout.decode("utf-8")
        self.errors = result.stderr.decode("utf-8", "replace")
        print("--- exit %d, %.2f s, output:\n%s" % (result.returncode, self.elapsed, self.output))
        if self.errors:
            print("--- stderr:\n" + self.errors)
        return result.returncode

    def saved(self, name="FontsList.json"):
        path = os.path.join(self.desktop, name)
        with open(path, "rb") as f:
            return f.read()

    def message_shown(self, string_id):
        return ("[%s] %s" % (TITLE, TEXTS[string_id])) in self.errors

    def messages(self):
        return [i for i in TEXTS if self.message_shown(i)]


# ---------------------------------------------------------------------------------------------------------
# Scenarios. Each takes a Machine and raises Failure or Skip.

def scenario_success(m):
    m.write_catalog()
    m.add_font(DEJAVU, m.fonts)
    m.add_font(IPA_GOTHIC, os.path.join(m.fonts, "ipa"))
    m.add_font(DEJAVU_BOLD, m.fonts)  # group 7: not listed
    m.add_font(FREESANS, m.user_fonts)
    with open(os.path.join(m.fonts, "README.txt"), "w") as f:
        f.write("not a font")
    code = m.run("\nq\n")
    check(code == 0, "exit code %d" % code)
    check(m.saved() == font_list("DejaVuSans.ttf", "ipag.ttf", "FreeSans.otf"), "list: %r" % m.saved())
    check(PROGRESS in m.errors, "no progress shown")
    check(SAVE_JA in m.output, "no Japanese save title")
    check("ファイル名 [%s]: " % os.path.join(m.desktop, "FontsList.json") in m.output, "proposed path")
    check(INSTRUCTIONS in m.output and PAGE in m.output, "no instructions")
    check(m.messages() == [], "unexpected message")
    check(os.listdir(m.desktop) == ["FontsList.json"], "desktop: %r" % os.listdir(m.desktop))
    check(not os.path.exists(m.opened), "page opened without being asked")


def scenario_no_catalog(m):
    m.add_font(DEJAVU, m.fonts)
    code = m.run("q\n")
    check(code == 1, "exit code %d" % code)
    check(m.messages() == [132], "messages %r" % m.messages())
    check(INSTRUCTIONS in m.output, "instructions must follow")
    check(PROGRESS not in m.errors and SAVE_JA not in m.output, "no scan and no save dialog expected")
    check(os.listdir(m.desktop) == [], "nothing may be written")


def scenario_no_fonts_found(m):
    m.write_catalog()
    with open(os.path.join(m.fonts, "other.ttf"), "wb") as f:
        f.write(b"\0\1\0\0" + b"\0" * 600)  # looks like TrueType but is not in the catalog
    m.add_font(DEJAVU_BOLD, m.fonts)  # a catalog font of group 7
    code = m.run("q\n")
    check(code == 1, "exit code %d" % code)
    check(PROGRESS in m.errors, "the scan runs")
    check(m.messages() == [132], "messages %r" % m.messages())
    check(SAVE_JA not in m.output, "no save dialog expected")
    check(INSTRUCTIONS in m.output, "instructions must follow")
    check(os.listdir(m.desktop) == [], "nothing may be written")


def scenario_cancelled_save(m):
    m.write_catalog()
    m.add_font(DEJAVU, m.fonts)
    code = m.run("")  # end of input at the save prompt
    check(code == 2, "exit code %d" % code)
    check(SAVE_JA in m.output, "save dialog shown")
    check(m.messages() == [], "no message expected")
    check(INSTRUCTIONS not in m.output, "no instructions after a cancelled save")
    check(os.listdir(m.desktop) == [], "nothing may be written")


def scenario_failed_save_missing_folder(m):
    m.write_catalog()
    m.add_font(DEJAVU, m.fonts)
    target = os.path.join(m.root, "no-such-folder", "list.json")
    code = m.run(target + "\nq\n")
    check(code == 1, "exit code %d" % code)
    check(m.messages() == [131], "messages %r" % m.messages())
    check(INSTRUCTIONS not in m.output, "no instructions after a failed save")
    check(not os.path.exists(os.path.dirname(target)), "nothing created")


def scenario_failed_save_short_write(m):
    """The write stops short (file size limit): the old file stays as it was and no temporary is left."""
    m.write_catalog()
    m.add_font(DEJAVU, m.fonts)
    m.add_font(IPA_GOTHIC, m.fonts)
    old = b"previous list, left alone\n"
    with open(os.path.join(m.desktop, "FontsList.json"), "wb") as f:
        f.write(old)
    code = m.run("\ny\nq\n", limit_file_size=64)
    check(code == 1, "exit code %d" % code)
    check(m.messages() == [131], "messages %r" % m.messages())
    check(m.saved() == old, "old file changed: %r" % m.saved())
    check(os.listdir(m.desktop) == ["FontsList.json"], "left behind: %r" % os.listdir(m.desktop))


def scenario_existing_file_replaced(m):
    m.write_catalog()
    m.add_font(DEJAVU, m.fonts)
    with open(os.path.join(m.desktop, "FontsList.json"), "wb") as f:
        f.write(b"x" * 5000)  # longer than the new list: nothing of it may remain
    code = m.run("\ny\nq\n")
    check(code == 0, "exit code %d" % code)
    check("FontsList.json は既に存在します。" in m.output and "上書きしますか? [y/N]: " in m.output,
          "no overwrite question")
    check(m.saved() == font_list("DejaVuSans.ttf"), "list: %r" % m.saved()[:200])
    check(os.listdir(m.desktop) == ["FontsList.json"], "left behind: %r" % os.listdir(m.desktop))


def scenario_overwrite_declined(m):
    m.write_catalog()
    m.add_font(DEJAVU, m.fonts)
    with open(os.path.join(m.desktop, "FontsList.json"), "wb") as f:
        f.write(b"keep")
    code = m.run("\nn\nother\nq\n")
    check(code == 0, "exit code %d" % code)
    check(m.saved() == b"keep", "declined file changed")
    check(m.saved("other.json") == font_list("DejaVuSans.ttf"), "other.json")


def scenario_rejected_catalog(m):
    m.write_catalog(version=0x00030000)
    m.add_font(DEJAVU, m.fonts)
    code = m.run("\nq\n")
    check(code == 1, "exit code %d" % code)
    check(PROGRESS in m.errors, "the worker reads the catalog")
    check(m.messages() == [133], "messages %r" % m.messages())
    check(SAVE_JA not in m.output and INSTRUCTIONS not in m.output, "no save, no instructions")


def scenario_japanese_names(m):
    m.write_catalog()
    m.add_font(IPA_GOTHIC, os.path.join(m.fonts, "日本語"), "IPAゴシック.ttf")
    m.add_font(DEJAVU, os.path.join(m.user_fonts, "ユーザー"), "デジャヴ.ttf")
    code = m.run("\nq\n")
    check(code == 0, "exit code %d" % code)
    check(m.saved() == font_list("IPAゴシック.ttf", "デジャヴ.ttf"), "list: %r" % m.saved())


def scenario_both_roots(m):
    """A font in both roots is listed twice, the system folder first; dot folders are walked."""
    m.write_catalog()
    m.add_font(DEJAVU, m.user_fonts)
    m.add_font(DEJAVU, os.path.join(m.fonts, ".hidden"))
    m.add_font(FREESANS, os.path.join(m.fonts, "a"))
    m.add_font(IPA_GOTHIC, os.path.join(m.fonts, "b"))
    code = m.run("\nq\n")
    check(code == 0, "exit code %d" % code)
    # Subfolders are visited latest listed first: b, a, .hidden; then the user folder.
    check(m.saved() == font_list("ipag.ttf", "FreeSans.otf", "DejaVuSans.ttf", "DejaVuSans.ttf"),
          "list: %r" % m.saved())


def scenario_english_locale(m):
    m.write_catalog()
    m.add_font(DEJAVU, m.fonts)
    code = m.run("\nq\n", lang="en_US.UTF-8")
    check(code == 0, "exit code %d" % code)
    check(SAVE_EN in m.output and SAVE_JA not in m.output, "English save title expected")
    check(INSTRUCTIONS in m.output, "the other texts stay Japanese")


def scenario_login_page(m):
    m.write_catalog()
    m.add_font(DEJAVU, m.fonts)
    code = m.run("\n\nl\nq\n")  # save, then Enter and "l" each open the page
    check(code == 0, "exit code %d" % code)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if os.path.exists(m.opened) and open(m.opened).read().count("\n") >= 2:
            break
        time.sleep(0.05)
    check(os.path.exists(m.opened), "the page was not opened")
    check(open(m.opened).read() == PAGE + "\n" + PAGE + "\n", "opened: %r" % open(m.opened).read())


def scenario_special_files(m):
    """A FIFO, a dangling link and a link cycle in the font folder neither hang nor break the scan."""
    m.write_catalog()
    m.add_font(DEJAVU, os.path.join(m.fonts, "sub"))
    os.mkfifo(os.path.join(m.fonts, "pipe.ttf"))
    os.symlink(os.path.join(m.fonts, "gone.ttf"), os.path.join(m.fonts, "dangling.ttf"))
    os.symlink(m.fonts, os.path.join(m.fonts, "sub", "loop"))
    os.symlink(os.path.join(m.fonts, "sub", "DejaVuSans.ttf"), os.path.join(m.fonts, "linked.ttf"))
    code = m.run("\nq\n", timeout=30)
    check(code == 0, "exit code %d" % code)
    check(m.saved() == font_list("linked.ttf", "DejaVuSans.ttf"), "list: %r" % m.saved())


def scenario_version(m):
    """`korv --version` prints the project version and exits at once, on a machine where a run would find
    fonts: no scan, no dialog, nothing written."""
    check(m.args.project_version, "the project version is not given (--project-version)")
    m.write_catalog()
    m.add_font(DEJAVU, m.fonts)
    code = m.run("\nq\n", arguments=["--version"])
    check(code == 0, "exit code %d" % code)
    check(m.output == "korv %s\n" % m.args.project_version, "printed %r" % m.output)
    check(m.errors == "", "stderr: %r" % m.errors)
    check(os.listdir(m.desktop) == [], "desktop: %r" % os.listdir(m.desktop))


SCENARIOS = {name[len("scenario_"):]: fn for name, fn in globals().items() if name.startswith("scenario_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--korv", required=True)
    parser.add_argument("--catalog-tool", required=True)
    parser.add_argument("--project-version", help="the version that `korv --version` must print")
    parser.add_argument("scenario", choices=sorted(SCENARIOS) + ["all"])
    args = parser.parse_args()
    args.korv = os.path.abspath(args.korv)
    args.catalog_tool = os.path.abspath(args.catalog_tool)
    names = sorted(SCENARIOS) if args.scenario == "all" else [args.scenario]
    failed = skipped = 0
    for name in names:
        root = tempfile.mkdtemp(prefix="korv-e2e-")
        try:
            SCENARIOS[name](Machine(args, root))
            print("PASS " + name)
        except Skip as e:
            skipped += 1
            print("SKIP %s: %s" % (name, e))
        except Failure as e:
            failed += 1
            print("FAIL %s: %s" % (name, e))
        finally:
            shutil.rmtree(root, ignore_errors=True)
    if failed:
        return 1
    return SKIP if skipped == len(names) else 0


if __name__ == "__main__":
    sys.exit(main())
