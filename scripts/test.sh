#!/usr/bin/env bash
# One command from a fresh clone: install what is missing, build, run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${GPSD_PACKAGES[@]}"

cmake --preset native
cmake --build --preset native
ctest --preset native "$@"
