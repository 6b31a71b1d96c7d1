#!/usr/bin/python3
"""End-to-end tests of the Windows program korv.exe, run for real under Wine in Xvfb and driven by xdotool.

Each scenario lays out the Wine prefix as a user's machine (catalog, fonts in the system and the per-user
font folders, desktop), starts korv.exe on a Wine desktop of its own, waits for each window it must show
(polling, never fixed sleeps), reads what is inside the windows with korv-probe.exe, answers as a user would
(keys, clicks), and checks what lands on disk and what the stand-in browser was asked to open. Screenshots of
every screen go to <work>/screens.

Exit status: 0 every scenario passed, 1 a scenario failed, 77 the suite cannot run here (a tool or a font
missing); ctest reports 77 as skipped.
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import time

# With KORV_REQUIRE_WINE set (the full test run), a suite that cannot run is a failure, not a skip.
SKIP = 1 if os.environ.get("KORV_REQUIRE_WINE") else 77

DESKTOP_SIZE = "1400x1000"
PARK_POINTER = (1390, 990)  # inside the Wine desktop, away from every window: keys go to Wine
WAIT = 40.0  # seconds for any one window to appear or go

TITLE_TOOL = "ZELKO フォント移行ツール"
TITLE_SAVE_JA = "フォントリストを保存"
TITLE_SAVE_EN = "Save a font list"
TITLE_INSTRUCTIONS = "新 ZELKO への移行手順"
STRINGS = {
    130: "メモリが足りません。",
    131: "ファイルインターフェースエラーが発生しました。",
    132: "ZELKO アプリがないため抽出が実行されませんでした。",
    133: "エラーが発生しました。",
}
PROGRESS_TEXT = "ZELKO フォントの検索中..."
INSTRUCTION_TEXTS = [
    "新 ZELKO を契約後、ログインの上、以下の手順にてお手続きください。",
    "【フォントリスト登録手順】",
    "フォント＞フォントリスト＞フォントリストをインポートからアップロードしてください。",
    "（新 ZELKO をご契約前のお客様はアカウント登録から必要となります）",
]
WS_SYSMENU = 0x00080000
WS_EX_APPWINDOW = 0x00040000
SS_BITMAP = 0x0E
TEAL = (14, 124, 134)

# Fonts from Debian's font packages: (package, candidates).
FONT_IPA_GOTHIC = ("fonts-ipafont-gothic", ["/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
                                            "/usr/share/fonts/truetype/ipafont-gothic/ipag.ttf"])
FONT_FREE_SERIF = ("fonts-freefont-otf", ["/usr/share/fonts/opentype/freefont/FreeSerif.otf"])
FONT_DEJAVU = ("fonts-dejavu-core", ["/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"])
FONT_BULK = ("fonts-ipaexfont-gothic", ["/usr/share/fonts/opentype/ipaexfont-gothic/ipaexg.ttf",
                                        "/usr/share/fonts/truetype/ipaexfont-gothic/ipaexg.ttf",
                                        "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf"])
# Files that keep the progress dialog up for seconds (the scan takes each one's name, extension and first
# bytes): links to a 6 MB font outside the catalog, and hard links to two small files that are no fonts, one
# named like a font, in folders of 100.
BULK_FONT_LINKS = 120
BULK_FOLDERS = 400

# The catalog: two installed fonts listed (a TrueType by its full names, an OpenType CFF font by its
# PostScript name) and one listed in group 7, which never goes into the list.
CATALOG_GOOD = """table 0 true
entry
    display = IPAゴシック
    postscript = IPAGothic
    fullname = IPAGothic
    fullname = IPAゴシック
table 1 OTTO
entry
    display = FreeSerif
    postscript = FreeSerif
    fullname = FreeSerif
table 7 true
entry
    display = DejaVu Sans
    postscript = DejaVuSans
    fullname = DejaVu Sans
"""
CATALOG_NO_MATCH = """table 0 true
entry
    display = 存在しない明朝
    postscript = Nonexistent-Mincho
    fullname = Nonexistent Mincho
"""
CATALOG_OLD_VERSION = "version 0x00030000\n" + CATALOG_GOOD

# Where the layout puts the fonts: system folder root, a subfolder (Japanese file name) and the per-user
# folder. The list holds them in walk order: the root's files, then its subfolders, then the second root.
EXPECTED_NAMES = ["ipag.ttf", "フリーセリフ.otf", "ipag.ttf"]


def font_list(names):
    """The font-list file for `names`, byte for byte."""
    text = '{\n  "version": "1.0",\n  "fontlist": ['
    for i, name in enumerate(names):
        text += ("," if i else "") + '\n    {\n      "filename": "' + name + '"\n    }'
    return (text + "\n  ]\n}\n").encode("utf-8")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def find_font(font):
    for path in font[1]:
        if os.path.isfile(path):
            return path
    return None


class ScenarioFailed(Exception):
    pass


class Suite:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        self.prefix = os.path.join(self.work, "prefix")
        self.locale_dir = os.path.join(self.work, "locale")
        self.logs = os.path.join(self.work, "logs")
        self.screens = os.path.join(self.work, "screens")
        self.browser_log = os.path.join(self.work, "browser.log")
        self.xvfb = None
        self.display = None
        self.launcher = None
        self.desktop = None
        self.desktop_count = 0
        self.seen = []  # (time, title) of every korv.exe window seen during a scenario
        self.seen_ids = set()
        self.scenario = ""
        self.fonts = {}

    # --- set-up ---------------------------------------------------------------------------------------------

    def check_tools(self):
        missing = [tool for tool in ("wine", "wineboot", "wineserver", "Xvfb", "xdotool", "localedef")
                   if not shutil.which(tool)]
        if not os.path.isfile("/usr/bin/import"):
            missing.append("import (imagemagick)")
        for path, what in ((self.args.exe, "korv.exe"), (self.args.probe, "korv-probe.exe"),
                           (self.args.win32_tests, "korv-win32-tests.exe"),
                           (self.args.catalog_tool, "korv-catalog")):
            if not path or not os.path.isfile(path):
                missing.append(f"{what} ({path})")
        for font in (FONT_IPA_GOTHIC, FONT_FREE_SERIF, FONT_DEJAVU, FONT_BULK):
            found = find_font(font)
            if not found:
                missing.append(f"a font of {font[0]}")
            self.fonts[font[0]] = found
        if not os.path.isdir("/usr/share/i18n/locales"):
            missing.append("locale sources (locales)")
        if missing:
            print("wine e2e: SKIPPED, missing: " + ", ".join(missing))
            sys.exit(SKIP)

    def base_env(self, locale="ja_JP.UTF-8"):
        env = dict(os.environ)
        for name in ("LANG", "LANGUAGE", "LC_MESSAGES", "LC_CTYPE"):
            env.pop(name, None)
        env.update(WINEPREFIX=self.prefix, WINEARCH="win64",
                   WINEDEBUG=os.environ.get("KORV_E2E_WINEDEBUG", "-all,err+all"),
                   WINEDLLOVERRIDES="mscoree,mshtml=", LOCPATH=self.locale_dir, LC_ALL=locale,
                   KORV_BROWSER_LOG=self.browser_log)
        if self.display:
            env["DISPLAY"] = self.display
        return env

    def run(self, command, env=None, timeout=120, log=None):
        with open(log or os.path.join(self.logs, "setup.log"), "ab") as out:
            subprocess.run(command, env=env or self.base_env(), stdout=out, stderr=subprocess.STDOUT,
                           timeout=timeout, check=True)

    def prepare(self):
        os.makedirs(self.logs, exist_ok=True)
        os.makedirs(self.screens, exist_ok=True)
        # UTF-8 locales of our own, so that Wine converts Japanese file names and titles, whatever the
        # machine has generated.
        for name, source in (("ja_JP.UTF-8", "ja_JP"), ("en_US.UTF-8", "en_US")):
            if not os.path.isdir(os.path.join(self.locale_dir, name)):
                os.makedirs(self.locale_dir, exist_ok=True)
                self.run(["localedef", "-i", source, "-f", "UTF-8", os.path.join(self.locale_dir, name)])
        self.make_prefix()
        self.start_xvfb()

    def make_prefix(self):
        stamp = os.path.join(self.prefix, ".korv-e2e-ready")
        if os.path.isfile(stamp) and not self.args.fresh:
            return
        started = time.monotonic()
        if os.path.isdir(self.prefix):
            subprocess.run(["wineserver", "-k"], env=self.base_env(), stderr=subprocess.DEVNULL)
            shutil.rmtree(self.prefix)
        browser = os.path.join(self.work, "browser.sh")
        with open(browser, "w") as f:
            f.write("#!/bin/sh\n# Stand-in for the web browser: records each address it is asked to open.\n"
                    '[ -n "$KORV_BROWSER_LOG" ] && printf \'%s\\n\' "$*" >> "$KORV_BROWSER_LOG"\nexit 0\n')
        os.chmod(browser, 0o755)
        registry = os.path.join(self.work, "prefix.reg")
        faces = '"MS UI Gothic"="IPAPGothic"\n"MS PGothic"="IPAPGothic"\n"MS Gothic"="IPAGothic"\n'
        with open(registry, "w") as f:
            f.write("REGEDIT4\n\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n" + faces + "\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\n" +
                    faces + "\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n\"ShowCrashDialog\"=dword:00000000\n\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\WineBrowser]\n\"Browsers\"=\"" + browser + "\"\n")
        env = self.base_env()
        env.pop("DISPLAY", None)
        self.run(["wineboot", "--init"], env=env, timeout=300)
        self.run(["wine", "regedit", "/S", windows_path(registry)], env=env)
        # Debian's Wine does not find its own fonts: without them captions and Latin text fall back.
        fonts = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
        for name in sorted(os.listdir("/usr/share/wine/fonts")):
            if name.endswith(".ttf"):
                shutil.copy(os.path.join("/usr/share/wine/fonts", name), fonts)
        # wineboot links the user's folders to $HOME: make them real folders inside the prefix.
        users = os.path.join(self.prefix, "drive_c", "users")
        for user in os.listdir(users):
            for name in os.listdir(os.path.join(users, user)):
                path = os.path.join(users, user, name)
                if os.path.islink(path):
                    os.unlink(path)
                    os.mkdir(path)
        self.run(["wineserver", "-w"], env=env, timeout=120)
        with open(stamp, "w") as f:
            f.write("ready\n")
        print(f"wine e2e: prefix made in {time.monotonic() - started:.1f} s")

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1600x1200x24",
                                      "-nolisten", "tcp"], pass_fds=(write_end,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode()

    def stop(self):
        self.kill_wine()
        if self.xvfb:
            self.xvfb.send_signal(signal.SIGTERM)
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None

    def kill_wine(self):
        # Every process of this prefix was started by the suite.
        subprocess.run(["wineserver", "-k"], env=self.base_env(), stderr=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL)
        if self.launcher and self.launcher.poll() is None:
            try:
                self.launcher.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.launcher.kill()
        self.launcher = None

    # --- the machine the program meets ---------------------------------------------------------------------

    def drive(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def user_dir(self, *parts):
        users = self.drive("users")
        user = next(name for name in sorted(os.listdir(users)) if name != "Public")
        return os.path.join(users, user, *parts)

    def desktop_dir(self):
        return self.user_dir("Desktop")

    def bulk_tree(self):
        """The many files of a long scan, made once and kept beside the prefix (on the same file system):
        a layout moves them into the font folder and out again."""
        tree = os.path.join(self.work, "bulk")
        stamp = os.path.join(tree, ".complete")
        if os.path.isfile(stamp):
            return tree
        shutil.rmtree(tree, ignore_errors=True)
        os.makedirs(tree)
        for i in range(BULK_FONT_LINKS):
            os.symlink(self.fonts["fonts-ipaexfont-gothic"], os.path.join(tree, f"b{i:03}.ttf"))
        samples = {".ttf": b"\x00\x01\x00\x00" + b"x" * 600, ".txt": b"not a font\n" * 60}
        for extension, content in samples.items():
            with open(os.path.join(tree, "sample" + extension), "wb") as f:
                f.write(content)
        for d in range(BULK_FOLDERS):
            folder = os.path.join(tree, f"d{d:03}")
            os.mkdir(folder)
            for i in range(100):
                extension = ".ttf" if i % 2 else ".txt"
                os.link(os.path.join(tree, "sample" + extension), os.path.join(folder, f"n{i:03}{extension}"))
        with open(stamp, "w") as f:
            f.write("complete\n")
        return tree

    def layout(self, catalog, bulk=False):
        """Resets the prefix to a machine with `catalog` (a description, or None) and the standard fonts."""
        shutil.rmtree(self.drive("ProgramData", "Quorvane"), ignore_errors=True)
        fonts = self.drive("windows", "Fonts")
        for name in ("ipag.ttf", "DejaVuSans.ttf", "notes.txt"):
            if os.path.lexists(os.path.join(fonts, name)):
                os.unlink(os.path.join(fonts, name))
        shutil.rmtree(os.path.join(fonts, "korv-sub"), ignore_errors=True)
        bulk_in_fonts = os.path.join(fonts, "korv-bulk")
        if os.path.isdir(bulk_in_fonts):
            kept = os.path.join(self.work, "bulk")
            if os.path.isfile(os.path.join(bulk_in_fonts, ".complete")) and not os.path.lexists(kept):
                os.rename(bulk_in_fonts, kept)
            else:
                shutil.rmtree(bulk_in_fonts)
        user_fonts = self.user_dir("AppData", "Local", "Microsoft", "Windows", "Fonts")
        shutil.rmtree(user_fonts, ignore_errors=True)
        desktop = self.desktop_dir()
        for name in os.listdir(desktop):
            path = os.path.join(desktop, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.unlink(path)
        if os.path.exists(self.browser_log):
            os.unlink(self.browser_log)

        shutil.copy(self.fonts["fonts-ipafont-gothic"], os.path.join(fonts, "ipag.ttf"))
        shutil.copy(self.fonts["fonts-dejavu-core"], os.path.join(fonts, "DejaVuSans.ttf"))
        with open(os.path.join(fonts, "notes.txt"), "w") as f:
            f.write("not a font\n")
        os.makedirs(os.path.join(fonts, "korv-sub"))
        shutil.copy(self.fonts["fonts-freefont-otf"], os.path.join(fonts, "korv-sub", "フリーセリフ.otf"))
        os.makedirs(user_fonts)
        shutil.copy(self.fonts["fonts-ipafont-gothic"], os.path.join(user_fonts, "ipag.ttf"))
        if bulk:
            os.rename(self.bulk_tree(), os.path.join(fonts, "korv-bulk"))
        if catalog is not None:
            folder = self.drive("ProgramData", "Quorvane")
            os.makedirs(folder)
            description = os.path.join(self.work, "catalog.txt")
            with open(description, "w", encoding="utf-8") as f:
                f.write(catalog)
            subprocess.run([self.args.catalog_tool, description, os.path.join(folder, "FontCat.awfc")],
                           check=True)

    # --- driving the program ------------------------------------------------------------------------------

    def launch(self, locale="ja_JP.UTF-8"):
        self.desktop_count += 1
        self.desktop = f"korv{os.getpid()}s{self.desktop_count}"
        self.seen = []
        self.seen_ids = set()
        self.started = time.monotonic()
        log = open(os.path.join(self.logs, f"{self.scenario}.log"), "ab")
        self.launcher = subprocess.Popen(["wine", "explorer", f"/desktop={self.desktop},{DESKTOP_SIZE}",
                                          windows_path(self.args.exe)], env=self.base_env(locale),
                                         stdout=log, stderr=subprocess.STDOUT)
        log.close()
        self.xdotool("mousemove", str(PARK_POINTER[0]), str(PARK_POINTER[1]))

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *args], env=self.base_env(), capture_output=True, text=True)
        return result.stdout

    def key(self, name):
        self.xdotool("key", name)

    def click(self, x, y):
        self.xdotool("mousemove", str(x), str(y), "click", "1")
        self.xdotool("mousemove", str(PARK_POINTER[0]), str(PARK_POINTER[1]))

    def titles(self):
        """Titles of the visible windows of korv.exe; each new window is recorded in `seen`."""
        found = []
        for window in self.xdotool("search", "--onlyvisible", "--class", "^korv\\.exe$").split():
            name = self.xdotool("getwindowname", window).rstrip("\n")
            if name:
                found.append(name)
                if window not in self.seen_ids:
                    self.seen_ids.add(window)
                    self.seen.append((time.monotonic() - self.started, name))
        return found

    def wait(self, condition, what, timeout=WAIT):
        deadline = time.monotonic() + timeout
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() > deadline:
                raise ScenarioFailed(f"timed out waiting for {what}; windows: {self.titles()}")
            time.sleep(0.1)

    def wait_title(self, title, count=1):
        return self.wait(lambda: self.titles().count(title) >= count, f'a window "{title}"')

    def probe(self):
        """The windows on the scenario's desktop and what is inside them (korv-probe.exe)."""
        out = os.path.join(self.work, "probe.json")
        if os.path.exists(out):
            os.unlink(out)
        with open(os.path.join(self.logs, f"{self.scenario}.log"), "ab") as log:
            subprocess.run(["wine", "explorer", f"/desktop={self.desktop},{DESKTOP_SIZE}",
                            windows_path(self.args.probe), windows_path(out)], env=self.base_env(),
                           stdout=log, stderr=subprocess.STDOUT, timeout=60)
        self.wait(lambda: os.path.exists(out), "the probe's report", timeout=20)
        with open(out, encoding="utf-8") as f:
            return json.load(f)

    def find_window(self, report, title, child=None):
        """The top-level window with `title` (and a child for which child(c) holds), or None."""
        for window in report["windows"]:
            if window["text"] == title and (child is None or any(child(c) for c in window["children"])):
                return window
        return None

    def wait_message_box(self, string_id):
        """Waits for the message box with string `string_id` and checks it; returns its window."""
        self.wait_title(TITLE_TOOL)

        def box():
            report = self.probe()
            return self.find_window(report, TITLE_TOOL, lambda c: c["class"] == "Static" and c["text"] in
                                    STRINGS.values())
        window = self.wait(box, f"the message box {string_id}")
        texts = [c["text"] for c in window["children"]]
        if STRINGS[string_id] not in texts:
            raise ScenarioFailed(f"message box shows {texts}, expected string {string_id}")
        return window

    def wait_ended(self):
        """Waits until the program has ended: no window left and its desktop closed."""
        self.wait(lambda: not self.titles(), "all windows to close")
        try:
            self.launcher.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            raise ScenarioFailed("the program did not end")
        self.launcher = None

    def screenshot(self, name, rect=None):
        path = os.path.join(self.screens, f"{self.scenario}-{name}.png")
        command = ["/usr/bin/import", "-window", "root"]
        if rect:
            left, top, right, bottom = rect
            command += ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
        subprocess.run(command + [path], env=self.base_env(), check=True, stderr=subprocess.DEVNULL)
        return path

    def pixel(self, image, x, y):
        out = subprocess.run(["/usr/bin/convert", image, "-crop", f"1x1+{x}+{y}", "-depth", "8", "rgb:-"],
                             capture_output=True, check=True).stdout
        return tuple(out[:3])

    def saw(self, title):
        return any(t == title for _, t in self.seen)

    # --- checks -------------------------------------------------------------------------------------------

    def check(self, condition, message):
        if not condition:
            raise ScenarioFailed(message)

    def check_progress_dialog(self, report):
        window = self.find_window(report, TITLE_TOOL, lambda c: c["class"] == "msctls_progress32")
        self.check(window is not None, "the progress dialog is not there while the scan runs")
        classes = [(c["class"].lower(), c["id"], c["text"]) for c in window["children"]]
        self.check(classes == [("transparentimage", 1002, "128"), ("static", -1, PROGRESS_TEXT),
                               ("msctls_progress32", 1000, "")], f"progress dialog controls: {classes}")
        self.check(not window["style"] & WS_SYSMENU, "the progress dialog has a close box")
        return window

    def check_save_dialog(self, title):
        report = self.probe()
        window = self.find_window(report, title, lambda c: c["class"] == "Edit")
        self.check(window is not None, f'no save dialog "{title}"')
        edits = [c["text"] for c in window["children"] if c["class"] == "Edit"]
        self.check("FontsList.json" in edits, f"proposed file name: {edits}")
        combos = [c["text"] for c in window["children"] if c["class"] == "ComboBox"]
        self.check("json(*.json)" in combos, f"file types: {combos}")
        return window

    def check_instructions(self, screenshot_name=None):
        report = self.probe()
        window = self.find_window(report, TITLE_INSTRUCTIONS)
        self.check(window is not None, "the instructions dialog is not there")
        # (The bitmap static's text is the bitmap's resource ordinal, not text: compared as None.)
        children = [(c["class"].lower(), c["id"], None if c["style"] & 0x1F == SS_BITMAP else c["text"])
                    for c in window["children"]]
        expected = [("transparentimage", 1003, "129")] + [("static", -1, t) for t in INSTRUCTION_TEXTS] + \
                   [("button", 1004, "ログイン"), ("static", -1, None), ("button", 2, "閉じる")]
        self.check(children == expected, f"instructions dialog controls: {children}")
        self.check(window["style"] & WS_SYSMENU and window["exstyle"] & WS_EX_APPWINDOW,
                   "the instructions dialog lacks its close box or taskbar button")
        if screenshot_name:
            shot = self.screenshot(screenshot_name, window["rect"])
            # The logo's white is not drawn: its corner shows the dialog's own background, its tile is teal.
            left, top = window["rect"][0], window["rect"][1]
            logo = window["children"][0]["rect"]
            corner = self.pixel(shot, logo[0] - left + 2, logo[1] - top + 2)
            background = self.pixel(shot, logo[0] - left - 4, logo[1] - top + 2)
            tile = self.pixel(shot, logo[0] - left + 40, logo[1] - top + 24)
            self.check(corner == background and corner != (255, 255, 255),
                       f"the logo's white is drawn: corner {corner}, background {background}")
            self.check(all(abs(a - b) < 8 for a, b in zip(tile, TEAL)), f"the logo's tile is {tile}")
        return window

    def browser_calls(self):
        if not os.path.exists(self.browser_log):
            return []
        with open(self.browser_log, encoding="utf-8") as f:
            return f.read().splitlines()

    def desktop_files(self):
        return sorted(os.listdir(self.desktop_dir()))

    def read_output(self):
        with open(os.path.join(self.desktop_dir(), "FontsList.json"), "rb") as f:
            return f.read()

    # --- scenarios ----------------------------------------------------------------------------------------

    def scenario_success(self):
        """Progress, save dialog (Japanese title, proposed file), the list byte for byte, instructions;
        Enter and the login button open the page and keep the dialog; Escape closes it."""
        self.layout(CATALOG_GOOD, bulk=True)
        self.launch()
        self.wait_title(TITLE_TOOL)
        progress = self.check_progress_dialog(self.probe())
        self.screenshot("progress", progress["rect"])

        self.wait_title(TITLE_SAVE_JA)
        save = self.check_save_dialog(TITLE_SAVE_JA)
        self.screenshot("save", save["rect"])
        self.key("Return")  # the proposed file on the desktop

        self.wait_title(TITLE_INSTRUCTIONS)
        self.check(self.read_output() == font_list(EXPECTED_NAMES), "the saved list differs")
        self.check(self.desktop_files() == ["FontsList.json"], f"desktop: {self.desktop_files()}")
        dialog = self.check_instructions("instructions")

        self.key("Return")
        self.wait(lambda: len(self.browser_calls()) >= 1, "Enter to open the page")
        self.check(TITLE_INSTRUCTIONS in self.titles(), "Enter closed the instructions dialog")
        login = dialog["children"][5]["rect"]
        self.click((login[0] + login[2]) // 2, (login[1] + login[3]) // 2)
        self.wait(lambda: len(self.browser_calls()) >= 2, "the login button to open the page")
        self.check(TITLE_INSTRUCTIONS in self.titles(), "the login button closed the instructions dialog")
        url = "https://" + self.args.host + "/fonts/lists"
        self.check(self.browser_calls() == [url, url], f"pages opened: {self.browser_calls()}")

        self.key("Escape")
        self.wait_ended()
        self.check(len(self.browser_calls()) == 2, "the page was opened again on closing")
        self.check(not self.saw(TITLE_SAVE_EN), "the English save title under locale 1041")

    def scenario_no_catalog(self):
        """No catalog: string 132, then the instructions dialog; no scan, no save dialog, no file. The close
        button ends it."""
        self.layout(None)
        self.launch()
        box = self.wait_message_box(132)
        self.screenshot("message", box["rect"])
        self.key("Return")
        self.wait_title(TITLE_INSTRUCTIONS)
        dialog = self.check_instructions()
        close = dialog["children"][7]["rect"]
        self.click((close[0] + close[2]) // 2, (close[1] + close[3]) // 2)
        self.wait_ended()
        self.check(not self.saw(TITLE_SAVE_JA), "a save dialog was shown")
        self.check(self.desktop_files() == [], f"desktop: {self.desktop_files()}")
        self.check(self.browser_calls() == [], "the page was opened")

    def scenario_no_catalog_font(self):
        """A catalog that lists none of the installed fonts: the scan runs, string 132, the instructions
        dialog; no save dialog. The caption's close box ends it."""
        self.layout(CATALOG_NO_MATCH)
        self.launch()
        self.wait_message_box(132)
        self.key("Return")
        self.wait_title(TITLE_INSTRUCTIONS)
        report = self.probe()
        dialog = self.find_window(report, TITLE_INSTRUCTIONS)
        left, top, right, _ = dialog["rect"]
        button_w, button_h = report["caption_button"]
        frame_x, frame_y = report["frame"]
        self.click(right - frame_x - button_w // 2 - 1, top + frame_y + button_h // 2)
        self.wait_ended()
        self.check(not self.saw(TITLE_SAVE_JA), "a save dialog was shown")
        self.check(self.desktop_files() == [], f"desktop: {self.desktop_files()}")

    def scenario_rejected_catalog(self):
        """A catalog of another version: string 133 and the program ends, no instructions."""
        self.layout(CATALOG_OLD_VERSION)
        self.launch()
        box = self.wait_message_box(133)
        self.screenshot("message", box["rect"])
        self.key("Return")
        self.wait_ended()
        self.check(not self.saw(TITLE_INSTRUCTIONS), "the instructions dialog was shown")
        self.check(not self.saw(TITLE_SAVE_JA), "a save dialog was shown")

    def scenario_save_cancelled(self):
        """Escape in the save dialog: no message box, no instructions dialog, no file."""
        self.layout(CATALOG_GOOD)
        self.launch()
        self.wait_title(TITLE_SAVE_JA)
        self.check_save_dialog(TITLE_SAVE_JA)
        cancelled = time.monotonic() - self.started
        self.key("Escape")
        self.wait_ended()
        after = [t for when, t in self.seen if when > cancelled and t != TITLE_SAVE_JA]
        self.check(after == [], f"windows after cancelling: {after}")
        self.check(self.desktop_files() == [], f"desktop: {self.desktop_files()}")

    def scenario_existing_file(self):
        """The proposed file exists: the overwrite question, then the file replaced entirely."""
        self.layout(CATALOG_GOOD)
        with open(os.path.join(self.desktop_dir(), "FontsList.json"), "wb") as f:
            f.write(b"old list\n" * 2000)
        self.launch()
        self.wait_title(TITLE_SAVE_JA)
        self.check_save_dialog(TITLE_SAVE_JA)
        self.key("Return")
        self.wait_title(TITLE_SAVE_JA, count=2)  # the question has the save dialog's title
        report = self.probe()
        question = self.find_window(report, TITLE_SAVE_JA, lambda c: c["class"] == "Button" and c["id"] == 6)
        self.check(question is not None, "no overwrite question")
        self.screenshot("overwrite", question["rect"])
        self.key("Return")  # yes
        self.wait_title(TITLE_INSTRUCTIONS)
        self.check(self.read_output() == font_list(EXPECTED_NAMES), "the file was not replaced entirely")
        self.check(self.desktop_files() == ["FontsList.json"], f"desktop: {self.desktop_files()}")
        self.key("Escape")
        self.wait_ended()

    def scenario_read_only_file(self):
        """The chosen file exists and may not be written: string 131, the program ends, the file and its
        folder are left as they were."""
        self.layout(CATALOG_GOOD)
        target = os.path.join(self.desktop_dir(), "FontsList.json")
        with open(target, "wb") as f:
            f.write(b"keep me\n")
        os.chmod(target, 0o444)
        self.launch()
        self.wait_title(TITLE_SAVE_JA)
        self.check_save_dialog(TITLE_SAVE_JA)
        self.key("Return")
        self.wait_title(TITLE_SAVE_JA, count=2)
        self.key("Return")  # yes, overwrite
        box = self.wait_message_box(131)
        self.screenshot("message", box["rect"])
        self.key("Return")
        self.wait_ended()
        with open(target, "rb") as f:
            self.check(f.read() == b"keep me\n", "the read-only file was changed")
        self.check(self.desktop_files() == ["FontsList.json"], f"left behind: {self.desktop_files()}")
        self.check(not self.saw(TITLE_INSTRUCTIONS), "the instructions dialog was shown")

    def scenario_cannot_create(self):
        """A destination where no file can be created: the chosen name is taken by a folder. The save dialog
        asks whether to overwrite it; then string 131, the program ends, and nothing is left behind (the
        list written beside the target is removed again)."""
        self.layout(CATALOG_GOOD)
        folder = os.path.join(self.desktop_dir(), "FontsList.json")
        os.mkdir(folder)
        with open(os.path.join(folder, "inside.txt"), "w") as f:
            f.write("untouched\n")
        self.launch()
        self.wait_title(TITLE_SAVE_JA)
        self.check_save_dialog(TITLE_SAVE_JA)
        self.key("ctrl+a")
        self.xdotool("type", "--delay", "20", "FontsList")  # the default extension makes it FontsList.json
        save = self.find_window(self.probe(), TITLE_SAVE_JA, lambda c: c["class"] == "Edit")
        edits = [c["text"] for c in save["children"] if c["class"] == "Edit"] if save else []
        self.check(edits == ["FontsList"], f"typed file name: {edits}")
        self.key("Return")
        self.wait_title(TITLE_SAVE_JA, count=2)
        self.key("Return")  # yes, overwrite
        box = self.wait_message_box(131)
        self.screenshot("message", box["rect"])
        self.key("Return")
        self.wait_ended()
        self.check(self.desktop_files() == ["FontsList.json"], f"left behind: {self.desktop_files()}")
        self.check(os.listdir(folder) == ["inside.txt"], f"the folder was changed: {os.listdir(folder)}")
        self.check(not self.saw(TITLE_INSTRUCTIONS), "the instructions dialog was shown")

    def scenario_save_through_link(self):
        """The proposed file is a symbolic link (a relative link to an absolute one, in another folder): the
        overwrite question, then the file at the end of the chain gets the list; both links stay links and
        no temporary file is left in either folder."""
        self.layout(CATALOG_GOOD)
        lists = self.user_dir("Documents", "korv-lists")
        shutil.rmtree(lists, ignore_errors=True)
        os.makedirs(lists)
        target = os.path.join(lists, "list-target.json")
        with open(target, "wb") as f:
            f.write(b"old list\n" * 2000)
        middle = os.path.join(lists, "middle.json")
        os.symlink(target, middle)
        link = os.path.join(self.desktop_dir(), "FontsList.json")
        os.symlink(os.path.join("..", "Documents", "korv-lists", "middle.json"), link)
        self.launch()
        self.wait_title(TITLE_SAVE_JA)
        self.check_save_dialog(TITLE_SAVE_JA)
        self.key("Return")
        self.wait_title(TITLE_SAVE_JA, count=2)  # the file exists: the overwrite question
        self.key("Return")  # yes
        self.wait_title(TITLE_INSTRUCTIONS)
        with open(target, "rb") as f:
            self.check(f.read() == font_list(EXPECTED_NAMES), "the link's target did not get the list")
        self.check(os.path.islink(link) and os.readlink(link) == os.path.join("..", "Documents", "korv-lists",
                                                                               "middle.json"),
                   "the desktop's link was replaced")
        self.check(os.path.islink(middle) and os.readlink(middle) == target, "the middle link was replaced")
        self.check(self.desktop_files() == ["FontsList.json"], f"desktop: {self.desktop_files()}")
        self.check(sorted(os.listdir(lists)) == ["list-target.json", "middle.json"],
                   f"left behind: {sorted(os.listdir(lists))}")
        self.key("Escape")
        self.wait_ended()
        shutil.rmtree(lists)

    def scenario_dangling_link(self):
        """The proposed file is a symbolic link into a folder that does not exist: string 131, the program
        ends; nothing is created, neither at the link nor at its target, and the link stays as it was."""
        self.layout(CATALOG_GOOD)
        missing = os.path.join(self.desktop_dir(), "korv-missing")
        link = os.path.join(self.desktop_dir(), "FontsList.json")
        os.symlink(os.path.join(missing, "FontsList.json"), link)
        self.launch()
        self.wait_title(TITLE_SAVE_JA)
        self.check_save_dialog(TITLE_SAVE_JA)
        self.key("Return")  # no overwrite question: the link leads nowhere
        box = self.wait_message_box(131)
        self.screenshot("message", box["rect"])
        self.key("Return")
        self.wait_ended()
        self.check(os.path.islink(link) and os.readlink(link) == os.path.join(missing, "FontsList.json"),
                   "the link was replaced")
        self.check(not os.path.lexists(missing), "the link's missing folder was created")
        self.check(self.desktop_files() == ["FontsList.json"], f"left behind: {self.desktop_files()}")
        self.check(not self.saw(TITLE_INSTRUCTIONS), "the instructions dialog was shown")

    def scenario_other_locale(self):
        """A user locale other than 1041: the save dialog's title is English; the rest stays Japanese."""
        self.layout(CATALOG_GOOD)
        self.launch(locale="en_US.UTF-8")
        self.wait_title(TITLE_SAVE_EN)
        save = self.check_save_dialog(TITLE_SAVE_EN)
        self.screenshot("save", save["rect"])
        self.key("Return")
        self.wait_title(TITLE_INSTRUCTIONS)
        self.check(self.read_output() == font_list(EXPECTED_NAMES), "the saved list differs")
        self.check_instructions()
        self.key("Escape")
        self.wait_ended()
        self.check(not self.saw(TITLE_SAVE_JA), "the Japanese save title under another locale")

    def make_links(self, base):
        """Symbolic links for the Windows tests' saves through links (korv-win32-tests.exe `links`);
        returns {link: what it points to}. `base` is C:\\korv-links."""
        shutil.rmtree(base, ignore_errors=True)
        real = os.path.join(base, "real")
        links = os.path.join(base, "links")
        # Final paths C:\korv-links\long\...\t-long.json of 245 units (within MAX_PATH, but not with a
        # temporary name beside it) and C:\korv-links\longer\...\t-longer.json of 300.
        long = os.path.join(base, "long", "a" * 100, "b" * 100, "c" * 12)
        longer = os.path.join(base, "longer", "a" * 100, "b" * 100, "c" * 63)
        for folder in (real, links, os.path.join(real, "sub.json"), long, longer):
            os.makedirs(folder)
        for name in ("t-abs.json", "t-rel.json", "t-chain.json", "t-folder.json", "readonly.json"):
            with open(os.path.join(real, name), "w") as f:
                f.write("old " + name + "\n" * 100)
        for path in (os.path.join(long, "t-long.json"), os.path.join(longer, "t-longer.json")):
            with open(path, "w") as f:
                f.write("old\n")
        os.chmod(os.path.join(real, "readonly.json"), 0o444)
        targets = {
            "abs.json": os.path.join(real, "t-abs.json"),
            "rel.json": "../real/t-rel.json",
            "chain.json": os.path.join(links, "chain-mid.json"),
            "chain-mid.json": "../real/t-chain.json",
            "viafolder": real,
            "readonly.json": os.path.join(real, "readonly.json"),
            "folder.json": os.path.join(real, "sub.json"),
            "long.json": os.path.join(long, "t-long.json"),
            "longer.json": os.path.join(longer, "t-longer.json"),
            "dangling-missing.json": os.path.join(base, "missing", "x.json"),
            "dangling-here.json": os.path.join(real, "absent.json"),
        }
        for name, target in targets.items():
            os.symlink(target, os.path.join(links, name))
        return targets

    def check_links(self, base, targets):
        links = os.path.join(base, "links")
        for name, target in targets.items():
            path = os.path.join(links, name)
            self.check(os.path.islink(path) and os.readlink(path) == target, f"the link {name} was changed")
        self.check(sorted(os.listdir(links)) == sorted(targets), f"links folder: {os.listdir(links)}")
        real = sorted(os.listdir(os.path.join(base, "real")))
        self.check(real == ["readonly.json", "sub.json", "t-abs.json", "t-chain.json", "t-folder.json",
                            "t-rel.json"], f"real folder: {real}")
        self.check(not os.path.lexists(os.path.join(base, "missing")), "the missing folder was created")

    def run_win32_tests(self, name, extra):
        """Runs korv-win32-tests.exe on a Wine desktop of its own with `extra` arguments; returns its report
        after checking that nothing failed."""
        self.desktop_count += 1
        report = os.path.join(self.work, f"win32-tests-{name}.txt")
        if os.path.exists(report):
            os.unlink(report)
        with open(os.path.join(self.logs, f"{self.scenario}.log"), "ab") as log:
            subprocess.run(["wine", "explorer", f"/desktop=korv{os.getpid()}u{self.desktop_count},{DESKTOP_SIZE}",
                            windows_path(self.args.win32_tests), windows_path(report)] + extra,
                           env=self.base_env(), stdout=log, stderr=subprocess.STDOUT, timeout=120)
        self.wait(lambda: os.path.exists(report), "the Windows tests' report", timeout=60)
        with open(report, encoding="utf-8") as f:
            text = f.read()
        print("    " + text.strip().replace("\n", "\n    "))
        self.check(text.rstrip().endswith("failed 0"), f"Windows tests ({name}) failed")
        return text

    def scenario_win32_units(self):
        """The Windows layer's own tests (transparent image, dialogs, platform port) on the real API."""
        link_base = self.drive("korv-links")
        link_targets = self.make_links(link_base)
        self.run_win32_tests("main", [])
        self.run_win32_tests("foreign-class", ["foreign-class"])
        self.run_win32_tests("links", ["links", "C:\\korv-links"])
        self.check_links(link_base, link_targets)
        shutil.rmtree(link_base)

    def scenario_version_info(self):
        """The program's version information as the shell's file properties read it: the build's project
        version in numbers and texts, the tool's title as product name and description, korv.exe as the
        original file name."""
        self.check(self.args.project_version, "the project version is not known (--project-version)")
        text = self.run_win32_tests("version", ["version", windows_path(self.args.exe)])
        values = dict(line[len("value "):].split("=", 1) for line in text.splitlines()
                      if line.startswith("value "))
        version = self.args.project_version
        numbers = (version.split(".") + ["0"] * 4)[:4]
        expected = {"ProductName": TITLE_TOOL, "FileDescription": TITLE_TOOL, "OriginalFilename": "korv.exe",
                    "FileVersion": version, "ProductVersion": version, "fixed": ".".join(numbers)}
        self.check(values == expected, f"version information: {values}, expected {expected}")


SCENARIOS = ["success", "no_catalog", "no_catalog_font", "rejected_catalog", "save_cancelled", "existing_file",
             "read_only_file", "cannot_create", "save_through_link", "dangling_link", "other_locale",
             "win32_units", "version_info"]


def main():
    parser = argparse.ArgumentParser(description="Wine end-to-end tests of korv.exe")
    parser.add_argument("--exe", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--win32-tests", required=True)
    parser.add_argument("--catalog-tool", required=True)
    parser.add_argument("--work", required=True, help="folder for the Wine prefix, logs and screenshots")
    parser.add_argument("--host", default="www.zelko.example", help="the build's service host")
    parser.add_argument("--project-version", help="the build's project version, which the program must carry")
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("--fresh", action="store_true", help="make a new Wine prefix")
    parser.add_argument("--prepare-only", action="store_true")
    parser.add_argument("scenarios", nargs="*", help=f"any of {', '.join(SCENARIOS)} (default: all)")
    args = parser.parse_args()
    names = [name.replace("-", "_") for name in args.scenarios] or SCENARIOS
    unknown = [name for name in names if name not in SCENARIOS]
    if unknown:
        parser.error(f"unknown scenario(s): {unknown}")

    suite = Suite(args)
    suite.check_tools()
    failures = 0
    started = time.monotonic()
    try:
        suite.prepare()
        if args.prepare_only:
            return 0
        for run in range(args.repeat):
            if args.repeat > 1:
                print(f"== run {run + 1} of {args.repeat}")
            for name in names:
                suite.scenario = name
                begin = time.monotonic()
                try:
                    getattr(suite, "scenario_" + name)()
                    print(f"  PASS {name:18} {time.monotonic() - begin:5.1f} s")
                except (ScenarioFailed, subprocess.SubprocessError, OSError) as error:
                    failures += 1
                    print(f"  FAIL {name:18} {time.monotonic() - begin:5.1f} s: {error}")
                    suite.screenshot("failure")
                    seen = ", ".join(f"{when:.1f}s {title}" for when, title in suite.seen)
                    print(f"       windows seen: {seen}")
                    suite.kill_wine()
                if suite.launcher:
                    suite.kill_wine()
    finally:
        suite.stop()
    print(f"wine e2e: {failures} failed, {time.monotonic() - started:.1f} s in all; screenshots in "
          f"{suite.screens}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
