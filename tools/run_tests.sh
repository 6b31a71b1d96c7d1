#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds every configuration and runs every test:
#   1. native release build (g++): unit, end-to-end, real-font and Wine end-to-end tests;
#   2. native debug build with ASan + UBSan (clang): the same tests, plus every fuzz corpus replayed;
#   3. native debug build with ThreadSanitizer (clang): the two-thread hand-off tests;
#   4. Windows cross-build (mingw-w64), whose real .exe the release run drives under Wine in Xvfb.
# KORV_SKIP_WINE=1 leaves out the Windows program and its suite (a quicker run on a developer machine).
# Exits non-zero when any build or test fails.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
jobs="${KORV_JOBS:-$(nproc)}"

packages=(
    cmake ninja-build g++ clang-14 libclang-rt-14-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
    python3 python3-fonttools libfreetype-dev libharfbuzz-dev pkg-config
    fonts-ipafont-gothic fonts-ipaexfont fonts-freefont-otf fonts-noto-cjk fonts-dejavu-core
)
if [[ -z "${KORV_SKIP_WINE:-}" ]]; then
    packages+=(wine wine64 fonts-wine g++-mingw-w64-x86-64-posix xvfb xdotool x11-utils imagemagick locales)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "== installing: ${missing[*]}"
    if [[ $(id -u) -ne 0 ]]; then
        echo "missing packages and not root: install them first" >&2
        exit 1
    fi
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# clang and clang++ by their plain names for the presets.
command -v clang++ >/dev/null || ln -sf "$(command -v clang++-14)" /usr/local/bin/clang++

status=0
run_preset() {
    local preset="$1"
    shift
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "== $preset: test"
    ctest --preset "$preset" -j "$jobs" "$@" || status=1
}

# The Windows program first: the release build's ctest runs its end-to-end suite under Wine.
if [[ -z "${KORV_SKIP_WINE:-}" ]]; then
    echo "== mingw: cross-build the Windows program"
    cmake --preset mingw >/dev/null
    cmake --build --preset mingw -j "$jobs"
    export KORV_REQUIRE_WINE=1
    run_preset release
else
    run_preset release -LE wine
fi
run_preset asan
run_preset tsan

if ((status)); then
    echo "SOME TESTS FAILED"
else
    echo "ALL TESTS PASSED"
fi
exit $status
