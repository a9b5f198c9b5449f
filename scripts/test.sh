#!/usr/bin/env bash
# One command from a fresh clone: install what is missing, build, run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${GPSD_PACKAGES[@]}" \
    "${TIME_PACKAGES[@]}" "${BROWSER_PACKAGES[@]}"

cmake --preset native
cmake --build --preset native

# Tests that read the receiver recordings skip without them (CI sets TAVRO_REQUIRE_CORPUS=1,
# which makes them fail instead).
corpus="${TAVRO_CORPUS_DIR:-$(grep -m1 '^TAVRO_CORPUS_DIR:' build/native/CMakeCache.txt | cut -d= -f2-)}"
if [ ! -d "$corpus/gpsd" ]; then
    echo "Note: the receiver recordings are not in $corpus; the tests that read them are" \
        "skipped (set TAVRO_CORPUS_DIR to the corpus folder)."
fi
ctest --preset native "$@"
