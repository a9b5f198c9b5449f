#!/usr/bin/env bash
# Fails when any C or C++ file differs from what clang-format makes of it, or when the portable
# POSIX adapters stop building without Linux.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' '*.hpp' '*.c' | xargs -0 -r clang-format --dry-run -Werror
scripts/check-portable-posix.sh
