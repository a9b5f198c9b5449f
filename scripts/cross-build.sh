#!/usr/bin/env bash
# Cross-builds the Windows programs and the portable libraries for x86 and x64.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${CROSS_PACKAGES[@]}"
for preset in mingw-i686 mingw-x64; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
done
