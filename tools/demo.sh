#!/bin/sh
# A demonstration run of the Linux program `korv` on a made-up machine:
#
#   <demo>/share/Quorvane/FontCat.awfc   a catalog written by korv-catalog       (XDG_DATA_DIRS=<demo>/share)
#   <demo>/share/fonts/...               real fonts of Debian's font packages    (the system font folder)
#   <demo>/home/.local/share/fonts/...   a font of the user, with a Japanese name (HOME=<demo>/home)
#   <demo>/home/Desktop                  where the list is proposed
#
# It builds the release preset when the programs are missing, installs the font packages (and the build
# tools) with apt when they are missing, runs korv accepting the proposed file and closing the instructions,
# and prints the saved list. Run from anywhere; as root on a fresh Debian 12, or with sudo available.
#
# Environment: KORV_DEMO_BUILD  build folder to use (default: <repo>/build/release, the release preset)
#              KORV_DEMO_KEEP=1 keep the demo folder afterwards
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${KORV_DEMO_BUILD:-$repo/build/release}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

apt_install() {
    echo "demo: installing $*" >&2
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@" >&2 ||
        { as_root apt-get update >&2 && as_root env DEBIAN_FRONTEND=noninteractive \
              apt-get install -y --no-install-recommends "$@" >&2; }
}

# Font packages, by one file of each.
missing=""
[ -f /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf ] || missing="$missing fonts-ipafont-gothic"
[ -f /usr/share/fonts/opentype/ipaexfont-gothic/ipaexg.ttf ] || missing="$missing fonts-ipaexfont"
[ -f /usr/share/fonts/opentype/freefont/FreeSans.otf ] || missing="$missing fonts-freefont-otf"
[ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || missing="$missing fonts-dejavu-core"
[ -z "$missing" ] || apt_install $missing

# The programs.
korv=$build/app/korv
catalog_tool=$build/tools/catalog/korv-catalog
if [ ! -x "$korv" ] || [ ! -x "$catalog_tool" ]; then
    tools=""
    command -v cmake >/dev/null 2>&1 || tools="$tools cmake"
    command -v ninja >/dev/null 2>&1 || tools="$tools ninja-build"
    command -v g++ >/dev/null 2>&1 || tools="$tools g++"
    # The release preset also configures the tests and benchmarks.
    dpkg -s libgtest-dev >/dev/null 2>&1 || tools="$tools libgtest-dev"
    dpkg -s libbenchmark-dev >/dev/null 2>&1 || tools="$tools libbenchmark-dev"
    [ -z "$tools" ] || apt_install $tools
    echo "demo: building korv and korv-catalog in $build" >&2
    if [ "$build" = "$repo/build/release" ]; then
        (cd "$repo" && cmake --preset release >&2 && cmake --build --preset release -j2 --target korv korv-catalog >&2)
    else
        cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
        cmake --build "$build" -j2 --target korv korv-catalog >&2
    fi
fi

demo=$(mktemp -d "${TMPDIR:-/tmp}/korv-demo.XXXXXX")
if [ "${KORV_DEMO_KEEP:-0}" != 1 ]; then trap 'rm -rf "$demo"' EXIT; fi
share=$demo/share
home=$demo/home
mkdir -p "$share/Quorvane" "$share/fonts/truetype" "$share/fonts/opentype/ipa" "$home/Desktop" \
         "$home/.local/share/fonts"

# The catalog: which fonts the desktop application delivers. TrueType fonts are found by full name,
# OpenType (CFF) fonts by PostScript name; group 7 is never listed.
cat > "$demo/catalog.txt" <<'EOF'
table 1 true
entry
    display = IPA ゴシック
    postscript = IPAGothic
    fullname = IPAGothic
    fullname = IPAゴシック
entry
    display = IPAex ゴシック
    postscript = IPAexGothic
    fullname = IPAexGothic
    fullname = IPAexゴシック
entry
    display = DejaVu Sans
    postscript = DejaVuSans
    fullname = DejaVu Sans
entry
    display = 未インストールの書体
    postscript = NotInstalled
    fullname = Not Installed
table 2 OTTO
entry
    display = FreeSans
    postscript = FreeSans
entry
    display = FreeSerif
    postscript = FreeSerif
table 7 true
entry
    display = DejaVu Sans Bold
    postscript = DejaVuSans-Bold
    fullname = DejaVu Sans Bold
EOF
"$catalog_tool" "$demo/catalog.txt" "$share/Quorvane/FontCat.awfc"

# The system font folder: links to the installed fonts, some in the catalog and some not.
for f in truetype/dejavu/DejaVuSans.ttf truetype/dejavu/DejaVuSans-Bold.ttf truetype/dejavu/DejaVuSerif.ttf; do
    ln -s "/usr/share/fonts/$f" "$share/fonts/truetype/"
done
for f in ipafont-gothic/ipag.ttf ipafont-gothic/ipagp.ttf ipaexfont-gothic/ipaexg.ttf; do
    ln -s "/usr/share/fonts/opentype/$f" "$share/fonts/opentype/ipa/"
done
for f in FreeSerif.otf FreeMono.otf; do
    ln -s "/usr/share/fonts/opentype/freefont/$f" "$share/fonts/opentype/"
done
echo "not a font" > "$share/fonts/README.txt"
# The user's own font folder: a copy under a Japanese name.
cp /usr/share/fonts/opentype/freefont/FreeSans.otf "$home/.local/share/fonts/フリーサンズ.otf"

echo "demo: machine in $demo"
echo "demo: running korv (Enter accepts the proposed file, q closes the instructions)"
status=0
printf '\nq\n' | env -i PATH="/usr/bin:/bin" XDG_DATA_DIRS="$share" HOME="$home" LC_ALL=ja_JP.UTF-8 "$korv" ||
    status=$?
echo
echo "demo: korv exited with $status; the saved list $home/Desktop/FontsList.json:"
cat "$home/Desktop/FontsList.json"
exit "$status"
