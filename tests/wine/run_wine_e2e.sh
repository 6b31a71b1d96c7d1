#!/usr/bin/env bash
# The end-to-end suite of the Windows program under Wine (see wine_e2e.py).
#
#   tests/wine/run_wine_e2e.sh [MINGW_BUILD_DIR] [--repeat N] [--fresh] [SCENARIO ...]
#
# MINGW_BUILD_DIR is the Windows cross-build (default: build/mingw, the mingw preset's), which holds korv.exe
# and the suite's Windows helpers. The Wine prefix, logs and screenshots go to MINGW_BUILD_DIR/wine-e2e. The
# catalog writer is a native tool: KORV_CATALOG_TOOL if set, else build/release's, else it is built in
# MINGW_BUILD_DIR/wine-e2e/native. Exit status 77: the suite cannot run here (skipped; 1 instead when
# KORV_REQUIRE_WINE is set).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build/mingw"
if [[ $# -gt 0 && "$1" != -* && -d "$1" ]]; then
    build="$(cd "$1" && pwd)"
    shift
fi
exe="$build/korv.exe"
helpers="$build/tests/wine/win32"
if [[ ! -f "$exe" || ! -f "$helpers/korv-probe.exe" || ! -f "$helpers/korv-win32-tests.exe" ]]; then
    echo "wine e2e: SKIPPED, no Windows build in $build (cmake --preset mingw && cmake --build --preset mingw)"
    [[ -n "${KORV_REQUIRE_WINE:-}" ]] && exit 1  # the full test run: a suite that cannot run fails
    exit 77
fi
work="$build/wine-e2e"
mkdir -p "$work"

catalog_tool="${KORV_CATALOG_TOOL:-}"
if [[ -z "$catalog_tool" && -x "$root/build/release/tools/catalog/korv-catalog" ]]; then
    catalog_tool="$root/build/release/tools/catalog/korv-catalog"
fi
if [[ -z "$catalog_tool" ]]; then
    native="$work/native"
    cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORV_TESTS=OFF >/dev/null
    cmake --build "$native" --target korv-catalog >/dev/null
    catalog_tool="$native/tools/catalog/korv-catalog"
fi

host="$(sed -n 's/^KORV_SERVICE_HOST:STRING=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"

# One suite at a time per Wine prefix.
exec 9>"$work/.lock"
flock 9

exec python3 "$root/tests/wine/wine_e2e.py" --exe "$exe" --probe "$helpers/korv-probe.exe" \
    --win32-tests "$helpers/korv-win32-tests.exe" --catalog-tool "$catalog_tool" --work "$work" \
    --host "${host:-www.zelko.example}" --project-version "$version" "$@"
