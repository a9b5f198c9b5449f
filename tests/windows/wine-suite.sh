#!/usr/bin/env bash
# CTest entry: cross-builds the x64 driver and the Win32 test programs, then runs them under
# Wine. Skips (77) when Wine or the mingw-w64 x64 compiler is not installed; fails when they
# are and anything breaks.
#
# wine-suite.sh <source directory> <work directory>
# TAVRO_WINE_BUILD=<dir> uses an existing mingw-x64 build directory instead of its own.
set -euo pipefail

source="$1"
work="$2"

if ! command -v wine >/dev/null 2>&1 || [ ! -x /usr/lib/wine/wine64 ]; then
    echo "SKIP: Wine (wine, wine64) is not installed"
    exit 77
fi
if ! command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then
    echo "SKIP: the mingw-w64 x64 compiler is not installed"
    exit 77
fi

mkdir -p "$work"
build="${TAVRO_WINE_BUILD:-$work/mingw-x64}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$source" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchain-mingw-x64.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >"$work/configure.log" 2>&1 ||
        { cat "$work/configure.log"; exit 1; }
fi
cmake --build "$build" --target tavro_wine_artifacts
exec "$source/tests/windows/run-wine-tests.sh" "$build" "$work/run"
