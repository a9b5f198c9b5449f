#!/usr/bin/env bash
# Fails when any C or C++ file differs from what clang-format makes of it, when the folders
# break the layout's rules (check-layout.py), when the portable POSIX adapters stop building
# without Linux (check-portable-posix.sh), or when README.md and docs/ have a broken link or
# README.md stops being a short front door (check-docs.py).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' '*.hpp' '*.c' | xargs -0 -r clang-format --dry-run -Werror
scripts/check-layout.py
scripts/check-portable-posix.sh
scripts/check-docs.py
