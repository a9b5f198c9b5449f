#!/usr/bin/env bash
# Fails when any C or C++ file differs from what clang-format makes of it, when the folders
# break the layout's rules (check-layout.py), or when the portable POSIX adapters stop building
# without Linux (check-portable-posix.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' '*.hpp' '*.c' | xargs -0 -r clang-format --dry-run -Werror
scripts/check-layout.py
scripts/check-portable-posix.sh
