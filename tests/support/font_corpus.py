"""The real font corpus of this machine, shared by tests and benchmarks.

The corpus is every .ttf, .otf and .ttc file that Debian's font packages install under /usr/share/fonts, plus
the Latin Modern OpenType fonts that fonts-lmodern installs under /usr/share/texmf (fontconfig finds them
there). Links are followed and each real file counts once. Which packages are installed decides what the
corpus holds: tools/run_tests.sh installs the test run's packages; the benchmarks name the larger set.

The names for catalogs are read here with a few lines of Python, independently of the code under test:
the Windows English full name (platform 3, encoding 1, language 0x0409, name ID 4) of a TrueType font or of
a TrueType collection's first font, and the CFF font name (element 0 of the Name INDEX) of an OpenType font.
"""

import os
import struct

FONT_ROOTS = ("/usr/share/fonts", "/usr/share/texmf/fonts/opentype")
EXTENSIONS = (".ttf", ".otf", ".ttc")

# The packages of the benchmark corpus: the test run's font packages and the larger set.
BENCH_PACKAGES = (
    "fonts-ipafont-gothic fonts-ipaexfont fonts-freefont-otf fonts-noto-cjk fonts-dejavu-core fonts-noto-core "
    "fonts-takao fonts-vlgothic fonts-lmodern fonts-wqy-zenhei fonts-wqy-microhei fonts-arphic-uming "
    "fonts-urw-base35 fonts-liberation2 fonts-noto-color-emoji").split()


def corpus_files(roots=FONT_ROOTS):
    """Sorted real paths of the corpus's font files."""
    seen = set()
    for root in roots:
        for folder, _, names in os.walk(root, followlinks=True):
            for name in names:
                if not name.lower().endswith(EXTENSIONS):
                    continue
                path = os.path.realpath(os.path.join(folder, name))
                if os.path.isfile(path):
                    seen.add(path)
    return sorted(seen)


def _u16(b, o):
    return struct.unpack_from(">H", b, o)[0]


def _u32(b, o):
    return struct.unpack_from(">I", b, o)[0]


def _directory(f, offset):
    f.seek(offset)
    head = f.read(12)
    if len(head) < 12:
        return None, []
    count = _u16(head, 4)
    raw = f.read(16 * count)
    records = []
    for i in range(len(raw) // 16):
        tag, _, off, length = struct.unpack_from(">4sIII", raw, 16 * i)
        records.append((tag.decode("latin-1"), off, length))
    return head[:4], records


def _table(f, records, tag):
    for t, off, length in records:
        if t == tag:
            f.seek(off)
            return f.read(length)
    return None


def _windows_english_full_name(name):
    if name is None or len(name) < 6:
        return None
    count, string_offset = _u16(name, 2), _u16(name, 4)
    for i in range(count):
        r = 6 + 12 * i
        if r + 12 > len(name):
            break
        platform, encoding, language, name_id, length, offset = struct.unpack_from(">6H", name, r)
        if (platform, encoding, language, name_id) == (3, 1, 0x409, 4):
            start = string_offset + offset
            text = name[start:start + length].decode("utf-16-be", "replace")
            return text[:127] or None
    return None


def _cff_font_name(cff):
    if cff is None or len(cff) < 4:
        return None
    pos = cff[2]
    count = _u16(cff, pos)
    if count == 0:
        return None
    off_size = cff[pos + 2]

    def offset(i):
        at = pos + 3 + i * off_size
        return int.from_bytes(cff[at:at + off_size], "big")

    data = pos + 3 + (count + 1) * off_size - 1
    raw = cff[data + offset(0):data + offset(1)]
    return raw.decode("latin-1") if 0 < len(raw) < 128 else None


def font_names(path):
    """(kind, name) of a corpus file: ('true', full name), ('OTTO', CFF name), or (None, None)."""
    with open(path, "rb") as f:
        head = f.read(16)
        if len(head) < 16:
            return None, None
        offset = _u32(head, 12) if head[:4] == b"ttcf" else 0
        version, records = _directory(f, offset)
        if version in (b"\x00\x01\x00\x00", b"true"):
            return "true", _windows_english_full_name(_table(f, records, "name"))
        if version == b"OTTO":
            return "OTTO", _cff_font_name(_table(f, records, "CFF "))
    return None, None


def write_catalog_description(files, path, every=2):
    """A catalog description (korv-catalog's text format) that lists every `every`-th font by its name,
    spread over groups 0 to 11 (group 7 among them, whose fonts are never listed). Returns the count."""
    lines = ["# the real font corpus, every %d. font listed" % every]
    tables = {}
    listed = 0
    for i, font in enumerate(files):
        if i % every:
            continue
        kind, name = font_names(font)
        if not kind or not name:
            continue
        group = listed % 12
        tables.setdefault((group, kind), []).append(name)
        listed += 1

    def quoted(text):
        return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'

    for (group, kind), names in sorted(tables.items()):
        lines.append("table %d %s" % (group, kind))
        for name in names:
            lines.append("entry")
            lines.append("    display = " + quoted(name))
            lines.append(("    postscript = " if kind == "OTTO" else "    fullname = ") + quoted(name))
    with open(path, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    return listed
